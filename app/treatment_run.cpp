#include "treatment_run.h"

#include "audio_output.h"
#include "ddfs.h"

TreatmentRun::TreatmentRun(TToneGen* tone_gen, QTimer* step_timer, uint32_t* stream_handle,
                           QObject* parent)
    : QObject(parent),
      tone_gen_(tone_gen),
      step_timer_(step_timer),
      stream_handle_(stream_handle) {}

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
    if (!BASS_Init(-1, 44100, 0, window, nullptr)) return Fail(result, "BASS.dll error!");
    emit StepOpened(result.step, result.steps, step);
    StreamFrequency = step.Frequency;
    StreamAmplitude = 1.0L;
    *stream_handle_ = BASS_StreamCreate(44100, 2, 0, ToneStreamProc, nullptr);
    if (*stream_handle_ == 0) return Fail(result, "User-Stream kann nicht angelegt werden!");
    if (!BASS_ChannelPlay(*stream_handle_, 0)) {
      return Fail(result, "Wiedergabe kann nicht gestartet werden.");
    }
    step_running_ = true;
    step_timer_->start();
    emit StepStarted(result.step, result.steps, step);
    const bool ended = wait(step);
    step_running_ = false;
    step_timer_->stop();
    if (ending_) return Finish(result, RunEnd::ProgramEnded);  // no further step
    if (!ended) {
      EndRunByClosedWindow();
      return Finish(result, RunEnd::Closed);
    }
  }
  // The output is already free by then; the Zelk general run has always freed it once more.
  if (program.FreeOutputAtEnd) BASS_Free();
  return Finish(result, skipped_ ? RunEnd::SkippedThrough : RunEnd::Completed);
}

void TreatmentRun::EndStepByTimer() {
  tone_gen_->SetLoop(false);
  if (step_running_) {
    emit StepEnded(StepEnd::Timer);
  }
  tone_gen_->Stop();
  ReleaseOutput();
}

void TreatmentRun::EndStepBySkip() {
  tone_gen_->Stop();
  tone_gen_->SetLoop(false);
  ReleaseOutput();
  if (step_running_) {
    skipped_ = true;
    emit StepEnded(StepEnd::Skip);
  }
}

// The user closed the Current frequency window: the run ends there, in silence.
void TreatmentRun::EndRunByClosedWindow() {
  tone_gen_->Stop();
  ReleaseOutput();
}

void TreatmentRun::EndProgram() {
  if (ending_) return;
  ending_ = true;
  step_timer_->stop();
  tone_gen_->Stop();
  ReleaseOutput();
  if (step_running_) emit StepEnded(StepEnd::ProgramEnd);
}

// The code is read before anything else touches the output; the failed step's output is freed
// so that the next run starts from a closed output.
bool TreatmentRun::Fail(RunResult& result, const QString& message) {
  result.code = BASS_ErrorGetCode();
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
