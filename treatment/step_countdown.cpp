#include "step_countdown.h"

#include <algorithm>

namespace {

// The tick comes this long after the time left has crossed a whole second, so that the new
// second is the one read.
constexpr int kPastTheSecondMs = 5;

}  // namespace

QString ClockText(qint64 ms) {
  const qint64 seconds = (std::max<qint64>(ms, 0) + 999) / 1000;
  return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QChar('0'));
}

QString StepTimeLeftText(const StepProgress& progress) {
  return QStringLiteral("Step %1 of %2, %3 left")
      .arg(progress.step)
      .arg(progress.steps)
      .arg(ClockText(progress.step_left_ms));
}

StepCountdown::StepCountdown(const TreatmentRun* run, const QTimer* step_timer, QObject* parent)
    : QObject(parent), run_(run), step_timer_(step_timer) {
  ticker_.setSingleShot(true);
  ticker_.setTimerType(Qt::PreciseTimer);
  connect(&ticker_, &QTimer::timeout, this, &StepCountdown::Tick);
  connect(run, &TreatmentRun::StepStarted, this, &StepCountdown::Start);
  connect(run, &TreatmentRun::StepEnded, this, &StepCountdown::Stop);
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
  const int left = std::max(step_timer_->remainingTime(), 0);
  progress_.step_left_ms = left;
  progress_.run_left_ms = left + run_->TimeAfterStepMs();
  emit TimeLeft(progress_);
  // The shown second changes when the time left falls to the next whole second down.
  ticker_.start((left > 0 ? (left - 1) % 1000 + 1 : 0) + kPastTheSecondMs);
}

void StepCountdown::Stop() {
  ticker_.stop();
  if (!Counting()) return;
  progress_ = StepProgress{};
  emit Cleared();
}
