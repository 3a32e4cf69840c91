#include "run_notifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

#include "app_identity.h"

namespace {

constexpr char kNotificationsService[] = "org.freedesktop.Notifications";
constexpr char kNotificationsPath[] = "/org/freedesktop/Notifications";
constexpr char kNotificationsInterface[] = "org.freedesktop.Notifications";

constexpr uchar kNormalUrgency = 1;
constexpr uchar kCriticalUrgency = 2;

}  // namespace

QString RunEndSummary(const QString& program_name, RunOutcome how, int step, int step_count) {
  switch (how) {
    case RunOutcome::Finished:
      return QStringLiteral("%1: finished").arg(program_name);
    case RunOutcome::Stopped:
      return QStringLiteral("%1: stopped at step %2 of %3")
          .arg(program_name)
          .arg(step)
          .arg(step_count);
    case RunOutcome::Failed:
      return QStringLiteral("%1: failed at step %2 of %3")
          .arg(program_name)
          .arg(step)
          .arg(step_count);
  }
  return program_name;
}

RunNotifier::RunNotifier(QObject* parent) : QObject(parent) {}

void RunNotifier::RunEnded(const QString& program_name, RunOutcome how, int step, int step_count,
                           const QString& detail) {
  QDBusConnection session = QDBusConnection::sessionBus();
  if (!session.isConnected()) return;
  const QVariantMap hints{
      {"desktop-entry", QString(kAppId)},
      {"urgency",
       QVariant::fromValue(how == RunOutcome::Failed ? kCriticalUrgency : kNormalUrgency)}};
  QDBusMessage notify = QDBusMessage::createMethodCall(kNotificationsService, kNotificationsPath,
                                                       kNotificationsInterface, "Notify");
  notify << QString(kAppName) << uint(0) << QString(kAppId)
         << RunEndSummary(program_name, how, step, step_count) << detail << QStringList() << hints
         << int(-1);
  // The answer (the notification's id) is of no use; without a service the bus's error is too.
  session.send(notify);
}
