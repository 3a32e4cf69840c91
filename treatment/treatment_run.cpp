#include "treatment_run.h"

#include <algorithm>

#include "ddfs.h"

namespace {

// A wait of the event loop ends up to a thousandth of its length late (at most 100 ms). The run
// wakes the loop 2 s before the step's deadline and again 20 ms before it, so that the step
// timer's own last wait is at most 20 ms long.
constexpr qint64 kFirstWakeBeforeMs = 2000;
constexpr qint64 kLastWaitMs = 20;

// How often the wait for what the output holds looks whether it has played.
constexpr int kPlayOutLookMs = 5;
// What the output holds is waited for at most as long as it takes to play and this much more: a
// device that stops taking sound meanwhile does not hold the step.
constexpr qint64 kPlayOutSlackMs = 1000;
constexpr qint64 kNsPerMs = 1000000;

}  // namespace

TreatmentRun::TreatmentRun(QTimer* step_timer, uint32_t* stream_handle, QObject* parent)
    : QObject(parent), step_timer_(step_timer), sound_card_(stream_handle), output_(&sound_card_) {
  // A coarse timer may fire 5 % early or late: 9 s either way on a three-minute step.
  step_timer_->setTimerType(Qt::PreciseTimer);
  connect(step_timer_, &QTimer::timeout, this, &TreatmentRun::StepTimeUp);
  deadline_approach_.setSingleShot(true);
  deadline_approach_.setTimerType(Qt::PreciseTimer);
  connect(&deadline_approach_, &QTimer::timeout, this, &TreatmentRun::ApproachDeadline);
  play_out_.setInterval(kPlayOutLookMs);
  play_out_.setTimerType(Qt::PreciseTimer);
  connect(&play_out_, &QTimer::timeout, this, &TreatmentRun::LookAtPlayOut);
  Follow(&sound_card_);
}

void TreatmentRun::Follow(StepOutput* output) {
  output->SetAwayHandler([this](bool away) { OutputAwayChanged(away); });
  output->SetFailureHandler([this](const StepOutputError& error) {
    if (step_running_) FailStep(error);
  });
  output->SetPauseSettledHandler([this] { PausedOutputLetGo(); });
}

bool TreatmentRun::UseOutput(StepOutput* output) {
  if (running_) return false;
  if (output_ != &sound_card_) {
    output_->SetAwayHandler(nullptr);
    output_->SetFailureHandler(nullptr);
    output_->SetPauseSettledHandler(nullptr);
  }
  output_ = output != nullptr ? output : &sound_card_;
  Follow(output_);
  return true;
}

bool TreatmentRun::Run(const TreatmentProgram& program, const StepWait& wait, void* window) {
  if (running_ || ending_) return false;
  running_ = true;
  const struct NotRunningAtReturn {
    bool& running;
    ~NotRunningAtReturn() { running = false; }
  } not_running_at_return{running_};
  RunResult result;
  result.program = &program;
  result.steps = static_cast<int>(program.Steps.size());
  skipped_ = false;
  output_error_ = {};
  program_ = &program;
  base_period_ms_ = step_timer_->interval();
  sound_card_.SetWindow(window);
  output_->BeginRun(program, base_period_ms_);
  emit RunStarted(program);
  step_timer_->stop();
  bool joined = false;  // the step sounds already, joined to the previous one
  for (const TreatmentStep& step : program.Steps) {
    ++result.step;
    step_index_ = result.step - 1;
    if (!joined && !OpenOutput(result.step == 1)) {
      if (ending_) return Finish(result, RunEnd::ProgramEnded);
      return Fail(result, output_->LastError());
    }
    emit StepOpened(result.step, result.steps, step);
    step_period_ms_ = PeriodOf(step);
    step_timer_->setInterval(step_period_ms_);
    StepRequest request;
    request.Step = step;
    request.Shape = step.Shape.value_or(OutputWaveShape.load());
    request.DurationMs = step_period_ms_;
    request.Index = step_index_;
    if (!output_->StartStep(request)) return Fail(result, output_->LastError());
    step_running_ = true;
    output_failed_ = false;
    ended_by_join_ = false;
    output_away_ = false;
    StartStepTimer(qint64{step_period_ms_} * kNsPerMs);
    emit StepStarted(result.step, result.steps, step);
    const bool ended = wait(step);
    step_running_ = false;
    output_away_ = false;
    joined = ended && ended_by_join_;
    paused_ = false;
    deadline_approach_.stop();
    step_timer_->stop();
    // A resumed step's timer ran out only its time left.
    step_timer_->setInterval(step_period_ms_);
    if (ending_) return Finish(result, RunEnd::ProgramEnded);  // no further step
    if (output_failed_) return Fail(result, output_error_);
    if (!ended) {
      EndRunByClosedWindow();
      return Finish(result, RunEnd::Closed);
    }
  }
  // The sound card is already free by then; the Zelk general run has always freed it once more.
  if (program.FreeOutputAtEnd && output_->ReleasedAtStepEnds()) output_->Close();
  return Finish(result, skipped_ ? RunEnd::SkippedThrough : RunEnd::Completed);
}

