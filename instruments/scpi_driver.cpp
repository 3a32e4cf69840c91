#include "scpi_driver.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <vector>

namespace {

// An instrument answers within milliseconds; a setting that changes relays may take longer.
constexpr int kReplyMs = 2000;
constexpr int kCommandMs = 20;
constexpr long double kMaxGateHertz = 10.0L;

// Each model's quirks; the first matching entry wins.
const ScpiModel kScpiModels[] = {
    // Siglent SDG1000X: basic-wave commands, no error queue over the raw socket.
    {"siglent", "SDG1", ScpiDialect::Siglent, 60e6L, false, 20.0, 10.0},
    // Siglent SDG2000X: the same commands, up to 120 MHz.
    {"siglent", "SDG2", ScpiDialect::Siglent, 120e6L, false, 20.0, 10.0},
    // Rigol DG1000Z: SOURn-prefixed commands and an error queue.
    {"rigol", "DG1022Z", ScpiDialect::Rigol, 25e6L, true, 20.0, 10.0},
    {"rigol", "DG1032Z", ScpiDialect::Rigol, 30e6L, true, 20.0, 10.0},
    {"rigol", "DG1062Z", ScpiDialect::Rigol, 60e6L, true, 20.0, 10.0},
    // Rigol DG1022 (without Z): channel 2 by a ":CH2" suffix.
    {"rigol", "DG1022", ScpiDialect::RigolLegacy, 20e6L, true, 20.0, 10.0},
};

std::vector<std::string> Fields(const std::string& text, char separator) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(separator, start);
    fields.push_back(text.substr(start, end - start));
    if (end == std::string::npos) return fields;
    start = end + 1;
  }
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string Trimmed(const std::string& text) {
  const size_t start = text.find_first_not_of(' ');
  const size_t end = text.find_last_not_of(' ');
  return start == std::string::npos ? "" : text.substr(start, end - start + 1);
}

}  // namespace

GeneratorIdentity ScpiFamilyIdentity() {
  return LowestLimits(
      "SCPI", kScpiModels, [](const ScpiModel& entry) { return entry.MaxFrequency; }, kMaxGateHertz,
      kCommandMs);
}

const ScpiModel* FindScpiModel(const std::string& identity, std::string* model_name,
                               std::string* firmware) {
  const std::vector<std::string> fields = Fields(identity, ',');
  if (fields.size() < 2) return nullptr;
  const std::string maker = Lower(fields[0]);
  const std::string model = Trimmed(fields[1]);
  for (const ScpiModel& entry : kScpiModels) {
    if (maker.find(entry.Maker) != std::string::npos && model.rfind(entry.ModelPrefix, 0) == 0) {
      *model_name = Trimmed(fields[0]) + " " + model;
      *firmware = fields.size() >= 4 ? Trimmed(fields[3]) : "";
      return &entry;
    }
  }
  return nullptr;
}

long double SiglentNamedMaxFrequency(const std::string& model) {
  if (model.size() < 7 || model.rfind("SDG", 0) != 0) return 0.0L;
  if (!std::isdigit(static_cast<unsigned char>(model[4])) ||
      !std::isdigit(static_cast<unsigned char>(model[5]))) {
    return 0.0L;
  }
  const int tens = (model[4] - '0') * 10 + (model[5] - '0');
  return static_cast<long double>(tens) * 10e6L;
}

ScpiDriver::ScpiDriver(const DeviceName& name, std::unique_ptr<GeneratorLink> link)
    : GeneratorDriver(name, std::move(link), "\n", kReplyMs) {}

bool ScpiDriver::Identify() {
  std::string reply;
  if (!Exchange("*IDN?", &reply)) return false;
  std::string model;
  std::string firmware;
  model_ = FindScpiModel(reply, &model, &firmware);
  if (model_ == nullptr) {
    return Fail(StepOutputErrorCode::NotOpen,
                name_text_ + " is '" + reply + "', not a generator zelkgen knows",
                "zelkgen drives Siglent SDG1000X/SDG2000X and Rigol DG1000Z/DG1022 generators.");
  }
  identity_.Model = model;
  identity_.Firmware = firmware;
  const long double named = model_->Dialect == ScpiDialect::Siglent
                                ? SiglentNamedMaxFrequency(Fields(reply, ',')[1])
                                : 0.0L;
  SetLimits(named > 0.0L ? named : model_->MaxFrequency, model_->MaxAmplitudeVpp, model_->MaxVolts,
            kMaxGateHertz, kCommandMs);
  return true;
}

bool ScpiDriver::SendAll(const std::vector<std::string>& commands) {
  for (const std::string& command : commands) {
    if (!Send(command)) return false;
  }
  std::string reply;
  if (!model_->HasSystemError) return Exchange("*OPC?", &reply);
  if (!Exchange("SYST:ERR?", &reply)) return false;
  long double code = 0.0L;
  const std::string number = reply.substr(0, reply.find(','));
  if (!ParseNumber(number, &code)) {
    return Fail(StepOutputErrorCode::Refused,
                name_text_ + " answered SYST:ERR? with '" + reply + "'",
                "Check that the instrument is a generator zelkgen knows.");
  }
  if (code != 0.0L) {
    return Fail(StepOutputErrorCode::Refused,
                name_text_ + " refused " + commands.back() + ": " + reply,
                "Check the amplitude and offset against the generator's limits.");
  }
  return true;
}

