#include "player_terminal.h"

#include <unistd.h>

#include <csignal>

#include "process_signals.h"

namespace {

bool InForeground() {
  return tcgetpgrp(STDIN_FILENO) == getpgrp();
}

}  // namespace

PlayerTerminal::PlayerTerminal(QObject* parent) : QObject(parent) {
  CatchJobSignals();
  terminal_ = isatty(STDIN_FILENO) == 1 && tcgetattr(STDIN_FILENO, &saved_) == 0;
  if (!terminal_) return;
  keys_ = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
  keys_->setEnabled(false);
  connect(keys_, &QSocketNotifier::activated, this, &PlayerTerminal::ReadKeys);
  KeysOn();
}

PlayerTerminal::~PlayerTerminal() {
  KeysOff();
  ReleaseJobSignals();
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

void PlayerTerminal::JobSignal(int signal_number) {
  if (signal_number == SIGTSTP) {
    emit StopRequested();
  } else if (signal_number == SIGCONT) {
    KeysOn();
    emit Continued();
  }
}

void PlayerTerminal::StopNow() {
  KeysOff();
  kill(getpid(), SIGSTOP);
  // Here again after SIGCONT, whose own handling turns the keys back on.
}
