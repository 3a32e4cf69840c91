// The JDS6600 family (JDS6600, Joy-IT JT-JDS6600, Koolertron GH-CJDS66) over its serial port,
// 115200 8N1. A setting is ":wNN=value[,value]." and a reading ":rNN=0.", each sent in one write
// ending in CR LF; a setting is answered ":ok", a reading ":rNN=value[,value].". Registers: 20
// the two outputs, 21/22 the shapes, 23/24 the frequencies (a value in hundredths of a unit and
// the unit's code), 25/26 amplitudes in millivolts, 27/28 offsets, 29/30 duties, 31 channel 2's
// phase; register 00 reads the maximum frequency in megahertz. Some 80 MHz units number every
// register 10 lower; "jds10:" names one, and Connect detects one otherwise.
#pragma once

#include <memory>
#include <string>

#include "generator_driver.h"

// What differs between models, told apart by their maximum frequency.
struct JdsModel {
  int MaxMegahertz;  // register 00's reply
  double MaxAmplitudeVpp;
  double MaxVolts;
  bool MayNumberLower;            // some units of this model number their registers 10 lower
  long double MillihertzCeiling;  // the highest frequency the millihertz unit code carries
};

const JdsModel* FindJdsModel(int max_megahertz);
// What every JDS6600 can do (generator_driver.h's FamilyIdentity).
GeneratorIdentity JdsFamilyIdentity();

// The value and unit code register 23 takes for a frequency: hundredths of a millihertz (code 3)
// where a thousandth of a hertz needs it and the model allows, else hundredths of a hertz (0).
struct JdsFrequency {
  long long Value;
  int Unit;
};
JdsFrequency JdsFrequencyFor(const JdsModel& model, long double hertz);
// The frequency such a value and unit stand for; false for an unknown unit code.
bool JdsHertz(long long value, int unit, long double* hertz);

class JdsDriver : public GeneratorDriver {
 public:
  JdsDriver(const DeviceName& name, std::unique_ptr<GeneratorLink> link);

  bool SetUp(int channel, const ChannelSetup& setup) override;
  bool SetFrequency(int channel, long double hertz) override;
  bool SetOutputs(bool on, int channels) override;
  bool ReadFrequency(int channel, long double* hertz) override;
  int RegisterShift() const { return shift_; }

 protected:
  bool Identify() override;

 private:
  bool Write(int reg, const std::string& value);
  bool ReadRegister(int reg, std::string* value);

  const JdsModel* model_ = nullptr;
  int shift_ = 0;
};
