#include "treatment_run.h"

#include <QEventLoop>
#include <algorithm>

#include "audio_format.h"
#include "audio_output.h"
#include "step_sound.h"

namespace {

// A wait of the event loop ends up to a thousandth of its length late (at most 100 ms). The run
// wakes the loop 2 s before the step's deadline and again 20 ms before it, so that the step
// timer's own last wait is at most 20 ms long.
constexpr qint64 kFirstWakeBeforeMs = 2000;
constexpr qint64 kLastWaitMs = 20;

// What the device's and the sound server's buffers hold when a pause stops the stream (some 20
// to 40 ms of it) plays out within this time; then the paused step's output is released.
constexpr int kPauseReleaseMs = 250;

const char* const kInitFailed = "BASS.dll error!";
const char* const kCreateFailed = "User-Stream kann nicht angelegt werden!";
const char* const kPlayFailed = "Wiedergabe kann nicht gestartet werden.";

// How often the wait for an opening output looks whether the open has finished, and the wait for a
// step's last frames whether they have played.
constexpr int kOpenLookMs = 5;
constexpr int kPlayOutLookMs = 5;
// A step's last frames are waited for at most as long as they take to play and this much more: a
// device that stops taking sound meanwhile does not hold the step.
constexpr qint64 kPlayOutSlackMs = 1000;
constexpr qint64 kNsPerMs = 1000000;

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
  connect(step_timer_, &QTimer::timeout, this, &TreatmentRun::StepTimeUp);
  deadline_approach_.setSingleShot(true);
  deadline_approach_.setTimerType(Qt::PreciseTimer);
  connect(&deadline_approach_, &QTimer::timeout, this, &TreatmentRun::ApproachDeadline);
  pause_release_.setSingleShot(true);
  pause_release_.setInterval(kPauseReleaseMs);
  connect(&pause_release_, &QTimer::timeout, this, &TreatmentRun::ReleasePausedOutput);
  play_out_.setInterval(kPlayOutLookMs);
  play_out_.setTimerType(Qt::PreciseTimer);
  connect(&play_out_, &QTimer::timeout, this, &TreatmentRun::LookAtPlayOut);
  // The step's time stands still before the faces hear of the loss, and runs on before they hear
  // of the tone's return.
  connect(output_watch_, &OutputWatch::Lost, this, &TreatmentRun::HoldStepTime);
  connect(output_watch_, &OutputWatch::Resumed, this, &TreatmentRun::RunStepTimeOn);
  connect(output_watch_, &OutputWatch::Lost, this, &TreatmentRun::OutputLost);
  connect(output_watch_, &OutputWatch::Resumed, this, &TreatmentRun::OutputResumed);
  connect(output_watch_, &OutputWatch::GaveUp, this, &TreatmentRun::EndStepByLostOutput);
}

void TreatmentRun::ReleaseOutput() {
  BASS_Stop();
  BASS_Free();
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
  program_ = &program;
  base_period_ms_ = step_timer_->interval();
  window_ = window;
  // Every run starts its oscillator where an export of the program starts it, so each run sounds
  // the same, frame for frame.
  oscillator_ = ExactOscillator{};
  joining_ = std::all_of(program.Steps.begin(), program.Steps.end(),
                         [](const TreatmentStep& step) { return step.Exact; });
  emit RunStarted(program);
  step_timer_->stop();
  bool joined = false;  // the step's frames follow the previous step's in the open output
  for (const TreatmentStep& step : program.Steps) {
    ++result.step;
    step_index_ = result.step - 1;
    if (!joined && !InitOutput(window)) {
      if (ending_) return Finish(result, RunEnd::ProgramEnded);
      return Fail(result, kInitFailed, BASS_ErrorGetCode());
    }
    emit StepOpened(result.step, result.steps, step);
    step_period_ms_ = PeriodOf(step);
    step_timer_->setInterval(step_period_ms_);
    step_frames_ = FramesForMs(static_cast<uint64_t>(step_period_ms_));
    if (joined) {
      step_sound_ = {JoinedStepProc, &joined_steps_[step_index_ % 2]};
    } else {
      step_sound_ = PrepareStepSound(step, step_frames_, oscillator_);
      if (joining_) {
        // The tone is set already: no stream plays yet.
        step_sound_ = ArmJoinedStep(step_index_, step, step_frames_);
        joined_steps_[step_index_ % 2].toned = true;
      }
      *stream_handle_ =
          BASS_StreamCreate(kFramesPerSecond, kChannels, 0, step_sound_.proc, step_sound_.user);
      if (*stream_handle_ == 0) {
        return Fail(result, kCreateFailed, BASS_ErrorGetCode());
      }
      // The tone lasts the step's period to the frame.
      AudioOutputLimitStream(step_frames_);
      if (!BASS_ChannelPlay(*stream_handle_, 0)) {
        return Fail(result, kPlayFailed, BASS_ErrorGetCode());
      }
    }
    frames_released_ = 0;
    joins_seen_ = AudioOutputStreamJoins();
    JoinNextStep();
    step_running_ = true;
    output_failed_ = false;
    ended_by_join_ = false;
    output_away_ = false;
    StartStepTimer(qint64{step_period_ms_} * kNsPerMs);
    output_watch_->Start();
    emit StepStarted(result.step, result.steps, step);
    const bool ended = wait(step);
    step_running_ = false;
    output_away_ = false;
    joined = ended && ended_by_join_;
    paused_ = false;
    pause_release_.stop();
    output_watch_->Stop();
    deadline_approach_.stop();
    step_timer_->stop();
    // A resumed step's timer ran out only its time left.
    step_timer_->setInterval(step_period_ms_);
    if (ending_) return Finish(result, RunEnd::ProgramEnded);  // no further step
    if (output_failed_) return Fail(result, output_failed_message_, output_failed_code_);
    if (!ended) {
      EndRunByClosedWindow();
      return Finish(result, RunEnd::Closed);
    }
  }
  // The output is already free by then; the Zelk general run has always freed it once more.
  if (program.FreeOutputAtEnd) BASS_Free();
  return Finish(result, skipped_ ? RunEnd::SkippedThrough : RunEnd::Completed);
}

