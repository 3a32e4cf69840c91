#include "player_terminal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace {

constexpr int kJobSignals[] = {SIGTSTP, SIGCONT};
int signal_pipe[2] = {-1, -1};

extern "C" void WriteJobSignalToPipe(int signal_number) {
  const int saved_errno = errno;
  const unsigned char byte = static_cast<unsigned char>(signal_number);
  [[maybe_unused]] const ssize_t written = write(signal_pipe[1], &byte, 1);
  errno = saved_errno;
}

bool InForeground() {
  return tcgetpgrp(STDIN_FILENO) == getpgrp();
}

}  // namespace

PlayerTerminal::PlayerTerminal(QObject* parent) : QObject(parent) {
  if (pipe2(signal_pipe, O_CLOEXEC | O_NONBLOCK) == 0) {
    signals_ = new QSocketNotifier(signal_pipe[0], QSocketNotifier::Read, this);
    connect(signals_, &QSocketNotifier::activated, this, &PlayerTerminal::ReadSignals);
    struct sigaction action {};
    action.sa_handler = WriteJobSignalToPipe;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal_number : kJobSignals) sigaction(signal_number, &action, nullptr);
  }
  terminal_ = isatty(STDIN_FILENO) == 1 && tcgetattr(STDIN_FILENO, &saved_) == 0;
  if (!terminal_) return;
  keys_ = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
  keys_->setEnabled(false);
  connect(keys_, &QSocketNotifier::activated, this, &PlayerTerminal::ReadKeys);
  KeysOn();
}

PlayerTerminal::~PlayerTerminal() {
  KeysOff();
  for (int signal_number : kJobSignals) std::signal(signal_number, SIG_DFL);
  delete signals_;
  for (int& fd : signal_pipe) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
}

// Only a foreground process may change the terminal's settings or read from it; a background
// one would be stopped for trying.
void PlayerTerminal::KeysOn() {
  if (!terminal_ || keys_on_ || !InForeground()) return;
  termios keys = saved_;
  keys.c_lflag &= ~tcflag_t(ICANON | ECHO);
  keys.c_cc[VMIN] = 1;
  keys.c_cc[VTIME] = 0;
  if (tcsetattr(STDIN_FILENO, TCSANOW, &keys) != 0) return;
  keys_on_ = true;
  keys_->setEnabled(true);
}

void PlayerTerminal::KeysOff() {
  if (!keys_on_) return;
  keys_->setEnabled(false);
  tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
  keys_on_ = false;
}

void PlayerTerminal::ReadKeys() {
  char keys[64];
  const ssize_t count = read(STDIN_FILENO, keys, sizeof keys);
  if (count <= 0) {
    KeysOff();  // the terminal has gone
    return;
  }
  for (ssize_t i = 0; i < count; ++i) {
    switch (keys[i]) {
      case 'p':
      case 'P':
      case ' ':
        emit PauseKey();
        break;
      case 'n':
      case 'N':
        emit NextKey();
        break;
      case 'q':
      case 'Q':
        emit EndKey();
        break;
      default:
        break;
    }
  }
}

void PlayerTerminal::ReadSignals() {
  unsigned char signal_number = 0;
  while (read(signal_pipe[0], &signal_number, 1) == 1) {
    if (signal_number == SIGTSTP) {
      emit StopRequested();
    } else if (signal_number == SIGCONT) {
      KeysOn();
      emit Continued();
    }
  }
}

void PlayerTerminal::StopNow() {
  KeysOff();
  kill(getpid(), SIGSTOP);
  // Here again after SIGCONT, whose own handling turns the keys back on.
}
