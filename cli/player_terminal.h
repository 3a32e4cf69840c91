// The terminal side of zelkgen --play: keys that pause and resume, skip and end, and job control.
// On a terminal in the foreground, keys are read as they are pressed (the terminal's line editing
// and echo are off while the player runs; Ctrl+C and Ctrl+Z keep their signals): p or space give
// PauseKey, n NextKey (the next step, as Skip) and q EndKey (the end of the run). Ctrl+Z (SIGTSTP)
// gives StopRequested instead of stopping the process at once: the player pauses the run and then
// calls StopNow, which stops the process as the shell expects. SIGCONT (fg, bg) gives Continued;
// the keys are read again once the player is back in the foreground.
//
// The job signals are caught into the process's one signal pipe (process_signals.h); the player's
// SignalWatcher reads them and hands them to JobSignal. One object at a time; the terminal's
// settings and the signals' handling are given back when it is destroyed.
#pragma once

#include <termios.h>

#include <QObject>
#include <QSocketNotifier>

class PlayerTerminal : public QObject {
  Q_OBJECT

 public:
  explicit PlayerTerminal(QObject* parent = nullptr);
  ~PlayerTerminal() override;

  // True while the keys are read (standard input is the terminal, in the foreground).
  bool KeysRead() const { return keys_on_; }

  // Stops the process now (SIGSTOP), with the terminal's own settings back while stopped.
  void StopNow();

  // SIGTSTP gives StopRequested, SIGCONT turns the keys back on and gives Continued.
  void JobSignal(int signal_number);

 signals:
  void PauseKey();
  void NextKey();
  void EndKey();
  void StopRequested();
  void Continued();

 private:
  void ReadKeys();
  void KeysOn();
  void KeysOff();

  QSocketNotifier* keys_ = nullptr;
  bool terminal_ = false;
  bool keys_on_ = false;
  termios saved_{};
};
