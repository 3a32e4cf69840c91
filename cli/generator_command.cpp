#include "generator_command.h"

#include <QCoreApplication>
#include <cstdio>
#include <memory>

#include "device_name.h"
#include "generator_driver.h"
#include "generator_list.h"
#include "output_check.h"

int IdentifyGenerator(const std::string& device) {
  DeviceName name;
  std::string error;
  if (!ParseDeviceName(device, &name, &error)) {
    std::fprintf(stderr, "zelkgen: --identify: %s\n", error.c_str());
    return 2;
  }
  // Qt's network and serial classes want an application object, even for blocking waits.
  std::unique_ptr<QCoreApplication> application;
  if (QCoreApplication::instance() == nullptr) {
    static int argc = 1;
    static char program[] = "zelkgen";
    static char* argv[] = {program, nullptr};
    application = std::make_unique<QCoreApplication>(argc, argv);
  }
  const std::unique_ptr<GeneratorDriver> driver = GeneratorDriver::Make(name);
  if (!driver->Connect()) {
    std::fprintf(stderr, "zelkgen: %s\n%s\n", driver->Error().Message.c_str(),
                 driver->Error().Advice.c_str());
    return 1;
  }
  const GeneratorIdentity& identity = driver->Identity();
  std::printf("%s\n", driver->Name().c_str());
  std::printf("model: %s\n", identity.Model.c_str());
  std::printf("firmware: %s\n",
              identity.Firmware.empty() ? "(not told)" : identity.Firmware.c_str());
  std::printf("channels: %d\n", identity.Channels);
  std::printf("highest frequency: %s Hz\n", HertzText(identity.MaxFrequency).c_str());
  std::printf("amplitude: at most %s V peak to peak; offset and amplitude within +-%s V\n",
              FixedText(identity.MaxAmplitudeVpp, 3).c_str(),
              FixedText(identity.MaxVolts, 3).c_str());
  std::printf("gate: at most %s Hz (the output switched on and off)\n",
              HertzText(identity.MaxGateHertz).c_str());
  std::printf("a setting takes up to: %d ms\n", identity.CommandMs);
  driver->Disconnect();
  return 0;
}

void PrintGeneratorList() {
  for (const ListedGenerator& generator : ListGenerators()) {
    std::printf("%s\t%s\n", generator.Name.c_str(), generator.Description.c_str());
  }
}
