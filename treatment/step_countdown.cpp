#include "step_countdown.h"

#include <algorithm>

#include "clock_text.h"

namespace {

// The tick comes this long after the time left has crossed a whole second, so that the new
// second is the one read.
constexpr int kPastTheSecondMs = 5;

}  // namespace

QString StepTimeLeftText(const StepProgress& progress) {
  return QStringLiteral("Step %1 of %2, %3 left%4")
      .arg(progress.step)
      .arg(progress.steps)
      .arg(QString::fromStdString(ClockTextRoundedUp(progress.step_left_ms)),
           progress.paused ? ", paused" : "");
}

QString StepTimeLeftLine(const StepProgress& progress) {
  return QStringLiteral("Step %1 of %2 \u00b7 %3 left%4")
      .arg(progress.step)
      .arg(progress.steps)
      .arg(QString::fromStdString(ClockTextRoundedUp(progress.step_left_ms)),
           progress.paused ? QStringLiteral(" \u00b7 paused") : "");
}

double RunElapsedFraction(const StepProgress& progress) {
  if (progress.run_ms <= 0) return 0.0;
  return std::clamp(1.0 - double(progress.run_left_ms) / double(progress.run_ms), 0.0, 1.0);
}

StepCountdown::StepCountdown(const TreatmentRun* run, QObject* parent)
    : QObject(parent), run_(run) {
  ticker_.setSingleShot(true);
  ticker_.setTimerType(Qt::PreciseTimer);
  connect(&ticker_, &QTimer::timeout, this, &StepCountdown::Tick);
  connect(run, &TreatmentRun::StepStarted, this, &StepCountdown::Start);
  connect(run, &TreatmentRun::StepEnded, this, &StepCountdown::Stop);
  connect(run, &TreatmentRun::StepPaused, this, &StepCountdown::Tick);
  connect(run, &TreatmentRun::StepResumed, this, &StepCountdown::Tick);
  connect(run, &TreatmentRun::OutputLost, this, &StepCountdown::Tick);
  connect(run, &TreatmentRun::OutputResumed, this, &StepCountdown::Tick);
  // A step given up (its window closed) ends the run without StepEnded.
  connect(run, &TreatmentRun::RunEnded, this, &StepCountdown::Stop);
}

void StepCountdown::Start(int step, int steps, const TreatmentStep& what) {
  progress_.step = step;
  progress_.steps = steps;
  progress_.what = &what;
  Tick();
}

void StepCountdown::Tick() {
  if (!Counting()) return;
  const qint64 left = run_->StepTimeLeft();
  progress_.step_left_ms = static_cast<int>(left);
  progress_.run_left_ms = left + run_->TimeAfterStepMs();
  progress_.run_ms = run_->RunTimeMs();
  progress_.paused = run_->Paused();
  progress_.output_away = run_->OutputAway();
  emit TimeLeft(progress_);
  if (progress_.paused || progress_.output_away) {
    ticker_.stop();
    return;
  }
  // The shown second changes when the time left falls to the next whole second down.
  ticker_.start(static_cast<int>(left > 0 ? (left - 1) % 1000 + 1 : 0) + kPastTheSecondMs);
}

void StepCountdown::Stop() {
  ticker_.stop();
  if (!Counting()) return;
  progress_ = StepProgress{};
  emit Cleared();
}
