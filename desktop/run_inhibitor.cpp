#include "run_inhibitor.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#include <QStringList>
#include <cstdio>
#include <optional>

#include "app_identity.h"

namespace {

constexpr char kPortalService[] = "org.freedesktop.portal.Desktop";
constexpr char kPortalPath[] = "/org/freedesktop/portal/desktop";
constexpr char kPortalInterface[] = "org.freedesktop.portal.Inhibit";
constexpr char kRequestInterface[] = "org.freedesktop.portal.Request";
constexpr uint kPortalSuspendAndIdle = 4 | 8;

constexpr char kLogindService[] = "org.freedesktop.login1";
constexpr char kLogindPath[] = "/org/freedesktop/login1";
constexpr char kLogindInterface[] = "org.freedesktop.login1.Manager";

constexpr char kScreenSaverService[] = "org.freedesktop.ScreenSaver";
constexpr char kScreenSaverPath[] = "/org/freedesktop/ScreenSaver";
constexpr char kScreenSaverInterface[] = "org.freedesktop.ScreenSaver";

// A service that takes longer than this is treated as missing.
constexpr int kCallTimeoutMs = 5000;

}  // namespace

struct RunInhibitor::Attempt {
  bool live = true;  // false once released: late answers are given back at once
  QString reason;
  QString portal_handle;  // the request asked for, then the one the portal named
  bool portal_held = false;
  QDBusUnixFileDescriptor logind_fd;  // the inhibition lasts while this stays open
  std::optional<uint> screen_saver_cookie;
  int parts_pending = 0;  // logind and screen saver answers still to come
  QString suspend_failure;
  QString idle_failure;
  bool report = true;  // name what could not be had on stderr
};

RunInhibitor::RunInhibitor(QObject* parent) : QObject(parent) {}

RunInhibitor::~RunInhibitor() {
  Release();
}

void RunInhibitor::Hold(const QString& reason, bool report) {
  if (attempt_) return;
  attempt_ = std::make_shared<Attempt>();
  attempt_->reason = reason;
  attempt_->report = report;
  if (QDBusConnection::sessionBus().isConnected()) {
    AskPortal();
  } else {
    AskLogindAndScreenSaver();
  }
}

void RunInhibitor::Release() {
  if (!attempt_) return;
  StopListeningToPortal();
  attempt_->live = false;
  GiveBack(*attempt_);
  attempt_.reset();
}

void RunInhibitor::GiveBack(Attempt& attempt) {
  QDBusConnection session = QDBusConnection::sessionBus();
  if (attempt.portal_held) {
    session.send(QDBusMessage::createMethodCall(kPortalService, attempt.portal_handle,
                                                kRequestInterface, "Close"));
    attempt.portal_held = false;
  }
  if (attempt.screen_saver_cookie) {
    QDBusMessage call = QDBusMessage::createMethodCall(kScreenSaverService, kScreenSaverPath,
                                                       kScreenSaverInterface, "UnInhibit");
    call << *attempt.screen_saver_cookie;
    session.send(call);
    attempt.screen_saver_cookie.reset();
  }
  attempt.logind_fd = QDBusUnixFileDescriptor();  // closing it ends logind's inhibition
}

void RunInhibitor::AskPortal() {
  QDBusConnection session = QDBusConnection::sessionBus();
  // The portal names the request after the caller and the token; listening before asking
  // catches a refusal that follows the answer at once.
  static uint tokens = 0;
  const QString token = QStringLiteral("zelkgen%1").arg(++tokens);
  QString sender = session.baseService().mid(1);
  sender.replace('.', '_');
  attempt_->portal_handle = QStringLiteral("%1/request/%2/%3").arg(kPortalPath, sender, token);
  session.connect(kPortalService, attempt_->portal_handle, kRequestInterface, "Response", this,
                  SLOT(PortalResponded(uint, QVariantMap)));

  QDBusMessage call =
      QDBusMessage::createMethodCall(kPortalService, kPortalPath, kPortalInterface, "Inhibit");
  call << QString() << kPortalSuspendAndIdle
       << QVariantMap{{"handle_token", token}, {"reason", attempt_->reason}};
  // Only a portal that already runs is asked; starting one could take longer than a step.
  call.setAutoStartService(false);
  auto* watcher = new QDBusPendingCallWatcher(session.asyncCall(call, kCallTimeoutMs), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this, attempt = attempt_](QDBusPendingCallWatcher* finished) {
            finished->deleteLater();
            const QDBusPendingReply<QDBusObjectPath> reply = *finished;
            const bool refused_already = attempt->portal_handle.isEmpty();
            if (reply.isError() || refused_already) {
              if (!attempt->live || refused_already) return;
              StopListeningToPortal();
              AskLogindAndScreenSaver();
              return;
            }
            const QString handle = reply.value().path();
            if (!attempt->live) {
              QDBusConnection::sessionBus().send(QDBusMessage::createMethodCall(
                  kPortalService, handle, kRequestInterface, "Close"));
              return;
            }
            if (handle != attempt->portal_handle) {
              StopListeningToPortal();
              attempt->portal_handle = handle;
              QDBusConnection::sessionBus().connect(kPortalService, handle, kRequestInterface,
                                                    "Response", this,
                                                    SLOT(PortalResponded(uint, QVariantMap)));
            }
            attempt->portal_held = true;
          });
}