bool TreatmentRun::OpenOutput(bool first_step) {
  if (!first_step && !output_->ReleasedAtStepEnds()) return true;
  return output_->Open();
}

int TreatmentRun::PeriodOf(const TreatmentStep& step) const {
  return StepPeriodMs(step, base_period_ms_);
}

qint64 TreatmentRun::TimeAfterStepMs() const {
  return program_ == nullptr ? 0 : PeriodsMs(*program_, base_period_ms_, step_index_ + 1);
}

qint64 TreatmentRun::RunTimeMs() const {
  return program_ == nullptr ? 0 : PeriodsMs(*program_, base_period_ms_);
}

void TreatmentRun::StartStepTimer(qint64 left_ns) {
  // Whole milliseconds, rounded up: the deadline keeps the nanoseconds.
  step_timer_->start(static_cast<int>((left_ns + kNsPerMs - 1) / kNsPerMs));
  step_deadline_.setPreciseRemainingTime(0, left_ns, Qt::PreciseTimer);
  ApproachDeadline();
}

qint64 TreatmentRun::StepTimeLeft() const {
  if (!step_running_) return 0;
  if (paused_) return paused_left_ns_ / kNsPerMs;
  if (output_away_) return away_left_ns_ / kNsPerMs;
  return std::max<qint64>(step_deadline_.remainingTime(), 0);
}

// The next wake on the way to the deadline; it only has to end the event loop's wait.
void TreatmentRun::ApproachDeadline() {
  const qint64 left = step_deadline_.remainingTime();
  if (left <= kLastWaitMs) return;
  deadline_approach_.start(left > kFirstWakeBeforeMs ? left - kFirstWakeBeforeMs
                                                     : left - kLastWaitMs);
}

void TreatmentRun::ReleaseStepOutput() {
  play_out_.stop();
  output_->EndStep();
}

bool TreatmentRun::PauseStep() {
  // A step whose time is up only lets its last frames play, or the next step has begun to sound.
  if (!step_running_ || paused_ || ending_ || play_out_.isActive() ||
      output_->NextStepHasTakenOver()) {
    return false;
  }
  paused_left_ns_ =
      output_away_ ? away_left_ns_ : std::max<qint64>(step_deadline_.remainingTimeNSecs(), 0);
  output_away_ = false;
  play_out_.stop();
  paused_ = true;
  pause_released_ = false;
  step_timer_->stop();
  deadline_approach_.stop();
  // A generator that does not answer fails by its failure handler, after its retries.
  output_->Pause();
  emit StepPaused();
  // An output that stays open through the run is silent once Pause returns.
  if (!output_->ReleasedAtStepEnds()) PausedOutputLetGo();
  return true;
}

void TreatmentRun::PausedOutputLetGo() {
  if (!paused_ || pause_released_) return;
  pause_released_ = true;
  emit PausedOutputReleased();
}

bool TreatmentRun::ResumeStep() {
  if (!step_running_ || !paused_ || ending_) return false;
  if (output_->StepComplete()) {
    // Paused in its last moment: nothing is left to play.
    paused_ = false;
    EndStepByTimer();
    return true;
  }
  if (!output_->Resume()) {
    // EndProgram may have given the output's open up meanwhile.
    if (!ending_) FailStep(output_->LastError());
    return true;
  }
  paused_ = false;
  StartStepTimer(paused_left_ns_);
  emit StepResumed();
  return true;
}

bool TreatmentRun::TogglePause() {
  return paused_ ? ResumeStep() : PauseStep();
}

