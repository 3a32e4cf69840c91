// The desktop notification at the end of a treatment run: one org.freedesktop.Notifications
// Notify per run, from "zelkgen", saying which program ended and how ("Zelk general: finished",
// "BX virus: stopped at step 1 of 2", "BX virus: failed at step 2 of 2"). Without a session bus
// or a notification service nothing happens. The session bus is first reached at the first
// notification.
//
// Window thread only.
#pragma once

#include <QObject>
#include <QString>

// How a treatment run ended.
enum class RunOutcome {
  Finished,  // the last step ended, by its timer or Skip
  Stopped,   // the run was broken off (its window closed, the program ended)
  Failed,    // the sound output failed; the run ended at that step
};

// "<program>: finished", "<program>: stopped at step <step> of <step_count>" or
// "<program>: failed at step <step> of <step_count>".
QString RunEndSummary(const QString& program_name, RunOutcome how, int step, int step_count);

class RunNotifier : public QObject {
  Q_OBJECT

 public:
  explicit RunNotifier(QObject* parent = nullptr);

 public slots:
  // Sends the notification: RunEndSummary as its summary, detail (e.g. the audio error's
  // message) as its body. A failure is sent as urgent, so the desktop keeps it until it is seen.
  void RunEnded(const QString& program_name, RunOutcome how, int step, int step_count,
                const QString& detail = {});
};