StepSound TreatmentRun::ArmJoinedStep(size_t index, const TreatmentStep& step, uint64_t frames) {
  JoinedStep& slot = joined_steps_[index % 2];
  slot = JoinedStep{&step, frames, &oscillator_, false};
  return {JoinedStepProc, &slot};
}

// Readies the step after the current one to follow it in the open output. Its slot is the one
// the step before the current one used, which the audio thread has left for good.
void TreatmentRun::JoinNextStep() {
  next_joined_ = false;
  if (!joining_ || program_ == nullptr || step_index_ + 1 >= program_->Steps.size()) return;
  const TreatmentStep& next = program_->Steps[step_index_ + 1];
  const uint64_t frames = FramesForMs(static_cast<uint64_t>(PeriodOf(next)));
  const StepSound sound = ArmJoinedStep(step_index_ + 1, next, frames);
  next_joined_ = AudioOutputChainStream(sound.proc, sound.user, frames) != 0;
}

bool TreatmentRun::NextStepHasTakenOver() const {
  return next_joined_ && AudioOutputStreamJoins() != joins_seen_;
}

// The audio thread's procedure for a program file's steps: the first frame of a step sets the
// oscillator to the step's tone, there and then, so the phase runs on from the previous step's
// very last frame.
uint32_t TreatmentRun::JoinedStepProc(uint32_t handle, void* buffer, uint32_t length, void* user) {
  auto& slot = *static_cast<JoinedStep*>(user);
  if (!slot.toned) {
    PrepareStepSound(*slot.step, slot.frames, *slot.oscillator);
    slot.toned = true;
  }
  return ExactToneStreamProc(handle, buffer, length, slot.oscillator);
}

bool TreatmentRun::InitOutput(void* window) {
  AudioOutputOpenAhead();
  if (!AudioOutputOpenSettled()) {
    QEventLoop opening;
    QTimer look;
    connect(&look, &QTimer::timeout, &opening, [&opening, this] {
      if (ending_ || AudioOutputOpenSettled()) opening.quit();
    });
    look.start(kOpenLookMs);
    opening.exec();
  }
  // EndProgram has given the open up.
  if (ending_) return false;
  return BASS_Init(-1, kFramesPerSecond, 0, window, nullptr) != 0;
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
  pause_release_.stop();
  play_out_.stop();
  output_watch_->Stop();
  ReleaseOutput();
}