// The step timer's event: the step's time is up by the clock. Its output ends once it has played
// all it was given (the sound card's last frame may still be in the device's and the sound
// server's buffers); then EndStepByTimer.
void TreatmentRun::StepTimeUp() {
  if (step_running_ && !paused_ && output_->NextStepHasTakenOver()) {
    EndStepByJoin();
    return;
  }
  if (!step_running_ || paused_ || output_->PlayedOut(true)) {
    EndStepByTimer();
    return;
  }
  step_timer_->stop();
  deadline_approach_.stop();
  play_out_limit_.setRemainingTime(output_->PlayOutLeftMs() + kPlayOutSlackMs);
  play_out_.start();
}

void TreatmentRun::LookAtPlayOut() {
  if (output_->NextStepHasTakenOver()) {
    EndStepByJoin();
  } else if (output_->PlayedOut(false) || play_out_limit_.hasExpired()) {
    EndStepByTimer();
  }
}

void TreatmentRun::OutputAwayChanged(bool away) {
  // The step's time stands still before the faces hear of the loss, and runs on before they hear
  // of the output's return.
  if (away) {
    HoldStepTime();
    emit OutputLost();
  } else {
    RunStepTimeOn();
    emit OutputResumed();
  }
}

// The output went away: nothing of the step sounds until it is back, so its time stands still
// meanwhile and the step still sounds for all its period.
void TreatmentRun::HoldStepTime() {
  if (!step_running_ || paused_ || output_away_) return;
  output_away_ = true;
  // 0 when its time was up already and its last frames were playing out.
  away_left_ns_ =
      play_out_.isActive() ? 0 : std::max<qint64>(step_deadline_.remainingTimeNSecs(), 0);
  play_out_.stop();
  step_timer_->stop();
  deadline_approach_.stop();
}

void TreatmentRun::RunStepTimeOn() {
  if (!output_away_) return;
  output_away_ = false;
  if (!step_running_ || paused_) return;
  if (away_left_ns_ > 0) {
    StartStepTimer(away_left_ns_);
  } else {
    StepTimeUp();
  }
}

void TreatmentRun::EndStepByTimer() {
  emit ToneGenLoopClearNeeded();
  if (step_running_) {
    emit StepEnded(StepEnd::Timer);
  }
  emit ToneGenStopNeeded();
  ReleaseStepOutput();
}

// The next step sounds already, from the frame after this one's last: the step ends as by its
// timer, with the output left playing.
void TreatmentRun::EndStepByJoin() {
  play_out_.stop();
  output_->EndStepIntoNext();
  emit ToneGenLoopClearNeeded();
  ended_by_join_ = true;
  emit StepEnded(StepEnd::Timer);
  emit ToneGenStopNeeded();
}

void TreatmentRun::EndStepBySkip() {
  emit ToneGenStopNeeded();
  emit ToneGenLoopClearNeeded();
  ReleaseStepOutput();
  if (step_running_) {
    skipped_ = true;
    emit StepEnded(StepEnd::Skip);
  }
}

// The user closed the Current frequency window: the run ends there, in silence.
void TreatmentRun::EndRunByClosedWindow() {
  emit ToneGenStopNeeded();
  ReleaseStepOutput();
}

void TreatmentRun::FailStep(const StepOutputError& error) {
  output_failed_ = true;
  output_error_ = error;
  step_timer_->stop();
  ReleaseStepOutput();
  emit StepEnded(StepEnd::OutputLost);
}

void TreatmentRun::EndProgram() {
  if (ending_) return;
  ending_ = true;
  output_->CancelOpen();
  step_timer_->stop();
  emit ToneGenStopNeeded();
  ReleaseStepOutput();
  if (step_running_) emit StepEnded(StepEnd::ProgramEnd);
}

// The caller reads the code before anything else touches the output; the failed output is closed,
// so that the next run starts from a closed output.
bool TreatmentRun::Fail(RunResult& result, const StepOutputError& error) {
  output_error_ = error;
  result.code = error.SystemCode;
  result.message = QString::fromStdString(error.Message);
  result.advice = QString::fromStdString(error.Advice);
  output_->Close();
  emit AudioFailed(result.message, result.code);
  return Finish(result, RunEnd::Failed);
}

bool TreatmentRun::Finish(RunResult& result, RunEnd how) {
  // An output opened for the run is let go at every end (a failed one is closed already).
  if (how != RunEnd::Failed && !output_->ReleasedAtStepEnds()) output_->Close();
  // The step timer's own period again, for the built-in steps of the next run.
  step_timer_->setInterval(base_period_ms_);
  program_ = nullptr;
  result.how = how;
  emit RunEnded(result);
  return true;
}
