// The FeelTech FY6x00 family (FY6600, FY6800, FY6900) over its serial port, 115200 8N1. Each
// command is a line ending in '\n' and is answered with a line: an empty one for a setting, the
// value for a reading. Channel 1 takes WM* (WMW shape, WMF frequency, WMA amplitude in volts, WMO
// offset in volts, WMD duty in percent, WMP phase in degrees, WMN output), channel 2 the same as
// WF*; R instead of W reads a value (RMF), UMO names the model and UVE the firmware.
#pragma once

#include <memory>
#include <string>

#include "generator_driver.h"

// What differs between models and firmware.
struct FyModel {
  const char* ModelPrefix;     // UMO's reply starts with it
  const char* FirmwarePrefix;  // UVE's reply starts with it; "" for any
  long double MaxFrequency;    // when the model name carries no "-60M"-like suffix
  int SineNumber;              // WMW's numbers for the two shapes a program plays
  int SquareNumber;
  bool HertzWithPoint;  // WMF reads hertz with a decimal point, not 14-digit microhertz
  double MaxAmplitudeVpp;
  double MaxVolts;
};

// The first entry whose prefixes match the model and firmware; nullptr for none.
const FyModel* FindFyModel(const std::string& model, const std::string& firmware);
// What every FY6x00 can do (generator_driver.h's FamilyIdentity).
GeneratorIdentity FyFamilyIdentity();
// WMF's argument for a frequency as the model reads it.
std::string FyFrequencyText(const FyModel& model, long double hertz);
// The maximum a model name states ("FY6900-60M": 60 MHz); 0 when it states none.
long double FyNamedMaxFrequency(const std::string& model);

class FyDriver : public GeneratorDriver {
 public:
  FyDriver(const DeviceName& name, std::unique_ptr<GeneratorLink> link);

  bool SetUp(int channel, const ChannelSetup& setup) override;
  bool SetFrequency(int channel, long double hertz) override;
  bool SetOutputs(bool on, int channels) override;
  bool ReadFrequency(int channel, long double* hertz) override;
  long double ReadBackTolerance(long double hertz) const override;

 protected:
  bool Identify() override;

 private:
  bool Set(int channel, char what, const std::string& value);

  const FyModel* model_ = nullptr;
};
