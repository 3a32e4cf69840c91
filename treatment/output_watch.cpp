#include "output_watch.h"

#include "audio_output.h"

namespace {

using std::chrono::milliseconds;

constexpr milliseconds kLookEvery{200};
// While a device opens, so that the tone is back within moments of the open's end.
constexpr milliseconds kLookWhileOpening{50};
constexpr milliseconds kStalledAfter{400};
constexpr milliseconds kFirstBufferWithin{3000};
constexpr milliseconds kGiveUpAfter{10000};
// The device takes its first buffers when it opens, before it really plays: a stream counts as
// taken from the fourth.
constexpr uint64_t kTakenFrom = 4;

}  // namespace

OutputWatch::OutputWatch(QObject* parent) : QObject(parent) {
  look_.setInterval(kLookEvery);
  connect(&look_, &QTimer::timeout, this, &OutputWatch::Look);
}

void OutputWatch::Start() {
  recovering_ = false;
  Opened(Clock::now());
  look_.start(kLookEvery);
}

void OutputWatch::Stop() {
  look_.stop();
  recovering_ = false;
}

void OutputWatch::Opened(Clock::time_point now) {
  open_ = true;
  taken_ = false;
  buffers_ = 0;
  opened_at_ = now;
  progress_at_ = now;
}

void OutputWatch::Reopen(Clock::time_point now) {
  const AudioReopen reopen = AudioOutputReopen();
  look_.setInterval(reopen == AudioReopen::Opening ? kLookWhileOpening : kLookEvery);
  if (reopen == AudioReopen::Reopened) {
    Opened(now);
    code_ = AUDIO_ERROR_DRIVER;  // should the new device not take sound either
  } else {
    open_ = false;
    // While an attempt is under way the last finished one says best why there is no output
    // (a server that is gone, a device that takes no sound); with none finished, the server does
    // not answer.
    if (reopen == AudioReopen::Failed || !attempt_finished_) code_ = BASS_ErrorGetCode();
  }
  attempt_finished_ = attempt_finished_ || reopen != AudioReopen::Opening;
}

void OutputWatch::Look() {
  const Clock::time_point now = Clock::now();
  if (open_) {
    const uint64_t buffers = AudioOutputBuffersTaken();
    if (buffers != buffers_) {
      buffers_ = buffers;
      progress_at_ = now;
    }
    if (!taken_ && buffers >= kTakenFrom) {
      taken_ = true;
      if (recovering_) {
        recovering_ = false;
        emit Resumed();
      }
    }
  }
  if (recovering_ && now - lost_at_ >= kGiveUpAfter) {
    Stop();
    emit GaveUp(code_);
    return;
  }
  const bool lost =
      !open_ || AudioOutputLost() ||
      (taken_ ? now - progress_at_ >= kStalledAfter : now - opened_at_ >= kFirstBufferWithin);
  if (!lost) return;
  if (!recovering_) {
    recovering_ = true;
    attempt_finished_ = false;
    lost_at_ = now;
    code_ = AUDIO_ERROR_DRIVER;
    emit Lost();
  }
  Reopen(now);
}
