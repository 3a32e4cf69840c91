// One copy of the program per user at a time. The first copy takes an flock()ed lock file,
// zelkgen.lock in $XDG_RUNTIME_DIR when that is private and writable, else in the user's state
// folder, $XDG_STATE_HOME/zelkgen or ~/.local/state/zelkgen, made for this user only. Never in a
// folder that everybody shares (/tmp): another user could make the folder there first and so
// switch the lock off. The kernel drops the lock when the process ends in any way, a crash or
// SIGKILL included, so a stale lock file can never keep the program from starting. The holder
// writes its process id into the file, for a later copy to name.
//
// The windowed program also opens a Unix datagram socket, zelkgen.socket beside the lock: a
// later windowed copy sends it "raise" (with the launcher's activation token, and the program file
// it was started with, if any) and exits, and the first copy answers "raised", opens that file and
// brings its window to the front, at most four times a second however many requests arrive. A
// headless player takes the lock without the socket,
// so a second sounding copy of either kind refuses instead of mixing its tone in; a job that only
// writes files needs no lock at all.
//
// Cheap at start-up: a few system calls, nothing of Qt before WatchForRaise. Window thread only.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <string>

class QSocketNotifier;

class SingleInstance : public QObject {
  Q_OBJECT

 public:
  enum class Lock {
    Owned,          // this process is the only copy until the object goes or the process ends
    HeldElsewhere,  // another copy holds the lock
    Unavailable,    // no private directory or no lock to be had: run unguarded
  };

  explicit SingleInstance(QObject* parent = nullptr);
  // Closes the socket (removing its file) and gives the lock back.
  ~SingleInstance() override;

  // Takes the lock without waiting. With accept_raise, the owner also opens the raise socket.
  // Unavailable says why in *why.
  Lock Acquire(bool accept_raise, std::string* why);
  // Acquire for a copy that may go on unguarded: where no lock can be had at all, one line on
  // stderr says why. False only when another copy holds the lock.
  bool AcquireOrWarn(bool accept_raise);

  // Closes the socket (removing its file) and gives the lock back; the object is then empty.
  void Release();

  // Once the application object exists: emits RaiseRequested for requests from later copies,
  // one for several that arrive within a quarter of a second (with the latest's token).
  void WatchForRaise();

  // For a later windowed copy: asks the copy that holds the lock to bring its window to the
  // front, passing on this process's activation token (XDG_ACTIVATION_TOKEN, else
  // DESKTOP_STARTUP_ID) and the absolute path of a program file to open, if any. Waits up to a
  // second for the socket of a copy that is just starting; false when nothing listens (the holder
  // is a headless player, or has just ended). With answered, waits up to answer_wait_ms more for
  // the holder's answer and says whether it came.
  static bool RequestRaise(const std::string& program_file = {}, int answer_wait_ms = 0,
                           bool* answered = nullptr);
  // The process id the lock's holder wrote, 0 when unknown.
  static int HolderProcess();

 signals:
  // A later copy was started with this program file; RaiseRequested follows.
  void OpenRequested(const QString& program_file);
  // activation_token: the requesting launch's token, or empty.
  void RaiseRequested(const QString& activation_token);

 private:
  void ReadRequests();
  // Emits RaiseRequested for the requests read, now or once a quarter second has passed since
  // the last.
  void Raise();

  int lock_fd_ = -1;
  int socket_fd_ = -1;
  std::string socket_path_;
  QSocketNotifier* notifier_ = nullptr;
  bool raise_asked_ = false;
  QString raise_token_;
  QString open_file_;  // the program file of the latest request, until it is opened
  std::chrono::steady_clock::time_point last_raise_;
  QTimer raise_later_;
};
