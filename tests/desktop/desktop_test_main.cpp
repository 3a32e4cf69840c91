// The desktop-service tests: one pair of private buses for the whole test program, made this
// process's session and system bus before anything reaches D-Bus (Qt keeps its first connection
// to each bus for the life of the process); the mocked services are started per test. The windows
// run on Qt's offscreen platform, their sound goes to SDL's dummy driver.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <string>

#include "ddfs.h"
#include "desktop_fixture.h"

namespace {

PrivateBuses* buses = nullptr;
bool buses_started = false;

}  // namespace

PrivateBuses& TestBuses() {
  return *buses;
}

bool TestBusesStarted() {
  return buses_started;
}

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();
  PrivateBuses private_buses;
  buses = &private_buses;
  std::string why;
  buses_started = private_buses.Start(&why);
  if (buses_started) {
    private_buses.ExportEnvironment();
  } else {
    std::fprintf(stderr, "D-Bus tests skip: %s\n", why.c_str());
    // Whatever happens, never the user's own buses.
    for (const std::string& entry : NoBusEnvironment()) {
      const size_t eq = entry.find('=');
      setenv(entry.substr(0, eq).c_str(), entry.substr(eq + 1).c_str(), 1);
    }
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  InitDDFS();
  QApplication application(argc, argv);
  const int result = RUN_ALL_TESTS();
  return result;
}
