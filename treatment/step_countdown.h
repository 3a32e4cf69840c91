// How far a treatment run has got while a step plays: which step of how many, the time left in
// the step and in the whole run, and whether the step is paused. The step's time left is the
// run's own (its step deadline), so what is shown keeps to the deadline and adds no drift of its
// own. Faces show it: the windows as a tooltip and a line in the step window, the player without
// a window as its status line, the task bar as the share of the run gone by.
//
// TimeLeft is emitted when a step's tone starts, each time the shown second changes, and when the
// step is paused or resumed; Cleared when the step ends or the run ends without one. One
// single-shot timer, armed only while a step plays unpaused, re-armed for just after the next
// whole second of the step's time left.
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
  qint64 run_ms = 0;  // the whole run: every step's period
  bool paused = false;
  bool output_away = false;  // the output went away and is being opened again; time stands still
};

// "Step 3 of 10, 2:41 left", and ", paused" after it while paused.
QString StepTimeLeftText(const StepProgress& progress);
// The same for a line of its own: "Step 3 of 10 · 2:41 left", " · paused" after it while paused.
QString StepTimeLeftLine(const StepProgress& progress);
// The share of the run's time gone by, 0 to 1: a skipped step counts as gone by.
double RunElapsedFraction(const StepProgress& progress);

class StepCountdown : public QObject {
  Q_OBJECT

 public:
  // Follows run's steps; run is not owned and must outlive the object.
  explicit StepCountdown(const TreatmentRun* run, QObject* parent = nullptr);

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
  QTimer ticker_;
  StepProgress progress_;
};