void RunInhibitor::StopListeningToPortal() {
  if (!attempt_ || attempt_->portal_handle.isEmpty()) return;
  QDBusConnection::sessionBus().disconnect(kPortalService, attempt_->portal_handle,
                                           kRequestInterface, "Response", this,
                                           SLOT(PortalResponded(uint, QVariantMap)));
}

void RunInhibitor::PortalResponded(uint response, const QVariantMap& /*results*/) {
  // An inhibition that holds gets no response; one that is refused gets a non-zero one, and
  // its request is gone.
  if (!attempt_ || response == 0) return;
  StopListeningToPortal();
  attempt_->portal_handle.clear();
  attempt_->portal_held = false;
  AskLogindAndScreenSaver();
}

void RunInhibitor::AskLogindAndScreenSaver() {
  const std::shared_ptr<Attempt> attempt = attempt_;
  attempt->parts_pending = 2;
  auto part_answered = [attempt] {
    if (--attempt->parts_pending == 0 && attempt->live && attempt->report) {
      ReportWhatIsMissing(*attempt);
    }
  };

  QDBusConnection system = QDBusConnection::systemBus();
  if (!system.isConnected()) {
    attempt->suspend_failure = "no D-Bus system bus";
    part_answered();
  } else {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kLogindService, kLogindPath, kLogindInterface, "Inhibit");
    call << QString("sleep:idle") << QString(kAppName) << attempt->reason << QString("block");
    auto* watcher = new QDBusPendingCallWatcher(system.asyncCall(call, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [attempt, part_answered](QDBusPendingCallWatcher* finished) {
              finished->deleteLater();
              const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *finished;
              if (reply.isError()) {
                attempt->suspend_failure = "logind: " + reply.error().message();
              } else if (attempt->live) {
                attempt->logind_fd = reply.value();
              }
              part_answered();
            });
  }

  QDBusConnection session = QDBusConnection::sessionBus();
  if (!session.isConnected()) {
    attempt->idle_failure = "no D-Bus session bus";
    part_answered();
  } else {
    QDBusMessage call = QDBusMessage::createMethodCall(kScreenSaverService, kScreenSaverPath,
                                                       kScreenSaverInterface, "Inhibit");
    call << QString(kAppName) << attempt->reason;
    auto* watcher = new QDBusPendingCallWatcher(session.asyncCall(call, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [attempt, part_answered](QDBusPendingCallWatcher* finished) {
              finished->deleteLater();
              const QDBusPendingReply<uint> reply = *finished;
              if (reply.isError()) {
                attempt->idle_failure = "screen saver: " + reply.error().message();
              } else {
                attempt->screen_saver_cookie = reply.value();
                if (!attempt->live) GiveBack(*attempt);
              }
              part_answered();
            });
  }
}

void RunInhibitor::ReportWhatIsMissing(const Attempt& attempt) {
  QString what;
  QStringList why;
  if (!attempt.suspend_failure.isEmpty()) {
    what = "suspending";
    why << attempt.suspend_failure;
  }
  if (!attempt.idle_failure.isEmpty()) {
    what = what.isEmpty() ? "blanking the screen" : "suspending or blanking the screen";
    if (!why.contains(attempt.idle_failure)) why << attempt.idle_failure;
  }
  if (what.isEmpty()) return;
  std::fprintf(stderr, "%s: cannot keep the computer from %s during the run (%s)\n", kAppName,
               qPrintable(what), qPrintable(why.join("; ")));
}
