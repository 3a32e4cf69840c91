#include "signal_watcher.h"

#include <csignal>

#include "process_signals.h"

SignalWatcher::SignalWatcher(QObject* parent) : QObject(parent) {
  CatchQuitSignals();
  if (CaughtSignalsFd() < 0) return;
  notifier_ = new QSocketNotifier(CaughtSignalsFd(), QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] {
    int last_quit = 0;
    while (const int signal_number = NextCaughtSignal()) {
      if (signal_number == SIGTSTP || signal_number == SIGCONT) {
        emit JobSignal(signal_number);
      } else {
        last_quit = signal_number;
      }
    }
    if (last_quit != 0) emit QuitRequested(last_quit);
  });
}

SignalWatcher::~SignalWatcher() {
  ReleaseQuitSignals();
  delete notifier_;
}
