// Bench generators that speak SCPI, over LAN (a raw socket, port 5025) or USB (/dev/usbtmcN):
// Siglent SDG1000X/SDG2000X and Rigol DG1000Z/DG1022. *IDN? names the maker and model, which
// choose the dialect. Settings have no reply; each group of them ends with a query (SYST:ERR?
// where the instrument has it, else *OPC?) so that a refused setting or a lost link shows at once.
#pragma once

#include <memory>
#include <string>

#include "generator_driver.h"

enum class ScpiDialect {
  Siglent,      // C1:BSWV WVTP,SINE,FRQ,...; C1:OUTP ON
  Rigol,        // SOUR1:APPL:SIN f,amp,offset,phase; SOUR1:FREQ f; OUTP1 ON
  RigolLegacy,  // the DG1022: APPL:SIN f,amp,offset and APPL:SIN:CH2 ...; OUTP:CH2 ON
};

struct ScpiModel {
  const char* Maker;        // in *IDN?'s first field, any case
  const char* ModelPrefix;  // *IDN?'s second field starts with it
  ScpiDialect Dialect;
  long double MaxFrequency;  // when the model's name does not state it
  bool HasSystemError;       // answers SYST:ERR?
  double MaxAmplitudeVpp;
  double MaxVolts;
};

// The entry for *IDN?'s reply; nullptr for an instrument not in the table.
const ScpiModel* FindScpiModel(const std::string& identity, std::string* model_name,
                               std::string* firmware);
// What every SCPI generator zelkgen knows can do (generator_driver.h's FamilyIdentity).
GeneratorIdentity ScpiFamilyIdentity();
// Siglent's model names carry the maximum in tens of megahertz ("SDG1032X": 30 MHz); 0 else.
long double SiglentNamedMaxFrequency(const std::string& model);

class ScpiDriver : public GeneratorDriver {
 public:
  ScpiDriver(const DeviceName& name, std::unique_ptr<GeneratorLink> link);

  bool SetUp(int channel, const ChannelSetup& setup) override;
  bool SetFrequency(int channel, long double hertz) override;
  bool SetOutputs(bool on, int channels) override;
  bool ReadFrequency(int channel, long double* hertz) override;

 protected:
  bool Identify() override;

 private:
  // Sends the settings, then the query that proves they were taken.
  bool SendAll(const std::vector<std::string>& commands);
  std::string FrequencyCommand(int channel, long double hertz) const;

  const ScpiModel* model_ = nullptr;
};
