// SIGINT, SIGTERM and SIGHUP (Ctrl+C, kill, a closed terminal, a logout): one catcher for every
// face of the program. CatchQuitSignals() installs it first thing, before the one-copy lock is
// taken, so that a signal at any moment of the start-up ends the program as orderly as a later
// one. The handler only notes the signal and writes its number into a self-pipe:
//   - a face with an event loop (the window, --play) makes a QuitSignalWatcher, whose socket
//     notifier reads the pipe in whatever event loop runs, a modal one included, and emits
//     QuitRequested; a signal that came before the watcher existed is passed on as soon as an
//     event loop runs;
//   - a face without one (--export) asks QuitSignalArrived() as it goes.
// Nothing a face waits for blocks the event loop (the sound output opens on a thread of its own),
// so a signal is answered within moments whatever a sound server or a bus does.
//
// SIGPIPE is ignored as well: a reader that goes away (`zelkgen --play bx | head -c 10`, a closed
// tee, a dropped SSH session) then only fails the write, which the faces drop, instead of ending
// the program in the middle of a run.
#pragma once

#include <QObject>
#include <QSocketNotifier>

// Installs the handlers (again, after a watcher gave them back); harmless when they are in place.
void CatchQuitSignals();
// The number of the latest quit signal caught, 0 before any.
int QuitSignalArrived();

class QuitSignalWatcher : public QObject {
  Q_OBJECT

 public:
  // Catches the signals (CatchQuitSignals) and watches for them; one watcher at a time.
  explicit QuitSignalWatcher(QObject* parent = nullptr);
  // Gives the signals their default handling back: a signal during the last moments of the
  // program (its windows are gone, its sound has stopped) ends it at once.
  ~QuitSignalWatcher() override;

 signals:
  void QuitRequested(int signal_number);

 private:
  QSocketNotifier* notifier_ = nullptr;
};
