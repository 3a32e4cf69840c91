#include "generator_list.h"

#include <QDir>
#include <QSerialPortInfo>
#include <cstdio>

namespace {

// USB serial bridges the generators carry; the bridge says nothing of the family, so each
// family that uses it is offered.
struct KnownBridge {
  uint16_t vendor;
  uint16_t product;
  const char* what;
  const char* prefixes[2];
};

const KnownBridge kBridges[] = {
    // The WCH CH340 in FY6x00 and JDS6600 units.
    {0x1a86, 0x7523, "FY6x00 or JDS6600 (CH340 serial bridge)", {"fy:", "jds:"}},
};

std::string UsbIdText(uint16_t vendor, uint16_t product) {
  char text[16];
  std::snprintf(text, sizeof text, "%04x:%04x", vendor, product);
  return text;
}

}  // namespace

std::vector<ListedGenerator> GeneratorsAmong(const std::vector<SeenSerialPort>& ports,
                                             const std::vector<std::string>& usbtmc_paths) {
  std::vector<ListedGenerator> found;
  for (const SeenSerialPort& port : ports) {
    if (!port.HasUsbIdentity) continue;
    for (const KnownBridge& bridge : kBridges) {
      if (bridge.vendor != port.Vendor || bridge.product != port.Product) continue;
      for (const char* prefix : bridge.prefixes) {
        if (prefix == nullptr) continue;
        found.push_back({prefix + port.Path, std::string(bridge.what) + ", USB " +
                                                 UsbIdText(port.Vendor, port.Product)});
      }
    }
  }
  for (const std::string& path : usbtmc_paths) {
    found.push_back({"scpi:" + path, "a USBTMC instrument"});
  }
  return found;
}

std::vector<ListedGenerator> ListGenerators() {
  std::vector<SeenSerialPort> ports;
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
    SeenSerialPort port;
    port.Path = info.systemLocation().toStdString();
    port.HasUsbIdentity = info.hasVendorIdentifier() && info.hasProductIdentifier();
    port.Vendor = info.vendorIdentifier();
    port.Product = info.productIdentifier();
    ports.push_back(port);
  }
  std::vector<std::string> usbtmc;
  const QDir dev("/dev");
  for (const QString& entry : dev.entryList({"usbtmc*"}, QDir::System, QDir::Name)) {
    usbtmc.push_back(dev.filePath(entry).toStdString());
  }
  return GeneratorsAmong(ports, usbtmc);
}
