#include "generator_driver.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>

#include "fy_driver.h"
#include "jds_driver.h"
#include "scpi_driver.h"

GeneratorDriver::GeneratorDriver(const DeviceName& name, std::unique_ptr<GeneratorLink> link,
                                 std::string line_end, int reply_ms)
    : name_(name),
      name_text_(DeviceNameText(name)),
      reply_ms_(reply_ms),
      link_(std::move(link)),
      line_end_(std::move(line_end)) {}

std::unique_ptr<GeneratorDriver> GeneratorDriver::Make(const DeviceName& name) {
  return Make(name, MakeGeneratorLink(name));
}

std::unique_ptr<GeneratorDriver> GeneratorDriver::Make(const DeviceName& name,
                                                       std::unique_ptr<GeneratorLink> link) {
  switch (name.Family) {
    case GeneratorFamily::Fy:
      return std::make_unique<FyDriver>(name, std::move(link));
    case GeneratorFamily::Jds:
      return std::make_unique<JdsDriver>(name, std::move(link));
    case GeneratorFamily::Scpi:
      return std::make_unique<ScpiDriver>(name, std::move(link));
  }
  return nullptr;
}

GeneratorIdentity FamilyIdentity(GeneratorFamily family) {
  switch (family) {
    case GeneratorFamily::Fy:
      return FyFamilyIdentity();
    case GeneratorFamily::Jds:
      return JdsFamilyIdentity();
    case GeneratorFamily::Scpi:
      return ScpiFamilyIdentity();
  }
  return {};
}

bool GeneratorDriver::Connect() {
  ClearError();
  connected_ = false;
  std::string why;
  if (!link_->Open(&why)) {
    return Fail(StepOutputErrorCode::LinkLost, name_text_ + " cannot be opened: " + why,
                "Check that the generator is plugged in and on, and that you may use the port "
                "(the dialout group for serial ports).");
  }
  if (!Identify()) {
    link_->Close();
    return false;
  }
  connected_ = true;
  return true;
}

void GeneratorDriver::Disconnect() {
  link_->Close();
  connected_ = false;
}

long double GeneratorDriver::ReadBackTolerance(long double hertz) const {
  // Half the last digit written, or a millionth for values beyond the digits' reach.
  return std::max(0.0005L, hertz * 1e-9L);
}

bool GeneratorDriver::Exchange(const std::string& command, std::string* reply) {
  if (observer_) observer_(command);
  std::string why;
  link_->DiscardInput();
  if (!link_->Write(command + line_end_, reply_ms_, &why)) {
    connected_ = false;
    return Fail(StepOutputErrorCode::LinkLost, "the link to " + name_text_ + " broke: " + why,
                "Check the cable and that the generator is on.");
  }
  switch (link_->ReadLine(reply_ms_, reply, &why)) {
    case GeneratorLink::Read::Line:
      return true;
    case GeneratorLink::Read::Timeout:
      return Fail(StepOutputErrorCode::NoReply,
                  name_text_ + " gave no reply to " + command + " within " +
                      std::to_string(reply_ms_) + " ms",
                  "Check that the generator is on and not in a menu, and that the port is the "
                  "generator's.");
    case GeneratorLink::Read::Broken:
      break;
  }
  connected_ = false;
  return Fail(StepOutputErrorCode::LinkLost, "the link to " + name_text_ + " broke: " + why,
              "Check the cable and that the generator is on.");
}

bool GeneratorDriver::Send(const std::string& command) {
  if (observer_) observer_(command);
  std::string why;
  if (!link_->Write(command + line_end_, reply_ms_, &why)) {
    connected_ = false;
    return Fail(StepOutputErrorCode::LinkLost, "the link to " + name_text_ + " broke: " + why,
                "Check the cable and that the generator is on.");
  }
  return true;
}

void GeneratorDriver::SetLimits(long double max_frequency, double max_amplitude_vpp,
                                double max_volts, long double max_gate_hertz, int command_ms) {
  identity_.MaxFrequency = max_frequency;
  identity_.Channels = 2;
  identity_.MaxAmplitudeVpp = max_amplitude_vpp;
  identity_.MaxVolts = max_volts;
  identity_.MaxGateHertz = max_gate_hertz;
  identity_.CommandMs = command_ms;
}

bool GeneratorDriver::Fail(StepOutputErrorCode code, std::string message, std::string advice) {
  error_ = {code, std::move(message), std::move(advice)};
  return false;
}

std::string FixedText(long double value, int decimals) {
  char text[80];
  // to_chars, unlike printf, writes a point whatever LC_NUMERIC says.
  const auto result =
      std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
  return std::string(text, result.ptr);
}

bool ParseNumber(std::string_view text, long double* value) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '+')) text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (text.empty()) return false;
  const auto [end, problem] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return problem == std::errc() && end == text.data() + text.size();
}
