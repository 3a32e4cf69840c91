// The player's (--play) side of the process's signals (process_signals.h): one socket notifier on
// the one pipe, read in whatever event loop runs. Quit signals give QuitRequested; job control,
// when it is caught (PlayerTerminal catches it), gives JobSignal.
#pragma once

#include <QObject>
#include <QSocketNotifier>

class SignalWatcher : public QObject {
  Q_OBJECT

 public:
  // Catches the quit signals (CatchQuitSignals) and watches the pipe; one watcher at a time.
  explicit SignalWatcher(QObject* parent = nullptr);
  // Gives the quit signals their default handling back (ReleaseQuitSignals).
  ~SignalWatcher() override;

 signals:
  void QuitRequested(int signal_number);
  void JobSignal(int signal_number);

 private:
  QSocketNotifier* notifier_ = nullptr;
};
