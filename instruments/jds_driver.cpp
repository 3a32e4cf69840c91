#include "jds_driver.h"

#include <cmath>
#include <cstdlib>

namespace {

constexpr int kReplyMs = 500;
// Measured on units by their users: a setting and its ":ok" take some tens of milliseconds.
constexpr int kCommandMs = 50;
// One command switches both outputs: a gate can be a little faster than on the FY6x00.
constexpr long double kMaxGateHertz = 5.0L;

// Register numbers on a unit that numbers them as published.
constexpr int kOutputs = 20;
constexpr int kShape = 21;      // +1 for channel 2
constexpr int kFrequency = 23;  // +1 for channel 2
constexpr int kAmplitude = 25;
constexpr int kOffset = 27;
constexpr int kDuty = 29;
constexpr int kPhase = 31;

// Each model's quirks, by register 00's maximum frequency.
const JdsModel kJdsModels[] = {
    // The 15 to 60 MHz units: published register numbers; 20 V peak to peak at low frequency.
    {15, 20.0, 10.0, false, 80e3L},
    {30, 20.0, 10.0, false, 80e3L},
    {40, 20.0, 10.0, false, 80e3L},
    {50, 20.0, 10.0, false, 80e3L},
    {60, 20.0, 10.0, false, 80e3L},
    // Some 80 MHz units number their registers 10 lower.
    {80, 20.0, 10.0, true, 80e3L},
};

bool ParseRegisterReply(const std::string& reply, int reg, std::string* value) {
  const std::string head = ":r" + std::string(reg < 10 ? "0" : "") + std::to_string(reg) + "=";
  if (reply.rfind(head, 0) != 0 || reply.size() < head.size() + 1 || reply.back() != '.') {
    return false;
  }
  *value = reply.substr(head.size(), reply.size() - head.size() - 1);
  return true;
}

std::string RegisterText(int reg) {
  return (reg < 10 ? "0" : "") + std::to_string(reg);
}

bool ParseFrequencyPair(const std::string& text, long double* hertz) {
  const size_t comma = text.find(',');
  if (comma == std::string::npos) return false;
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (end != text.c_str() + comma) return false;
  const char* unit_text = text.c_str() + comma + 1;
  const long unit = std::strtol(unit_text, &end, 10);
  if (end == unit_text || *end != '\0') return false;
  return JdsHertz(value, static_cast<int>(unit), hertz);
}

}  // namespace

const JdsModel* FindJdsModel(int max_megahertz) {
  for (const JdsModel& entry : kJdsModels) {
    if (entry.MaxMegahertz == max_megahertz) return &entry;
  }
  return nullptr;
}

GeneratorIdentity JdsFamilyIdentity() {
  return LowestLimits(
      "JDS6600", kJdsModels,
      [](const JdsModel& entry) { return static_cast<long double>(entry.MaxMegahertz) * 1e6L; },
      kMaxGateHertz, kCommandMs);
}

JdsFrequency JdsFrequencyFor(const JdsModel& model, long double hertz) {
  const long long millihertz = std::llround(hertz * 1000.0L);
  if (millihertz % 10 != 0 && hertz <= model.MillihertzCeiling) return {millihertz * 100, 3};
  return {std::llround(hertz * 100.0L), 0};
}

bool JdsHertz(long long value, int unit, long double* hertz) {
  // Unit codes: 0 Hz, 1 kHz, 2 MHz, 3 mHz, 4 uHz; the value counts hundredths of the unit.
  static const long double kUnitHertz[] = {1.0L, 1e3L, 1e6L, 1e-3L, 1e-6L};
  if (unit < 0 || unit > 4) return false;
  *hertz = static_cast<long double>(value) / 100.0L * kUnitHertz[unit];
  return true;
}

JdsDriver::JdsDriver(const DeviceName& name, std::unique_ptr<GeneratorLink> link)
    : GeneratorDriver(name, std::move(link), "\r\n", kReplyMs), shift_(name.RegisterShift) {}

