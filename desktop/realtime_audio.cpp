#include "realtime_audio.h"

#include <sys/resource.h>

#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

const QString kService = QStringLiteral("org.freedesktop.RealtimeKit1");
const QString kPath = QStringLiteral("/org/freedesktop/RealtimeKit1");
const QString kInterface = QStringLiteral("org.freedesktop.RealtimeKit1");

// One of the broker's properties, or an invalid value with the reason in why.
QVariant Property(const QDBusConnection& bus, const char* name, QString* why) {
  QDBusMessage get = QDBusMessage::createMethodCall(
      kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
  get << kInterface << QString::fromLatin1(name);
  const QDBusReply<QDBusVariant> reply = bus.call(get);
  if (!reply.isValid()) {
    *why = reply.error().message();
    return {};
  }
  return reply.value().variant();
}

// The process's real-time time limited to at most usec_max, as the broker demands.
bool LimitRealtimeTime(qlonglong usec_max, QString* why) {
  rlimit limit{};
  if (getrlimit(RLIMIT_RTTIME, &limit) != 0) {
    *why = QString::fromLocal8Bit(std::strerror(errno));
    return false;
  }
  const auto most = static_cast<rlim_t>(usec_max);
  if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max <= most && limit.rlim_cur <= most) {
    return true;
  }
  limit.rlim_cur = std::min(limit.rlim_cur, most);
  limit.rlim_max = std::min(limit.rlim_max, most);
  if (setrlimit(RLIMIT_RTTIME, &limit) != 0) {
    *why = QStringLiteral("cannot limit the real-time time: ") +
           QString::fromLocal8Bit(std::strerror(errno));
    return false;
  }
  return true;
}

}  // namespace

RealtimeAnswer RealtimeAudio::Ask(pid_t thread) {
  RealtimeAnswer answer;
  if (thread <= 0) {
    answer.why = QStringLiteral("no audio thread");
    return answer;
  }
  if (!bus_.isConnected()) {
    answer.why = QStringLiteral("no system bus");
    return answer;
  }
  const QVariant most = Property(bus_, "MaxRealtimePriority", &answer.why);
  if (!most.isValid()) return answer;
  const QVariant usec_max = Property(bus_, "RTTimeUSecMax", &answer.why);
  if (!usec_max.isValid()) return answer;
  if (most.toInt() < 1) {
    answer.why = QStringLiteral("the broker grants no real-time priority");
    return answer;
  }
  if (!LimitRealtimeTime(usec_max.toLongLong(), &answer.why)) return answer;
  answer.priority = std::min(kAudioPriority, most.toInt());
  QDBusMessage make = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                     QStringLiteral("MakeThreadRealtime"));
  make << QVariant::fromValue(static_cast<qulonglong>(thread))
       << QVariant::fromValue(static_cast<uint>(answer.priority));
  const QDBusMessage reply = bus_.call(make);
  if (reply.type() == QDBusMessage::ErrorMessage) {
    answer.why = reply.errorMessage();
    return answer;
  }
  answer.granted = true;
  return answer;
}
