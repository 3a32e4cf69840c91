#include "sound_card_output.h"

#include <QEventLoop>
#include <algorithm>
#include <string>

#include "audio_format.h"
#include "audio_output.h"
#include "program_file.h"

namespace {

// What the device's and the sound server's buffers hold when a pause stops the stream (some 20
// to 40 ms of it) plays out within this time; then the paused step's device is freed.
constexpr int kPauseReleaseMs = 250;

const char* const kInitFailed = "BASS.dll error!";
const char* const kCreateFailed = "User-Stream kann nicht angelegt werden!";
const char* const kPlayFailed = "Wiedergabe kann nicht gestartet werden.";

// How often the wait for an opening device looks whether the open has finished.
constexpr int kOpenLookMs = 5;

}  // namespace

SoundCardOutput::SoundCardOutput(uint32_t* stream_handle, QObject* parent)
    : QObject(parent), stream_handle_(stream_handle), watch_(new OutputWatch(this)) {
  pause_release_.setSingleShot(true);
  pause_release_.setInterval(kPauseReleaseMs);
  connect(&pause_release_, &QTimer::timeout, this, &SoundCardOutput::ReleasePaused);
  connect(watch_, &OutputWatch::Lost, this, [this] { ReportAway(true); });
  connect(watch_, &OutputWatch::Resumed, this, [this] { ReportAway(false); });
  connect(watch_, &OutputWatch::GaveUp, this, [this](int code) {
    ReportFailure({StepOutputErrorCode::LinkLost, kPlayFailed, "", code});
  });
}

void SoundCardOutput::Release() {
  BASS_Stop();
  BASS_Free();
}

OutputLimits SoundCardOutput::Limits() const {
  // The stream's own rate bounds a tone and a gate alike.
  const long double nyquist = kFramesPerSecond / 2.0L;
  return {"the sound output", nyquist, nyquist, 2, 0};
}

bool SoundCardOutput::Open() {
  error_ = {};
  AudioOutputOpenAhead();
  if (!AudioOutputOpenSettled()) {
    QEventLoop opening;
    QTimer look;
    connect(&look, &QTimer::timeout, &opening, [&opening, this] {
      if (cancelled_ || AudioOutputOpenSettled()) opening.quit();
    });
    look.start(kOpenLookMs);
    opening.exec();
  }
  if (cancelled_) {
    error_ = {StepOutputErrorCode::NotOpen, "", "", 0};
    return false;
  }
  return BASS_Init(-1, kFramesPerSecond, 0, window_, nullptr) != 0 || Fail(kInitFailed);
}

void SoundCardOutput::Close() {
  BASS_Free();
}

bool SoundCardOutput::Fail(const char* message) {
  error_ = {StepOutputErrorCode::NotOpen, message, "", BASS_ErrorGetCode()};
  return false;
}

void SoundCardOutput::BeginRun(const TreatmentProgram& program, int base_period_ms) {
  program_ = &program;
  base_period_ms_ = base_period_ms;
  // Every run starts its oscillator where an export of the program starts it, so each run sounds
  // the same, frame for frame.
  oscillator_ = ExactOscillator{};
  joining_ = std::all_of(program.Steps.begin(), program.Steps.end(),
                         [](const TreatmentStep& step) { return step.Exact; });
  handed_over_ = false;
  next_joined_ = false;
}

bool SoundCardOutput::StartStep(const StepRequest& request) {
  error_ = {};
  // A file read for a signal generator may go higher than the stream can carry: refused, never
  // folded back into the audible range.
  const long double highest = std::max(request.Step.Frequency, request.Step.EndFrequency);
  if (highest * 1000.0L > static_cast<long double>(kMaxFileMillihertz)) {
    error_ = {StepOutputErrorCode::CannotPlay,
              "Step " + std::to_string(request.Index + 1) +
                  ": a frequency is below 22050 Hz, half the sample rate",
              "Choose a signal generator in Output: for this program.", 0};
    return false;
  }
  index_ = request.Index;
  step_frames_ = FramesForMs(static_cast<uint64_t>(request.DurationMs));
  frames_released_ = 0;
  if (handed_over_) {
    // Its frames sound already, after the previous step's last.
    handed_over_ = false;
    SetStreamSettings(program_->Steps[index_]);
    step_sound_ = {JoinedStepProc, &joined_steps_[index_ % 2]};
  } else {
    const bool in_program = program_ != nullptr && index_ < program_->Steps.size();
    step_sound_ = PrepareStepSound(in_program ? program_->Steps[index_] : request.Step,
                                   step_frames_, oscillator_);
    if (joining_ && in_program) {
      // The tone is set already: no stream plays yet.
      step_sound_ = ArmJoinedStep(index_, step_frames_);
      joined_steps_[index_ % 2].toned = true;
    }
    if (!PlayStream()) return false;
  }
  joins_seen_ = AudioOutputStreamJoins();
  JoinNextStep();
  watch_->Start();
  return true;
}

