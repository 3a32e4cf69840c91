#include "fy_driver.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// A reply comes within a few milliseconds; some units take up to about 250 ms for a write.
constexpr int kReplyMs = 1000;
constexpr int kCommandMs = 250;

// Each model's quirks. The first matching entry wins, so an entry for one firmware stands before
// the model's general one.
const FyModel kFyModels[] = {
    // The FY6900 adds two shapes to the list; sine and square keep 0 and 1.
    {"FY6900", "", 60e6L, 0, 1, false, 20.0, 10.0},
    // The FY6800: integer microhertz.
    {"FY6800", "", 60e6L, 0, 1, false, 20.0, 10.0},
    // The FY6600, the family's first: integer microhertz.
    {"FY6600", "", 60e6L, 0, 1, false, 20.0, 10.0},
    // An FY6x00 not named above: the common protocol, to be verified by the read-back.
    {"FY6", "", 30e6L, 0, 1, false, 20.0, 10.0},
};

// Output switching takes two commands a channel and a reply each: a few per second.
constexpr long double kMaxGateHertz = 2.0L;

}  // namespace

const FyModel* FindFyModel(const std::string& model, const std::string& firmware) {
  for (const FyModel& entry : kFyModels) {
    if (model.rfind(entry.ModelPrefix, 0) == 0 && firmware.rfind(entry.FirmwarePrefix, 0) == 0) {
      return &entry;
    }
  }
  return nullptr;
}

GeneratorIdentity FyFamilyIdentity() {
  return LowestLimits(
      "FY6x00", kFyModels, [](const FyModel& entry) { return entry.MaxFrequency; }, kMaxGateHertz,
      kCommandMs);
}

std::string FyFrequencyText(const FyModel& model, long double hertz) {
  if (model.HertzWithPoint) return FixedText(hertz, 6);
  char text[32];
  std::snprintf(text, sizeof text, "%014lld", static_cast<long long>(std::llround(hertz * 1e6L)));
  return text;
}

long double FyNamedMaxFrequency(const std::string& model) {
  const size_t dash = model.find('-');
  if (dash == std::string::npos) return 0.0L;
  char* end = nullptr;
  const long megahertz = std::strtol(model.c_str() + dash + 1, &end, 10);
  if (end == model.c_str() + dash + 1 || *end != 'M' || megahertz <= 0) return 0.0L;
  return static_cast<long double>(megahertz) * 1e6L;
}

FyDriver::FyDriver(const DeviceName& name, std::unique_ptr<GeneratorLink> link)
    : GeneratorDriver(name, std::move(link), "\n", kReplyMs) {}

bool FyDriver::Identify() {
  std::string model;
  if (!Exchange("UMO", &model)) return false;
  std::string firmware;
  // Not every firmware names itself: no reply leaves it unknown.
  if (!Exchange("UVE", &firmware)) {
    if (Error().Code == StepOutputErrorCode::LinkLost) return false;
    firmware.clear();
    ClearError();
  }
  model_ = FindFyModel(model, firmware);
  if (model_ == nullptr) {
    return Fail(StepOutputErrorCode::NotOpen,
                name_text_ + " answers as '" + model + "', not a generator of the FY6x00 family",
                "Name it by its own family (jds:, scpi:) or check the port.");
  }
  identity_.Model = model;
  identity_.Firmware = firmware;
  const long double named = FyNamedMaxFrequency(model);
  SetLimits(named > 0.0L ? named : model_->MaxFrequency, model_->MaxAmplitudeVpp, model_->MaxVolts,
            kMaxGateHertz, kCommandMs);
  return true;
}

bool FyDriver::Set(int channel, char what, const std::string& value) {
  std::string reply;
  const std::string command = std::string(channel == 1 ? "WM" : "WF") + what + value;
  return Exchange(command, &reply);
}

bool FyDriver::SetUp(int channel, const ChannelSetup& setup) {
  char shape[8];
  std::snprintf(shape, sizeof shape, "%02d",
                setup.Shape == wsSquare ? model_->SquareNumber : model_->SineNumber);
  return Set(channel, 'W', shape) && Set(channel, 'F', FyFrequencyText(*model_, setup.Hertz)) &&
         Set(channel, 'A', FixedText(setup.AmplitudeVpp, 4)) &&
         Set(channel, 'O', FixedText(setup.OffsetVolts, 3)) &&
         (setup.Shape != wsSquare || Set(channel, 'D', FixedText(setup.DutyPercent, 1))) &&
         Set(channel, 'P', FixedText(setup.PhaseDegrees, 3));
}

bool FyDriver::SetFrequency(int channel, long double hertz) {
  return Set(channel, 'F', FyFrequencyText(*model_, hertz));
}

bool FyDriver::SetOutputs(bool on, int channels) {
  for (int channel = 1; channel <= channels; ++channel) {
    if (!Set(channel, 'N', on ? "1" : "0")) return false;
  }
  return true;
}

bool FyDriver::ReadFrequency(int channel, long double* hertz) {
  std::string reply;
  if (!Exchange(channel == 1 ? "RMF" : "RFF", &reply)) return false;
  if (!ParseNumber(reply, hertz)) {
    return Fail(StepOutputErrorCode::Refused,
                name_text_ + " answered RMF with '" + reply + "', not a frequency",
                "Check that the generator is an FY6x00.");
  }
  return true;
}

long double FyDriver::ReadBackTolerance(long double hertz) const {
  // RMF's last five digits are not reliable (they come back modulo 2^16 microhertz).
  return std::max(0.07L, hertz * 1e-9L);
}
