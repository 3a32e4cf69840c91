#include "quit_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace {

constexpr int kQuitSignals[] = {SIGINT, SIGTERM, SIGHUP};
// Made once and never closed, so that a handler running late never writes into a reused number.
int pipe_fds[2] = {-1, -1};
volatile std::sig_atomic_t arrived = 0;

extern "C" void NoteQuitSignal(int signal_number) {
  const int saved_errno = errno;
  arrived = signal_number;
  const unsigned char byte = static_cast<unsigned char>(signal_number);
  // Nothing more can be done in a signal handler if the pipe is full: one byte already waits.
  [[maybe_unused]] const ssize_t written = write(pipe_fds[1], &byte, 1);
  errno = saved_errno;
}

}  // namespace

void CatchQuitSignals() {
  if (pipe_fds[0] < 0 && pipe2(pipe_fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    pipe_fds[0] = pipe_fds[1] = -1;
  }
  std::signal(SIGPIPE, SIG_IGN);
  struct sigaction action {};
  action.sa_handler = NoteQuitSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal_number : kQuitSignals) sigaction(signal_number, &action, nullptr);
}

int QuitSignalArrived() {
  return arrived;
}

QuitSignalWatcher::QuitSignalWatcher(QObject* parent) : QObject(parent) {
  CatchQuitSignals();
  if (pipe_fds[0] < 0) return;
  notifier_ = new QSocketNotifier(pipe_fds[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] {
    unsigned char byte = 0;
    int last = 0;
    while (read(pipe_fds[0], &byte, 1) == 1) last = byte;
    if (last != 0) emit QuitRequested(last);
  });
}

QuitSignalWatcher::~QuitSignalWatcher() {
  for (int signal_number : kQuitSignals) std::signal(signal_number, SIG_DFL);
  delete notifier_;
}
