#include "launcher_progress.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>
#include <algorithm>

#include "app_identity.h"

namespace {

// Listeners take the signal from any object path; this one names the sender.
constexpr char kEntryPath[] = "/org/zelkgen/Zelkgen/LauncherEntry";
constexpr char kEntryInterface[] = "com.canonical.Unity.LauncherEntry";

}  // namespace

LauncherProgress::LauncherProgress(QObject* parent) : QObject(parent) {}

LauncherProgress::~LauncherProgress() {
  Hide();
}

void LauncherProgress::Show(double fraction) {
  // NaN compares false both ways and ends up as 0.
  const double clamped = fraction >= 0.0 ? std::min(fraction, 1.0) : 0.0;
  Publish({{"progress", clamped}, {"progress-visible", true}});
  shown_ = true;
}

void LauncherProgress::Hide() {
  if (!shown_) return;
  Publish({{"progress", 0.0}, {"progress-visible", false}});
  shown_ = false;
}

void LauncherProgress::Publish(const QVariantMap& properties) {
  QDBusConnection session = QDBusConnection::sessionBus();
  if (!session.isConnected()) return;
  QDBusMessage update = QDBusMessage::createSignal(kEntryPath, kEntryInterface, "Update");
  update << QStringLiteral("application://%1.desktop").arg(kAppId) << properties;
  session.send(update);
}
