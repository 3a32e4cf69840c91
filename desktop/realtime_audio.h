// Real-time scheduling for the audio thread, asked of the desktop's real-time broker (rtkit,
// org.freedesktop.RealtimeKit1 on the system bus) as sound servers and players ask for theirs:
// with it a busy machine no longer makes the thread late to refill the device. Where there is no
// broker, or it refuses (a remote login, a container), the thread goes on at its normal priority;
// the answer says why.
//
// rtkit grants only threads whose process limits its real-time time (RLIMIT_RTTIME) to at most
// RTTimeUSecMax, so that a runaway thread is stopped by the kernel; Ask lowers the limit to that
// first. The priority asked for is kAudioPriority, or the broker's MaxRealtimePriority when lower.
//
// The calls wait on the system bus (up to its 25 s timeout): call them where a bus that stops
// answering holds nothing else (the desktop services' thread).
#pragma once

#include <sys/types.h>

#include <QDBusConnection>
#include <QString>

struct RealtimeAnswer {
  bool granted = false;
  int priority = 0;  // asked for (SCHED_RR), 0 when not asked
  QString why;       // when not granted: the bus's or the broker's reason
};

class RealtimeAudio {
 public:
  // Low among real-time threads: a sound server's own threads (rtkit's default maximum is 20)
  // stay above it.
  static constexpr int kAudioPriority = 10;

  explicit RealtimeAudio(QDBusConnection bus = QDBusConnection::systemBus()) : bus_(bus) {}

  // Asks the broker to make thread (a kernel thread id of this process) real-time.
  RealtimeAnswer Ask(pid_t thread);

 private:
  QDBusConnection bus_;
};
