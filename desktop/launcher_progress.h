// The run's progress on the desktop's task bar or dock: the com.canonical.Unity.LauncherEntry
// signal Update for the program's desktop entry (application://org.zelkgen.Zelkgen.desktop),
// carrying "progress" (0 to 1) and "progress-visible", which KDE Plasma's task manager and other
// docks show on the program's entry. A signal needs no answer: without a session bus or anyone
// listening nothing happens. The session bus is first reached at the first Show.
//
// Window thread only.
#pragma once

#include <QObject>
#include <QVariantMap>

class LauncherProgress : public QObject {
  Q_OBJECT

 public:
  explicit LauncherProgress(QObject* parent = nullptr);
  ~LauncherProgress() override;  // hides

 public slots:
  // Shows the progress bar on the entry at fraction (clamped to 0..1).
  void Show(double fraction);
  // Takes it away again; does nothing while not shown.
  void Hide();

 private:
  static void Publish(const QVariantMap& properties);

  bool shown_ = false;
};
