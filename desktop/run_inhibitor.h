// Keeps the computer awake while a treatment run plays: no suspend, no screen blanking or lock.
// Hold asks the desktop portal (org.freedesktop.portal.Inhibit, suspend and idle) where one runs
// on the session bus; without one, or when it refuses, it asks logind on the system bus
// (Inhibit "sleep:idle", keeping the file descriptor logind hands out) and the screen saver
// service on the session bus (org.freedesktop.ScreenSaver.Inhibit, keeping its cookie). Release
// gives back whatever was had. The buses are first reached at the first Hold.
//
// Every call is asynchronous, so neither a slow nor a missing service delays a step; an answer
// that arrives after Release is given back at once. Whatever could not be had is named in one
// line on stderr; the run goes on regardless. When the process ends, even by SIGKILL, the kernel
// closes the logind descriptor and the bus, seeing the connection go, lets the portal and the
// screen saver service drop theirs, so nothing outlives the program.
//
// Window thread only.
#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>
#include <memory>

class RunInhibitor : public QObject {
  Q_OBJECT

 public:
  explicit RunInhibitor(QObject* parent = nullptr);
  ~RunInhibitor() override;  // releases

 public slots:
  // Asks for the inhibition; reason is what the desktop shows ("Playing BX virus"). Does nothing
  // while already holding. report false: what cannot be had is not named again (a resumed step).
  void Hold(const QString& reason, bool report = true);
  // Gives back everything held or still asked for. Does nothing while not holding.
  void Release();

 private slots:
  void PortalResponded(uint response, const QVariantMap& results);

 private:
  struct Attempt;  // what one Hold asked for and got

  void AskPortal();
  void AskLogindAndScreenSaver();
  void StopListeningToPortal();
  static void GiveBack(Attempt& attempt);
  static void ReportWhatIsMissing(const Attempt& attempt);

  std::shared_ptr<Attempt> attempt_;
};