bool SoundCardOutput::PlayStream() {
  *stream_handle_ =
      BASS_StreamCreate(kFramesPerSecond, kChannels, 0, step_sound_.proc, step_sound_.user);
  if (*stream_handle_ == 0) return Fail(kCreateFailed);
  // The tone lasts the step's period to the frame.
  AudioOutputLimitStream(step_frames_ - frames_released_);
  return BASS_ChannelPlay(*stream_handle_, 0) != 0 || Fail(kPlayFailed);
}

StepSound SoundCardOutput::ArmJoinedStep(size_t index, uint64_t frames) {
  JoinedStep& slot = joined_steps_[index % 2];
  slot = JoinedStep{StepTone(program_->Steps[index], frames), &oscillator_, false};
  return {JoinedStepProc, &slot};
}

// The next step's slot is the one the step before the current one used, which the audio thread
// has left for good.
void SoundCardOutput::JoinNextStep() {
  next_joined_ = false;
  if (!joining_ || program_ == nullptr || index_ + 1 >= program_->Steps.size()) return;
  const TreatmentStep& next = program_->Steps[index_ + 1];
  const uint64_t frames = FramesForMs(static_cast<uint64_t>(StepPeriodMs(next, base_period_ms_)));
  const StepSound sound = ArmJoinedStep(index_ + 1, frames);
  next_joined_ = AudioOutputChainStream(sound.proc, sound.user, frames) != 0;
}

bool SoundCardOutput::NextStepHasTakenOver() const {
  return next_joined_ && AudioOutputStreamJoins() != joins_seen_;
}

void SoundCardOutput::EndStepIntoNext() {
  watch_->Stop();
  handed_over_ = true;
}

// The audio thread's procedure for a program file's steps: the first frame of a step sets the
// oscillator to the step's tone, there and then, so the phase runs on from the previous step's
// very last frame.
uint32_t SoundCardOutput::JoinedStepProc(uint32_t handle, void* buffer, uint32_t length,
                                         void* user) {
  auto& slot = *static_cast<JoinedStep*>(user);
  if (!slot.toned) {
    slot.oscillator->SetTone(slot.tone);
    slot.toned = true;
  }
  return ExactToneStreamProc(handle, buffer, length, slot.oscillator);
}

bool SoundCardOutput::Pause() {
  watch_->Stop();
  // The stream procedure is not called again: the stream's frame count is final.
  BASS_Stop();
  pause_released_ = false;
  pause_release_.start();
  return true;
}

void SoundCardOutput::ReleasePaused() {
  frames_released_ += AudioOutputStreamFrames();
  pause_released_ = true;
  Release();
  ReportPauseSettled();
}

uint64_t SoundCardOutput::FramesPlayed() const {
  return frames_released_ + (pause_released_ ? 0 : AudioOutputStreamFrames());
}

bool SoundCardOutput::StepComplete() const {
  return FramesPlayed() >= step_frames_;
}

bool SoundCardOutput::Resume() {
  error_ = {};
  pause_release_.stop();
  if (!pause_released_) {
    // Still open: the stream plays on where it stopped.
    if (!BASS_ChannelPlay(*stream_handle_, 0)) return Fail(kPlayFailed);
  } else {
    // As a step's start opens its device; the step's sound settings and stream procedure are
    // still set, and its phases (and a glide) go on from where the pause left them.
    if (!Open() || !PlayStream()) return false;
    // A new stream has no step joined to it yet.
    joins_seen_ = AudioOutputStreamJoins();
    JoinNextStep();
  }
  watch_->Start();
  return true;
}

void SoundCardOutput::EndStep() {
  pause_release_.stop();
  watch_->Stop();
  Release();
}

int64_t SoundCardOutput::DeliveredMs() const {
  return static_cast<int64_t>(FramesPlayed() * 1000 / kFramesPerSecond);
}

void SoundCardOutput::AllOff() noexcept {
  Release();
}

bool SoundCardOutput::PlayedOut(bool at_time_up) const {
  if (next_joined_) return false;
  return AudioOutputStreamPlayedOut() || (at_time_up && AudioOutputStreamFrames() == 0);
}

int64_t SoundCardOutput::PlayOutLeftMs() const {
  const uint64_t limit = step_frames_ - std::min(frames_released_, step_frames_);
  const uint64_t left = limit - std::min(AudioOutputStreamFrames(), limit);
  return static_cast<int64_t>(left * 1000 / kFramesPerSecond);
}
