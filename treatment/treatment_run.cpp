#include "treatment_run.h"

#include "audio_output.h"
#include "ddfs.h"

namespace {

// A wait of the event loop ends up to a thousandth of its length late (at most 100 ms). The run
// wakes the loop 2 s before the step's deadline and again 20 ms before it, so that the step
// timer's own last wait is at most 20 ms long.
constexpr qint64 kFirstWakeBeforeMs = 2000;
constexpr qint64 kLastWaitMs = 20;

const char* const kPlayFailed = "Wiedergabe kann nicht gestartet werden.";

}  // namespace

TreatmentRun::TreatmentRun(TToneGen* tone_gen, QTimer* step_timer, uint32_t* stream_handle,
                           QObject* parent)
    : QObject(parent),
      tone_gen_(tone_gen),
      step_timer_(step_timer),
      stream_handle_(stream_handle),
      output_watch_(new OutputWatch(this)) {
  // A coarse timer may fire 5 % early or late: 9 s either way on a three-minute step.
  step_timer_->setTimerType(Qt::PreciseTimer);
  connect(step_timer_, &QTimer::timeout, this, &TreatmentRun::EndStepByTimer);
  deadline_approach_.setSingleShot(true);
  deadline_approach_.setTimerType(Qt::PreciseTimer);
  connect(&deadline_approach_, &QTimer::timeout, this, &TreatmentRun::ApproachDeadline);
  connect(output_watch_, &OutputWatch::Lost, this, &TreatmentRun::OutputLost);
  connect(output_watch_, &OutputWatch::Resumed, this, &TreatmentRun::OutputResumed);
  connect(output_watch_, &OutputWatch::GaveUp, this, &TreatmentRun::EndStepByLostOutput);
}

void TreatmentRun::ReleaseOutput() {
  BASS_Stop();
  BASS_Free();
}

bool TreatmentRun::Run(const TreatmentProgram& program, const StepWait& wait, void* window) {
  if (step_running_ || ending_) return false;
  RunResult result;
  result.program = &program;
  result.steps = static_cast<int>(program.Steps.size());
  skipped_ = false;
  emit RunStarted(program);
  step_timer_->stop();
  for (const TreatmentStep& step : program.Steps) {
    ++result.step;
    if (!BASS_Init(-1, 44100, 0, window, nullptr)) {
      return Fail(result, "BASS.dll error!", BASS_ErrorGetCode());
    }
    emit StepOpened(result.step, result.steps, step);
    StreamFrequency = step.Frequency;
    StreamAmplitude = 1.0L;
    *stream_handle_ = BASS_StreamCreate(44100, 2, 0, ToneStreamProc, nullptr);
    if (*stream_handle_ == 0) {
      return Fail(result, "User-Stream kann nicht angelegt werden!", BASS_ErrorGetCode());
    }
    // The tone lasts the step's period to the frame, 44.1 frames per millisecond.
    AudioOutputLimitStream(static_cast<uint64_t>(step_timer_->interval()) * 441 / 10);
    if (!BASS_ChannelPlay(*stream_handle_, 0)) {
      return Fail(result, kPlayFailed, BASS_ErrorGetCode());
    }
    step_running_ = true;
    output_failed_ = false;
    StartStepTimer();
    output_watch_->Start();
    emit StepStarted(result.step, result.steps, step);
    const bool ended = wait(step);
    step_running_ = false;
    output_watch_->Stop();
    deadline_approach_.stop();
    step_timer_->stop();
    if (ending_) return Finish(result, RunEnd::ProgramEnded);  // no further step
    if (output_failed_) return Fail(result, kPlayFailed, output_failed_code_);
    if (!ended) {
      EndRunByClosedWindow();
      return Finish(result, RunEnd::Closed);
    }
  }
  // The output is already free by then; the Zelk general run has always freed it once more.
  if (program.FreeOutputAtEnd) BASS_Free();
  return Finish(result, skipped_ ? RunEnd::SkippedThrough : RunEnd::Completed);
}

void TreatmentRun::StartStepTimer() {
  step_timer_->start();
  step_deadline_ = QDeadlineTimer(step_timer_->interval(), Qt::PreciseTimer);
  ApproachDeadline();
}

// The next wake on the way to the deadline; it only has to end the event loop's wait.
void TreatmentRun::ApproachDeadline() {
  const qint64 left = step_deadline_.remainingTime();
  if (left <= kLastWaitMs) return;
  deadline_approach_.start(left > kFirstWakeBeforeMs ? left - kFirstWakeBeforeMs
                                                     : left - kLastWaitMs);
}

void TreatmentRun::ReleaseStepOutput() {
  output_watch_->Stop();
  ReleaseOutput();
}

void TreatmentRun::EndStepByTimer() {
  tone_gen_->SetLoop(false);
  if (step_running_) {
    emit StepEnded(StepEnd::Timer);
  }
  tone_gen_->Stop();
  ReleaseStepOutput();
}

void TreatmentRun::EndStepBySkip() {
  tone_gen_->Stop();
  tone_gen_->SetLoop(false);
  ReleaseStepOutput();
  if (step_running_) {
    skipped_ = true;
    emit StepEnded(StepEnd::Skip);
  }
}

// The user closed the Current frequency window: the run ends there, in silence.
void TreatmentRun::EndRunByClosedWindow() {
  tone_gen_->Stop();
  ReleaseStepOutput();
}

// The watch gave up on the output: the step fails as a failed BASS_ChannelPlay would, once the
// face's wait has returned.
void TreatmentRun::EndStepByLostOutput(int code) {
  if (!step_running_) return;
  output_failed_ = true;
  output_failed_code_ = code;
  step_timer_->stop();
  ReleaseOutput();
  emit StepEnded(StepEnd::OutputLost);
}

void TreatmentRun::EndProgram() {
  if (ending_) return;
  ending_ = true;
  step_timer_->stop();
  tone_gen_->Stop();
  ReleaseStepOutput();
  if (step_running_) emit StepEnded(StepEnd::ProgramEnd);
}

// The caller reads the code before anything else touches the output; the failed step's output is
// freed so that the next run starts from a closed output.
bool TreatmentRun::Fail(RunResult& result, const QString& message, int code) {
  result.code = code;
  result.message = message;
  BASS_Free();
  emit AudioFailed(message, result.code);
  return Finish(result, RunEnd::Failed);
}

bool TreatmentRun::Finish(RunResult& result, RunEnd how) {
  result.how = how;
  emit RunEnded(result);
  return true;
}
