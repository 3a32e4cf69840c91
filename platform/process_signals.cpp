#include "process_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace {

constexpr int kQuitSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kJobSignals[] = {SIGTSTP, SIGCONT};
int pipe_fds[2] = {-1, -1};
volatile std::sig_atomic_t quit_arrived = 0;

extern "C" void NoteCaughtSignal(int signal_number) {
  const int saved_errno = errno;
  if (signal_number != SIGTSTP && signal_number != SIGCONT) quit_arrived = signal_number;
  const unsigned char byte = static_cast<unsigned char>(signal_number);
  // Nothing more can be done in a handler if the pipe is full: bytes already wait to be read.
  if (pipe_fds[1] >= 0) {
    [[maybe_unused]] const ssize_t written = write(pipe_fds[1], &byte, 1);
  }
  errno = saved_errno;
}

void MakePipe() {
  if (pipe_fds[0] < 0 && pipe2(pipe_fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    pipe_fds[0] = pipe_fds[1] = -1;
  }
}

template <size_t N>
void Catch(const int (&signals)[N]) {
  MakePipe();
  struct sigaction action {};
  action.sa_handler = NoteCaughtSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int signal_number : signals) sigaction(signal_number, &action, nullptr);
}

template <size_t N>
void Release(const int (&signals)[N]) {
  for (const int signal_number : signals) std::signal(signal_number, SIG_DFL);
}

}  // namespace

void CatchQuitSignals() {
  std::signal(SIGPIPE, SIG_IGN);
  Catch(kQuitSignals);
}

void ReleaseQuitSignals() {
  Release(kQuitSignals);
}

int QuitSignalArrived() {
  return quit_arrived;
}

void CatchJobSignals() {
  Catch(kJobSignals);
}

void ReleaseJobSignals() {
  Release(kJobSignals);
}

int CaughtSignalsFd() {
  return pipe_fds[0];
}

int NextCaughtSignal() {
  unsigned char byte = 0;
  if (pipe_fds[0] < 0 || read(pipe_fds[0], &byte, 1) != 1) return 0;
  return byte;
}
