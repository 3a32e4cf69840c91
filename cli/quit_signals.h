// SIGINT, SIGTERM and SIGHUP (a closed terminal, a logout) turned into a Qt signal on the window
// thread. The handler only writes the signal's number into a self-pipe; a socket notifier reads
// it in whatever event loop runs, a modal one included, and emits QuitRequested.
#pragma once

#include <QObject>
#include <QSocketNotifier>

class QuitSignalWatcher : public QObject {
  Q_OBJECT

 public:
  // Installs the handlers; only one watcher may exist at a time.
  explicit QuitSignalWatcher(QObject* parent = nullptr);
  // Gives the signals their default handling back.
  ~QuitSignalWatcher() override;

 signals:
  void QuitRequested(int signal_number);

 private:
  QSocketNotifier* notifier_ = nullptr;
};
