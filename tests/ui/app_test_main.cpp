// The program's own start-up for the window tests: DDFS before the application object, then one
// QApplication for every test of the executable.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "ddfs.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // Listing the tests (as the build does to register them) needs no display.
  if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();
  // No display and no sound card: Qt's offscreen platform, and SDL's disk driver writing to
  // nowhere unless a test points it at a file of its own.
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
  // Runs must never reach the user's desktop services (inhibitor, notifications): no bus at all.
  setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/zelkgen-no-session-bus", 1);
  setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/zelkgen-no-system-bus", 1);
  InitDDFS();
  QApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