std::string ScpiDriver::FrequencyCommand(int channel, long double hertz) const {
  const std::string value = FixedText(hertz, 3);
  switch (model_->Dialect) {
    case ScpiDialect::Siglent:
      return "C" + std::to_string(channel) + ":BSWV FRQ," + value;
    case ScpiDialect::Rigol:
      return "SOUR" + std::to_string(channel) + ":FREQ " + value;
    case ScpiDialect::RigolLegacy:
      break;
  }
  return channel == 1 ? "FREQ " + value : "FREQ:CH2 " + value;
}

bool ScpiDriver::SetUp(int channel, const ChannelSetup& setup) {
  const bool square = setup.Shape == wsSquare;
  const std::string frequency = FixedText(setup.Hertz, 3);
  const std::string amplitude = FixedText(setup.AmplitudeVpp, 4);
  const std::string offset = FixedText(setup.OffsetVolts, 3);
  const std::string duty = std::to_string(setup.DutyPercent);
  const std::string phase = std::to_string(setup.PhaseDegrees);
  const std::string n = std::to_string(channel);
  std::vector<std::string> commands;
  switch (model_->Dialect) {
    case ScpiDialect::Siglent: {
      std::string basic = "C" + n + ":BSWV WVTP," + (square ? "SQUARE" : "SINE") + ",FRQ," +
                          frequency + ",AMP," + amplitude + ",OFST," + offset;
      if (square) basic += ",DUTY," + duty;
      commands = {basic + ",PHSE," + phase};
      break;
    }
    case ScpiDialect::Rigol:
      commands = {"SOUR" + n + ":APPL:" + (square ? "SQU " : "SIN ") + frequency + "," + amplitude +
                  "," + offset + "," + phase};
      if (square) commands.push_back("SOUR" + n + ":FUNC:SQU:DCYC " + duty);
      break;
    case ScpiDialect::RigolLegacy: {
      const std::string suffix = channel == 1 ? "" : ":CH2";
      commands = {std::string("APPL:") + (square ? "SQU" : "SIN") + suffix + " " + frequency + "," +
                  amplitude + "," + offset};
      if (square) commands.push_back("FUNC:SQU:DCYC" + suffix + " " + duty);
      commands.push_back("PHAS" + suffix + " " + phase);
      break;
    }
  }
  return SendAll(commands);
}

bool ScpiDriver::SetFrequency(int channel, long double hertz) {
  return SendAll({FrequencyCommand(channel, hertz)});
}

bool ScpiDriver::SetOutputs(bool on, int channels) {
  const char* state = on ? " ON" : " OFF";
  std::vector<std::string> commands;
  for (int channel = 1; channel <= channels; ++channel) {
    const std::string n = std::to_string(channel);
    switch (model_->Dialect) {
      case ScpiDialect::Siglent:
        commands.push_back("C" + n + ":OUTP" + state);
        break;
      case ScpiDialect::Rigol:
        commands.push_back("OUTP" + n + state);
        break;
      case ScpiDialect::RigolLegacy:
        commands.push_back(std::string(channel == 1 ? "OUTP" : "OUTP:CH2") + state);
        break;
    }
  }
  return SendAll(commands);
}

bool ScpiDriver::ReadFrequency(int channel, long double* hertz) {
  std::string reply;
  const std::string n = std::to_string(channel);
  std::string text;
  switch (model_->Dialect) {
    case ScpiDialect::Siglent: {
      if (!Exchange("C" + n + ":BSWV?", &reply)) return false;
      // "C1:BSWV WVTP,SINE,FRQ,1000HZ,...": the value after FRQ, its unit dropped.
      const size_t at = reply.find("FRQ,");
      if (at != std::string::npos) {
        text = reply.substr(at + 4, reply.find(',', at + 4) - at - 4);
        if (text.size() > 2 && Lower(text.substr(text.size() - 2)) == "hz") {
          text.resize(text.size() - 2);
        }
      }
      break;
    }
    case ScpiDialect::Rigol:
      if (!Exchange("SOUR" + n + ":FREQ?", &reply)) return false;
      text = reply;
      break;
    case ScpiDialect::RigolLegacy:
      if (!Exchange(channel == 1 ? "FREQ?" : "FREQ:CH2?", &reply)) return false;
      text = reply;
      break;
  }
  if (!ParseNumber(text, hertz)) {
    return Fail(StepOutputErrorCode::Refused,
                name_text_ + " answered the frequency query with '" + reply + "'",
                "Check that the instrument is a generator zelkgen knows.");
  }
  return true;
}
