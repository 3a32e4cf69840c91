// The generators that can be seen without asking them anything: serial ports whose USB identity
// is one the FY6x00 and JDS6600 families use, and USBTMC devices (SCPI). A pseudo-terminal or a
// LAN instrument is not seen; naming it works all the same (device_name.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct SeenSerialPort {
  std::string Path;  // /dev/ttyUSB0
  uint16_t Vendor = 0;
  uint16_t Product = 0;
  bool HasUsbIdentity = false;
};

struct ListedGenerator {
  std::string Name;         // as --device takes it
  std::string Description;  // what was seen
};

// The generators the ports and USBTMC device files may be, in their order.
std::vector<ListedGenerator> GeneratorsAmong(const std::vector<SeenSerialPort>& ports,
                                             const std::vector<std::string>& usbtmc_paths);
// The same for the system's ports and /dev/usbtmc*.
std::vector<ListedGenerator> ListGenerators();