bool TreatmentRun::PauseStep() {
  // A step whose time is up only lets its last frames play, or the next step has begun to sound.
  if (!step_running_ || paused_ || ending_ || play_out_.isActive() || NextStepHasTakenOver()) {
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
  output_watch_->Stop();
  // The stream procedure is not called again: the stream's frame count is final.
  BASS_Stop();
  pause_release_.start();
  emit StepPaused();
  return true;
}

void TreatmentRun::ReleasePausedOutput() {
  frames_released_ += AudioOutputStreamFrames();
  pause_released_ = true;
  ReleaseOutput();
  emit PausedOutputReleased();
}

bool TreatmentRun::ResumeStep() {
  if (!step_running_ || !paused_ || ending_) return false;
  pause_release_.stop();
  const uint64_t played = frames_released_ + (pause_released_ ? 0 : AudioOutputStreamFrames());
  if (played >= step_frames_) {
    // Paused in its last moment: nothing is left to play.
    paused_ = false;
    EndStepByTimer();
    return true;
  }
  if (!pause_released_) {
    // Still open: the stream plays on where it stopped.
    if (!BASS_ChannelPlay(*stream_handle_, 0)) {
      FailStep(kPlayFailed, BASS_ErrorGetCode());
      return true;
    }
  } else if (!ReopenPausedStep()) {
    return true;
  } else {
    // A new stream has no step joined to it yet.
    joins_seen_ = AudioOutputStreamJoins();
    JoinNextStep();
  }
  paused_ = false;
  StartStepTimer(paused_left_ns_);
  output_watch_->Start();
  emit StepResumed();
  return true;
}

// As a step's start opens its output; the step's sound settings and stream procedure are still
// set, and its phases (and a glide) go on from where the pause left them.
bool TreatmentRun::ReopenPausedStep() {
  if (!InitOutput(window_)) {
    // EndProgram has ended the step meanwhile.
    if (!ending_) FailStep(kInitFailed, BASS_ErrorGetCode());
    return false;
  }
  *stream_handle_ =
      BASS_StreamCreate(kFramesPerSecond, kChannels, 0, step_sound_.proc, step_sound_.user);
  if (*stream_handle_ == 0) {
    FailStep(kCreateFailed, BASS_ErrorGetCode());
    return false;
  }
  AudioOutputLimitStream(step_frames_ - frames_released_);
  if (!BASS_ChannelPlay(*stream_handle_, 0)) {
    FailStep(kPlayFailed, BASS_ErrorGetCode());
    return false;
  }
  return true;
}

bool TreatmentRun::TogglePause() {
  return paused_ ? ResumeStep() : PauseStep();
}

// The step timer's event: the step's time is up by the clock. Its tone ends once the device has
// played the step's last frame, which may still be in the device's and the sound server's buffers,
// or not handed over yet where the device started late; then EndStepByTimer.
void TreatmentRun::StepTimeUp() {
  if (step_running_ && !paused_ && NextStepHasTakenOver()) {
    EndStepByJoin();
    return;
  }
  if (!step_running_ || paused_ ||
      (!next_joined_ && (AudioOutputStreamPlayedOut() || AudioOutputStreamFrames() == 0))) {
    EndStepByTimer();
    return;
  }
  step_timer_->stop();
  deadline_approach_.stop();
  const uint64_t limit = step_frames_ - std::min(frames_released_, step_frames_);
  const uint64_t left = limit - std::min(AudioOutputStreamFrames(), limit);
  play_out_limit_.setRemainingTime(static_cast<qint64>(left * 1000 / kFramesPerSecond) +
                                   kPlayOutSlackMs);
  play_out_.start();
}

void TreatmentRun::LookAtPlayOut() {
  if (NextStepHasTakenOver()) {
    EndStepByJoin();
  } else if ((!next_joined_ && AudioOutputStreamPlayedOut()) || play_out_limit_.hasExpired()) {
    EndStepByTimer();
  }
}

// The output went away: no frame of the step plays until it is back, so its time stands still
// meanwhile and the step still plays every frame of its period.
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
  tone_gen_->SetLoop(false);
  if (step_running_) {
    emit StepEnded(StepEnd::Timer);
  }
  tone_gen_->Stop();
  ReleaseStepOutput();
}

// The next step sounds already, from the frame after this one's last: the step ends as by its
// timer, with the output left playing.
void TreatmentRun::EndStepByJoin() {
  play_out_.stop();
  output_watch_->Stop();
  tone_gen_->SetLoop(false);
  ended_by_join_ = true;
  emit StepEnded(StepEnd::Timer);
  tone_gen_->Stop();
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
  if (step_running_) FailStep(kPlayFailed, code);
}

// The step ends without its output; once the face's wait has returned, the run fails with
// message and code.
void TreatmentRun::FailStep(const char* message, int code) {
  output_failed_ = true;
  output_failed_message_ = message;
  output_failed_code_ = code;
  step_timer_->stop();
  ReleaseStepOutput();
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
  // The step timer's own period again, for the built-in steps of the next run.
  step_timer_->setInterval(base_period_ms_);
  program_ = nullptr;
  result.how = how;
  emit RunEnded(result);
  return true;
}
