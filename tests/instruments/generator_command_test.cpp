// zelkgen --identify run as a user would, against each family's emulator; a name that names no
// generator and a generator that never answers.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"
#include "generator_emulator.h"
#include "scratch_dir.h"

namespace {

std::string Identified(const std::string& name, const std::string& model,
                       const std::string& firmware, const char* gate, const char* setting_ms) {
  return name + "\nmodel: " + model + "\nfirmware: " + firmware +
         "\nchannels: 2\nhighest frequency: 60000000 Hz\n"
         "amplitude: at most 20.000 V peak to peak; offset and amplitude within +-10.000 V\n"
         "gate: at most " +
         gate + " Hz (the output switched on and off)\na setting takes up to: " + setting_ms +
         " ms\n";
}

TEST(IdentifyCommand, PrintsEachFamilysModelAndLimits) {
  ScratchDir folder;
  std::vector<std::unique_ptr<GeneratorEmulator>> emulators;
  emulators.push_back(std::make_unique<FyEmulator>(EmulatorBehaviour{}));
  emulators.push_back(std::make_unique<JdsEmulator>(EmulatorBehaviour{}));
  emulators.push_back(std::make_unique<ScpiEmulator>(EmulatorBehaviour{}));
  const std::vector<std::string> expected = {
      Identified(emulators[0]->Name(), "FY6900-60M", "V1.0", "2", "250"),
      Identified(emulators[1]->Name(), "JDS6600-60M", "(not told)", "5", "50"),
      Identified(emulators[2]->Name(), "Rigol Technologies DG1062Z", "00.01.14", "10", "20"),
  };
  for (size_t i = 0; i < emulators.size(); ++i) {
    SCOPED_TRACE(emulators[i]->Name());
    const ProgramRun run =
        RunProgram({ZELKGEN_PROGRAM, "--identify", emulators[i]->Name()}, {}, folder.Path());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, expected[i]);
    // Asked, not set: nothing but the questions reached it.
    for (const std::string& command : emulators[i]->Commands()) {
      EXPECT_TRUE(command == "UMO" || command == "UVE" || command == ":r00=0." ||
                  command == "*IDN?")
          << command;
    }
  }
}

TEST(IdentifyCommand, SaysWhyWhenThereIsNoAnswer) {
  ScratchDir folder;
  EmulatorBehaviour mute;
  mute.SilentPrefix = "UMO";
  mute.SilentCount = -1;
  FyEmulator emulator(mute);
  struct Case {
    std::string device;
    int status;
    std::string message;
  } cases[] = {
      {"usb:/dev/ttyUSB0", 2, "'usb:/dev/ttyUSB0' names no generator"},
      {"fy:/nonexistent/tty", 1, "fy:/nonexistent/tty cannot be opened"},
      {emulator.Name(), 1, emulator.Name() + " gave no reply to UMO within 1000 ms"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.device);
    const auto start = std::chrono::steady_clock::now();
    const ProgramRun run = RunProgram({ZELKGEN_PROGRAM, "--identify", c.device}, {}, folder.Path(),
                                      std::chrono::seconds(20));
    EXPECT_EQ(run.status, c.status);
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_TRUE(run.out.empty()) << run.out;
    // A bounded wait, not a hang.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  }
}

}  // namespace
