#include "quit_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>

namespace {

constexpr int kQuitSignals[] = {SIGINT, SIGTERM, SIGHUP};
int pipe_fds[2] = {-1, -1};

extern "C" void WriteSignalToPipe(int signal_number) {
  const int saved_errno = errno;
  const unsigned char byte = static_cast<unsigned char>(signal_number);
  // Nothing more can be done in a signal handler if the pipe is full: one byte already waits.
  [[maybe_unused]] const ssize_t written = write(pipe_fds[1], &byte, 1);
  errno = saved_errno;
}

}  // namespace

QuitSignalWatcher::QuitSignalWatcher(QObject* parent) : QObject(parent) {
  if (pipe2(pipe_fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
  notifier_ = new QSocketNotifier(pipe_fds[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] {
    unsigned char byte = 0;
    int last = 0;
    while (read(pipe_fds[0], &byte, 1) == 1) last = byte;
    if (last != 0) emit QuitRequested(last);
  });
  struct sigaction action {};
  action.sa_handler = WriteSignalToPipe;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal_number : kQuitSignals) sigaction(signal_number, &action, nullptr);
}

QuitSignalWatcher::~QuitSignalWatcher() {
  for (int signal_number : kQuitSignals) std::signal(signal_number, SIG_DFL);
  delete notifier_;
  for (int& fd : pipe_fds) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
}
