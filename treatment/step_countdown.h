// How far a treatment run has got while a step plays: which step of how many, the time left in
// the step and in the whole run. The step's time left is the step timer's own remaining time, so
// what is shown keeps to the step's deadline and adds no drift of its own. Faces show it: the
// windows as a tooltip, the player without a window as its status line.
//
// TimeLeft is emitted when a step's tone starts and then each time the shown second changes;
// Cleared when the step ends or the run ends without one. One single-shot timer, armed only
// while a step plays, re-armed for just after the next whole second of the step's time left.
//
// Thread of the run only.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include "treatment_programs.h"
#include "treatment_run.h"

struct StepProgress {
  int step = 0;  // from 1
  int steps = 0;
  const TreatmentStep* what = nullptr;
  int step_left_ms = 0;
  // The step's time left and the periods of the steps after it.
  qint64 run_left_ms = 0;
};

// Minutes and seconds, "2:41", the seconds rounded up: a countdown shows 0:01 in its last second.
QString ClockText(qint64 ms);
// "Step 3 of 10, 2:41 left".
QString StepTimeLeftText(const StepProgress& progress);

class StepCountdown : public QObject {
  Q_OBJECT

 public:
  // Follows run's steps; step_timer is the run's step timer. Neither is owned; both must
  // outlive the object.
  StepCountdown(const TreatmentRun* run, const QTimer* step_timer, QObject* parent = nullptr);

  // True while a step plays.
  bool Counting() const { return progress_.step != 0; }

 signals:
  void TimeLeft(const StepProgress& progress);
  void Cleared();

 private:
  void Start(int step, int steps, const TreatmentStep& what);
  void Tick();
  void Stop();

  const TreatmentRun* run_;
  const QTimer* step_timer_;
  QTimer ticker_;
  StepProgress progress_;
};