bool JdsDriver::ReadRegister(int reg, std::string* value) {
  std::string reply;
  if (!Exchange(":r" + RegisterText(reg) + "=0.", &reply)) return false;
  if (!ParseRegisterReply(reply, reg, value)) {
    return Fail(StepOutputErrorCode::Refused,
                name_text_ + " answered the reading of register " + RegisterText(reg) + " with '" +
                    reply + "'",
                "Check that the generator is a JDS6600 and the port is its own.");
  }
  return true;
}

bool JdsDriver::Identify() {
  std::string max_text;
  if (!ReadRegister(0, &max_text)) return false;
  model_ = FindJdsModel(std::atoi(max_text.c_str()));
  if (model_ == nullptr) {
    return Fail(
        StepOutputErrorCode::NotOpen,
        name_text_ + " reports a maximum of '" + max_text + "' MHz, which no JDS6600 model has",
        "Check that the generator is a JDS6600 and the port is its own.");
  }
  if (name_.RegisterShift == 0 && model_->MayNumberLower) {
    // Channel 1's frequency reads as "value,unit" where the unit numbers it; try both places.
    std::string value;
    long double hertz = 0.0L;
    shift_ = 0;
    if (!ReadRegister(kFrequency, &value) || !ParseFrequencyPair(value, &hertz)) {
      if (Error().Code == StepOutputErrorCode::LinkLost) return false;
      shift_ = 10;
      if (!ReadRegister(kFrequency - shift_, &value) || !ParseFrequencyPair(value, &hertz)) {
        return Fail(StepOutputErrorCode::NotOpen,
                    name_text_ + " reads no frequency at register 23 or 13",
                    "Name it jds: or jds10: to say how it numbers its registers.");
      }
    }
    ClearError();
  }
  identity_.Model = "JDS6600-" + std::to_string(model_->MaxMegahertz) + "M";
  if (shift_ != 0) identity_.Model += " (registers 10 lower)";
  SetLimits(static_cast<long double>(model_->MaxMegahertz) * 1e6L, model_->MaxAmplitudeVpp,
            model_->MaxVolts, kMaxGateHertz, kCommandMs);
  return true;
}

bool JdsDriver::Write(int reg, const std::string& value) {
  std::string reply;
  const std::string command = ":w" + RegisterText(reg - shift_) + "=" + value + ".";
  if (!Exchange(command, &reply)) return false;
  if (reply != ":ok") {
    return Fail(StepOutputErrorCode::Refused,
                name_text_ + " answered " + command + " with '" + reply + "'",
                "Check the amplitude and offset against the generator's limits.");
  }
  return true;
}

bool JdsDriver::SetUp(int channel, const ChannelSetup& setup) {
  const int second = channel - 1;
  // Offsets count hundredths of a volt from 1000 (0 V); duties and phases tenths.
  return Write(kShape + second, setup.Shape == wsSquare ? "1" : "0") &&
         SetFrequency(channel, setup.Hertz) &&
         Write(kAmplitude + second, std::to_string(std::lround(setup.AmplitudeVpp * 1000.0))) &&
         Write(kOffset + second, std::to_string(1000 + std::lround(setup.OffsetVolts * 100.0))) &&
         (setup.Shape != wsSquare ||
          Write(kDuty + second, std::to_string(setup.DutyPercent * 10))) &&
         (channel == 1 || Write(kPhase, std::to_string(setup.PhaseDegrees * 10)));
}

bool JdsDriver::SetFrequency(int channel, long double hertz) {
  const JdsFrequency frequency = JdsFrequencyFor(*model_, hertz);
  return Write(kFrequency + channel - 1,
               std::to_string(frequency.Value) + "," + std::to_string(frequency.Unit));
}

bool JdsDriver::SetOutputs(bool on, int channels) {
  const char* state = on ? "1" : "0";
  return Write(kOutputs, std::string(state) + "," + (channels == 2 ? state : "0"));
}

bool JdsDriver::ReadFrequency(int channel, long double* hertz) {
  std::string value;
  if (!ReadRegister(kFrequency + channel - 1 - shift_, &value)) return false;
  if (!ParseFrequencyPair(value, hertz)) {
    return Fail(StepOutputErrorCode::Refused,
                name_text_ + " read back '" + value + "' as channel " + std::to_string(channel) +
                    "'s frequency",
                "Check that the generator is a JDS6600.");
  }
  return true;
}
