#include "device_name.h"

#include <charconv>

namespace {

struct Prefix {
  const char* text;
  GeneratorFamily family;
  int register_shift;
};

const Prefix kPrefixes[] = {{"fy:", GeneratorFamily::Fy, 0},
                            {"jds:", GeneratorFamily::Jds, 0},
                            {"jds10:", GeneratorFamily::Jds, 10},
                            {"scpi:", GeneratorFamily::Scpi, 0}};

const Prefix* PrefixOf(const std::string& text) {
  for (const Prefix& prefix : kPrefixes) {
    if (text.rfind(prefix.text, 0) == 0) return &prefix;
  }
  return nullptr;
}

}  // namespace

bool LooksLikeGeneratorName(const std::string& text) {
  return PrefixOf(text) != nullptr;
}

bool ParseDeviceName(const std::string& text, DeviceName* name, std::string* error) {
  const Prefix* prefix = PrefixOf(text);
  if (prefix == nullptr) {
    *error =
        "'" + text + "' names no generator (fy:PORT, jds:PORT, scpi:ADDRESS or scpi:/dev/usbtmcN)";
    return false;
  }
  const std::string rest = text.substr(std::char_traits<char>::length(prefix->text));
  if (rest.empty()) {
    *error = "'" + text + "' lacks the port or address after the colon";
    return false;
  }
  DeviceName parsed;
  parsed.Family = prefix->family;
  parsed.RegisterShift = prefix->register_shift;
  if (rest.front() == '/') {
    parsed.Path = rest;
  } else if (parsed.Family != GeneratorFamily::Scpi) {
    *error = "'" + text + "': a serial generator is named by its port's path (/dev/ttyUSB0)";
    return false;
  } else {
    // host, host:port, an IPv6 address, or one in brackets with a port after them.
    std::string port;
    if (rest.front() == '[') {
      const size_t close = rest.find(']');
      if (close == std::string::npos || (close + 1 < rest.size() && rest[close + 1] != ':')) {
        *error = "'" + text + "': an address in brackets is [ADDRESS] or [ADDRESS]:PORT";
        return false;
      }
      parsed.Host = rest.substr(1, close - 1);
      if (close + 1 < rest.size()) port = rest.substr(close + 2);
    } else if (const size_t colon = rest.find(':');
               colon != std::string::npos && rest.find(':', colon + 1) == std::string::npos) {
      parsed.Host = rest.substr(0, colon);
      port = rest.substr(colon + 1);
    } else {
      parsed.Host = rest;
    }
    if (!port.empty() || rest.back() == ':') {
      int value = 0;
      const auto [end, problem] = std::from_chars(port.data(), port.data() + port.size(), value);
      if (problem != std::errc() || end != port.data() + port.size() || value < 1 ||
          value > 65535) {
        *error = "'" + text + "': the port after the address is 1 to 65535";
        return false;
      }
      parsed.Port = value;
    }
    if (parsed.Host.empty()) {
      *error = "'" + text + "' lacks the address";
      return false;
    }
  }
  *name = parsed;
  return true;
}

std::string DeviceNameText(const DeviceName& name) {
  std::string prefix;
  for (const Prefix& candidate : kPrefixes) {
    if (candidate.family == name.Family && candidate.register_shift == name.RegisterShift) {
      prefix = candidate.text;
      break;
    }
  }
  if (!name.Path.empty()) return prefix + name.Path;
  const bool v6 = name.Host.find(':') != std::string::npos;
  std::string host = v6 ? "[" + name.Host + "]" : name.Host;
  return name.Port == kScpiPort ? prefix + host : prefix + host + ":" + std::to_string(name.Port);
}
