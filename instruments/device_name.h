// How a signal generator is named on the command line and in settings: "fy:/dev/ttyUSB0",
// "jds:/dev/ttyUSB0", "jds10:/dev/ttyUSB0" (a JDS6600 unit whose registers are numbered 10
// lower), "scpi:192.0.2.10" or "scpi:192.0.2.10:5025", "scpi:/dev/usbtmc0". The one place such a
// name is read and written.
#pragma once

#include <string>

enum class GeneratorFamily { Fy, Jds, Scpi };

struct DeviceName {
  GeneratorFamily Family = GeneratorFamily::Fy;
  std::string Path;       // a serial port or /dev/usbtmcN; empty for a LAN instrument
  std::string Host;       // a LAN instrument's address
  int Port = 5025;        // a LAN instrument's raw SCPI port
  int RegisterShift = 0;  // JDS6600 units that number their registers lower
};

inline constexpr int kScpiPort = 5025;

// True when text names a generator (it starts with a family's prefix); the sound outputs' names
// never do.
bool LooksLikeGeneratorName(const std::string& text);
// Reads a generator's name; false with *error saying why.
bool ParseDeviceName(const std::string& text, DeviceName* name, std::string* error);
// The name as ParseDeviceName reads it.
std::string DeviceNameText(const DeviceName& name);
