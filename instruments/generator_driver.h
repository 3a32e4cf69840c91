// One signal generator behind its link: what it is (Identity, learnt by Connect) and the few
// settings a step needs, each a command in the family's protocol with its reply awaited within
// a bounded time. Errors are kept as a code, a message naming the generator, and advice. The
// families (fy_driver.h, jds_driver.h, scpi_driver.h) keep their models' quirks in one table
// each. Blocking calls, used from one thread.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "ddfs.h"
#include "device_name.h"
#include "generator_link.h"
#include "step_output.h"

struct GeneratorIdentity {
  std::string Model;     // as the generator names itself ("FY6900-60M")
  std::string Firmware;  // empty when it does not say
  long double MaxFrequency = 0.0L;
  int Channels = 2;
  double MaxAmplitudeVpp = 0.0;     // peak to peak into a high impedance
  double MaxVolts = 0.0;            // |offset| + amplitude / 2 stays within it
  long double MaxGateHertz = 0.0L;  // the fastest gate switched by output on/off
  int CommandMs = 0;                // a setting's usual time, before it is measured
};

struct ChannelSetup {
  WaveShape Shape = wsSine;
  long double Hertz = 0.0L;
  double AmplitudeVpp = 0.0;
  double OffsetVolts = 0.0;
  int DutyPercent = 50;  // squares only
  int PhaseDegrees = 0;
};

class GeneratorDriver {
 public:
  virtual ~GeneratorDriver() = default;

  // The driver for the family the name gives, over the link it calls for.
  static std::unique_ptr<GeneratorDriver> Make(const DeviceName& name);
  // The same over a given link (tests, benchmarks).
  static std::unique_ptr<GeneratorDriver> Make(const DeviceName& name,
                                               std::unique_ptr<GeneratorLink> link);

  // Opens the link and learns the model and its limits; false with Error() when it is not a
  // generator of the family named.
  bool Connect();
  void Disconnect();
  bool Connected() const { return link_->IsOpen() && connected_; }
  const GeneratorIdentity& Identity() const { return identity_; }
  const std::string& Name() const { return name_text_; }
  const StepOutputError& Error() const { return error_; }

  // Shape, frequency, amplitude, offset, duty and phase of channel 1 or 2.
  virtual bool SetUp(int channel, const ChannelSetup& setup) = 0;
  virtual bool SetFrequency(int channel, long double hertz) = 0;
  // Channels 1 to channels on or off.
  virtual bool SetOutputs(bool on, int channels) = 0;
  virtual bool ReadFrequency(int channel, long double* hertz) = 0;
  // How far a frequency read back may lie from the one written.
  virtual long double ReadBackTolerance(long double hertz) const;

  // Each command as it goes out (a benchmark counts them).
  void SetCommandObserver(std::function<void(const std::string&)> observer) {
    observer_ = std::move(observer);
  }

 protected:
  GeneratorDriver(const DeviceName& name, std::unique_ptr<GeneratorLink> link, std::string line_end,
                  int reply_ms);

  // Learns identity_; called by Connect on an open link.
  virtual bool Identify() = 0;
  // Sends one command in one write and waits for its reply line.
  bool Exchange(const std::string& command, std::string* reply);
  // Sends one command that has no reply.
  bool Send(const std::string& command);
  bool Fail(StepOutputErrorCode code, std::string message, std::string advice);
  void ClearError() { error_ = {}; }
  // Fills identity_'s limits (two channels, as every model of the three families has).
  void SetLimits(long double max_frequency, double max_amplitude_vpp, double max_volts,
                 long double max_gate_hertz, int command_ms);

  DeviceName name_;
  std::string name_text_;
  GeneratorIdentity identity_;
  int reply_ms_;

 private:
  std::unique_ptr<GeneratorLink> link_;
  std::string line_end_;
  bool connected_ = false;
  StepOutputError error_;
  std::function<void(const std::string&)> observer_;
};

// What every model of the family can do, the lowest of each limit among its models: the limits a
// program and the settings are checked against before the generator itself is asked. Model names
// the family ("FY6x00").
GeneratorIdentity FamilyIdentity(GeneratorFamily family);

// The lowest of each limit in a family's table of models (each entry has MaxAmplitudeVpp and
// MaxVolts; hertz(entry) is its highest frequency).
template <typename Models, typename Hertz>
GeneratorIdentity LowestLimits(const char* family, const Models& models, Hertz hertz,
                               long double max_gate_hertz, int command_ms) {
  GeneratorIdentity lowest;
  lowest.Model = family;
  lowest.MaxGateHertz = max_gate_hertz;
  lowest.CommandMs = command_ms;
  bool first = true;
  for (const auto& entry : models) {
    const long double max_frequency = hertz(entry);
    lowest.MaxFrequency = first ? max_frequency : std::min(lowest.MaxFrequency, max_frequency);
    lowest.MaxAmplitudeVpp =
        first ? entry.MaxAmplitudeVpp : std::min(lowest.MaxAmplitudeVpp, entry.MaxAmplitudeVpp);
    lowest.MaxVolts = first ? entry.MaxVolts : std::min(lowest.MaxVolts, entry.MaxVolts);
    first = false;
  }
  return lowest;
}

// A number with decimals after a point, whatever the user's locale.
std::string FixedText(long double value, int decimals);
// A whole reply (blanks and a '+' around it allowed) read as a number.
bool ParseNumber(std::string_view text, long double* value);
