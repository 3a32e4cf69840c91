// Stands in for the program in the desktop-service tests that need a process of its own:
//   desktop_services_child hold   the first step of a BX virus run, then waits; SIGTERM, SIGINT
//                                 or SIGHUP end the run (stopped) and the process (exit 0), as
//                                 they end the program
//   desktop_services_child run    a whole BX virus run, finished, then the end of the process
//   desktop_services_child idle   only creates the services, prints "ready" and waits
#include <QCoreApplication>
#include <cstdio>
#include <cstring>

#include "desktop_run_services.h"
#include "quit_signals.h"

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  const char* mode = argc > 1 ? argv[1] : "run";
  DesktopRunServices services;
  QuitSignalWatcher quit_signals;
  QObject::connect(&quit_signals, &QuitSignalWatcher::QuitRequested, [&services] {
    services.RunEnded("BX virus", RunOutcome::Stopped, 1, 2);
    QCoreApplication::quit();
  });
  if (std::strcmp(mode, "idle") == 0) {
    std::printf("ready\n");
    std::fflush(stdout);
    return QCoreApplication::exec();
  }
  services.StepStarted("BX virus", 1, 2);
  if (std::strcmp(mode, "hold") == 0) return QCoreApplication::exec();
  services.StepStarted("BX virus", 2, 2);
  services.RunEnded("BX virus", RunOutcome::Finished, 2, 2);
  return 0;
}
