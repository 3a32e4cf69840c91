#include "audio_output.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>

#include "audio_format.h"
#include "default_output.h"
#include "output_thread.h"
#include "testing/audio_output_testing.h"

namespace {

// 1024 frames (23 ms) keeps Skip prompt while leaving a busy machine room to refill in time.
constexpr Uint16 kDeviceBufferFrames = 1024;
// The name a mixer shows for the stream.
constexpr char kStreamName[] = "Treatment tone";
// An open normally takes a few tens of milliseconds, and a sound server may take up to 2 s to
// answer one while it starts.
constexpr auto kOpenLimit = std::chrono::seconds(5);

using Clock = std::chrono::steady_clock;

// The one user stream of the open output. Written on the window thread only while SDL's device
// lock is held; read by the SDL callback, which SDL runs under the same lock.
struct UserStream {
  HSTREAM handle = 0;
  STREAMPROC proc = nullptr;
  void* user = nullptr;
  bool playing = false;
  uint64_t frame_limit = 0;   // frames of the procedure the stream plays at most; 0: no limit
  uint64_t frames = 0;        // frames the procedure delivered (the callback's own count)
  uint64_t frames_after = 0;  // frames of silence the device took after the limit was reached
  // The stream that follows once the limit is reached, in the same buffer (none: proc null), and
  // how many times one has followed.
  STREAMPROC next_proc = nullptr;
  void* next_user = nullptr;
  uint64_t next_limit = 0;
  uint64_t joins = 0;
};

struct Output {
  std::unique_ptr<DefaultOutput> out;  // the open device, or none
  UserStream stream;
  const char* driver = nullptr;  // the SDL driver the output last opened through
  std::string device;            // the output it opens: the chosen one, or empty for the default
  // An open under way on the output thread (ahead of BASS_Init, or bringing a lost device back),
  // and when BASS_Init stops waiting for it.
  std::shared_ptr<PendingOpen> opening;
  Clock::time_point opening_deadline;
};

// Never destroyed: an audio thread may still read it while the process ends.
Output& output = *new Output;
Uint16 device_buffer_frames = kDeviceBufferFrames;
std::string chosen_device;
HSTREAM last_handle = 0;  // handles are never reused, so a freed stream's handle stays invalid
int last_error = AUDIO_OK;

struct FailNext {
  bool armed = false;
  int code = AUDIO_OK;
};
FailNext fail_next[3];

int Succeed(int result = 1) {
  last_error = AUDIO_OK;
  return result;
}

int Fail(int code) {
  last_error = code;
  return 0;
}

bool TakeFailNext(AudioCall call) {
  FailNext& entry = fail_next[static_cast<int>(call)];
  if (!entry.armed) return false;
  entry.armed = false;
  last_error = entry.code;
  return true;
}

// The procedure's frames for the rest of the buffer from byte at, up to the stream's limit; the
// bytes it delivered.
uint32_t FillFrom(UserStream& stream, Uint8* buffer, uint32_t at, uint32_t length) {
  uint32_t wanted = length - at;
  if (stream.frame_limit != 0) {
    const uint64_t left = stream.frame_limit - std::min(stream.frames, stream.frame_limit);
    if (left < wanted / kBytesPerFrame) wanted = static_cast<uint32_t>(left * kBytesPerFrame);
  }
  if (wanted == 0) return 0;
  uint32_t delivered = stream.proc(stream.handle, buffer + at, wanted, stream.user);
  if (delivered > wanted) delivered = wanted;
  stream.frames += delivered / kBytesPerFrame;
  return delivered;
}

// SDL's audio thread: no allocation, no lock of our own, no logging.
void FillDeviceBuffer(void* userdata, Uint8* buffer, int length) {
  UserStream& stream = static_cast<Output*>(userdata)->stream;
  const auto bytes = static_cast<uint32_t>(length);
  uint32_t delivered = 0;
  if (stream.playing && stream.proc != nullptr) {
    delivered = FillFrom(stream, buffer, 0, bytes);
    // A chained stream takes over at the very frame after the limit, so the two join unbroken.
    while (stream.frame_limit != 0 && stream.frames >= stream.frame_limit &&
           stream.next_proc != nullptr) {
      stream.proc = stream.next_proc;
      stream.user = stream.next_user;
      stream.frame_limit = stream.next_limit;
      stream.next_proc = nullptr;
      stream.frames = 0;
      ++stream.joins;
      delivered += FillFrom(stream, buffer, delivered, bytes);
    }
    if (stream.frame_limit != 0 && stream.frames >= stream.frame_limit) {
      stream.frames_after += (bytes - delivered) / kBytesPerFrame;
    }
  }
  // Signed 16-bit silence is all zero bytes.
  std::memset(buffer + delivered, 0, static_cast<size_t>(bytes - delivered));
}

// Runs a change to the stream while the callback cannot be running.
template <typename Change>
void WithCallbackHeld(Change change) {
  output.out->sdl->LockAudioDevice(output.out->device);
  change();
  output.out->sdl->UnlockAudioDevice(output.out->device);
}

bool IsOpen() {
  return output.out != nullptr;
}

// Starts opening the default device on the output thread, paused, for the stream of the output
// (if any), through the driver named, or the one SDL picks.
void StartOpen(const char* driver) {
  SDL_AudioSpec wanted{};
  wanted.freq = kFramesPerSecond;
  wanted.format = AUDIO_S16LSB;
  wanted.channels = kChannels;
  wanted.samples = device_buffer_frames;
  wanted.callback = FillDeviceBuffer;
  wanted.userdata = &output;
  // SDL is loaded there, at the first sound, never by a stop or release with nothing open. Its
  // audio is reference-counted: the tone generator's sound service may hold it at the same time.
  output.opening = PendingOpen::Start(wanted, kStreamName, driver, output.device);
  output.opening_deadline = Clock::now() + kOpenLimit;
}

// Takes over the finished open: 1 with its device (opened paused), or 0 with its code.
int AdoptOpen() {
  const std::shared_ptr<PendingOpen> opening = std::move(output.opening);
  switch (opening->Result()) {
    case OpenResult::Opened:
      output.out = opening->TakeOutput();
      output.driver = output.out->driver;
      return Succeed();
    case OpenResult::NoDevice:
      return Fail(AUDIO_ERROR_NO_DEVICE);
    case OpenResult::DriverFailed:
      return Fail(AUDIO_ERROR_DRIVER);
  }
  return Fail(AUDIO_ERROR_UNKNOWN);
}

void AbandonOpen() {
  if (!output.opening) return;
  output.opening->Abandon();
  output.opening.reset();
}

// Silences the device at once and closes it on the output thread.
void CloseDevice() {
  if (!IsOpen()) return;
  output.out->sdl->PauseAudioDevice(output.out->device, 1);
  CloseOnOutputThread(std::move(output.out));
}

void Unpause() {
  output.out->sdl->PauseAudioDevice(output.out->device, 0);
}

}  // namespace

int BASS_Init(int device, uint32_t freq, uint32_t flags, void* /*window*/, const void* /*clsid*/) {
  if (TakeFailNext(AudioCall::Init)) {
    AbandonOpen();
    return 0;
  }
  if (IsOpen()) return Fail(AUDIO_ERROR_ALREADY);
  if (device != -1 || freq != kFramesPerSecond || flags != 0) {
    AbandonOpen();
    return Fail(AUDIO_ERROR_FORMAT);
  }
  output.stream = UserStream{};
  if (!output.opening) {
    output.device = chosen_device;
    StartOpen(nullptr);
  }
  if (!output.opening->WaitUntil(output.opening_deadline)) {
    AbandonOpen();
    return Fail(AUDIO_ERROR_TIMEOUT);
  }
  return AdoptOpen();
}

void AudioOutputOpenAhead() {
  if (IsOpen() || output.opening) return;
  output.device = chosen_device;
  StartOpen(nullptr);
}

void AudioOutputChooseDevice(const std::string& name) {
  chosen_device = name;
}

const std::string& AudioOutputChosenDevice() {
  return chosen_device;
}

bool AudioOutputOpenSettled() {
  return !output.opening || Clock::now() >= output.opening_deadline || output.opening->Finished();
}

HSTREAM BASS_StreamCreate(uint32_t freq, uint32_t chans, uint32_t flags, STREAMPROC proc,
                          void* user) {
  if (TakeFailNext(AudioCall::StreamCreate)) return 0;
  if (!IsOpen()) return Fail(AUDIO_ERROR_NOT_INIT);
  if (freq != kFramesPerSecond || chans != kChannels || flags != 0) {
    return Fail(AUDIO_ERROR_FORMAT);
  }
  if (proc == nullptr) return Fail(AUDIO_ERROR_UNKNOWN);
  if (++last_handle == 0) ++last_handle;
  const HSTREAM handle = last_handle;
  // A new stream takes the place of an earlier one, whose handle stops being valid.
  WithCallbackHeld([&] { output.stream = UserStream{handle, proc, user, false}; });
  last_error = AUDIO_OK;
  return handle;
}

int BASS_ChannelPlay(uint32_t handle, int /*restart*/) {
  if (TakeFailNext(AudioCall::ChannelPlay)) return 0;
  if (handle == 0 || !IsOpen() || handle != output.stream.handle) {
    return Fail(AUDIO_ERROR_HANDLE);
  }
  // A device that went away (server stopped, card unplugged) cannot be started again.
  if (DefaultOutputLost(*output.out)) return Fail(AUDIO_ERROR_DRIVER);
  WithCallbackHeld([] { output.stream.playing = true; });
  Unpause();
  return Succeed();
}

int AudioOutputLimitStream(uint64_t frames) {
  if (!IsOpen()) return Fail(AUDIO_ERROR_NOT_INIT);
  if (output.stream.handle == 0) return Fail(AUDIO_ERROR_HANDLE);
  WithCallbackHeld([frames] { output.stream.frame_limit = frames; });
  return Succeed();
}

uint64_t AudioOutputStreamFrames() {
  // A failed reopen closes the device but keeps the stream and its count.
  if (!IsOpen()) return output.stream.frames;
  uint64_t frames = 0;
  WithCallbackHeld([&frames] { frames = output.stream.frames; });
  return frames;
}

int AudioOutputChainStream(STREAMPROC proc, void* user, uint64_t frames) {
  if (!IsOpen()) return Fail(AUDIO_ERROR_NOT_INIT);
  if (output.stream.handle == 0) return Fail(AUDIO_ERROR_HANDLE);
  if (output.stream.frame_limit == 0 || frames == 0 || proc == nullptr) {
    return Fail(AUDIO_ERROR_UNKNOWN);
  }
  WithCallbackHeld([&] {
    output.stream.next_proc = proc;
    output.stream.next_user = user;
    output.stream.next_limit = frames;
  });
  return Succeed();
}

uint64_t AudioOutputStreamJoins() {
  if (!IsOpen()) return output.stream.joins;
  uint64_t joins = 0;
  WithCallbackHeld([&joins] { joins = output.stream.joins; });
  return joins;
}

uint64_t AudioOutputPlayOutFrames() {
  // What the device and the sound server hold ahead of what is heard: some 20 to 50 ms with a
  // sound server, up to a few of its periods when it is busy; two device buffers proved too little
  // for a chosen sink, so a quarter of a second it stays.
  return IsOpen() ? kFramesPerSecond / 4 : 0;
}
bool AudioOutputStreamPlayedOut() {
  if (!IsOpen() || output.stream.handle == 0 || output.stream.frame_limit == 0) return false;
  const uint64_t play_out = AudioOutputPlayOutFrames();
  bool played_out = false;
  WithCallbackHeld([&played_out, play_out] {
    played_out =
        output.stream.frames >= output.stream.frame_limit && output.stream.frames_after >= play_out;
  });
  return played_out;
}

pid_t AudioOutputThreadId() {
  return IsOpen() ? output.out->audio_thread.load(std::memory_order_relaxed) : 0;
}

int BASS_Stop() {
  if (!IsOpen()) return Fail(AUDIO_ERROR_NOT_INIT);
  output.out->sdl->PauseAudioDevice(output.out->device, 1);
  // Taking the lock waits for a callback in progress to finish; after that the stream is off.
  WithCallbackHeld([] { output.stream.playing = false; });
  return Succeed();
}

int BASS_Free() {
  // A stream kept by a failed reopen goes too, and so does an open under way.
  const bool open = IsOpen();
  AbandonOpen();
  CloseDevice();
  output.stream = UserStream{};
  return open ? Succeed() : Fail(AUDIO_ERROR_NOT_INIT);
}

int BASS_ErrorGetCode() {
  return last_error;
}

uint64_t AudioOutputBuffersTaken() {
  return IsOpen() ? output.out->buffers.load(std::memory_order_relaxed) : 0;
}

bool AudioOutputLost() {
  return IsOpen() && DefaultOutputLost(*output.out);
}

AudioReopen AudioOutputReopen() {
  if (output.stream.handle == 0) {
    Fail(IsOpen() ? AUDIO_ERROR_HANDLE : AUDIO_ERROR_NOT_INIT);
    return AudioReopen::Failed;
  }
  if (!output.opening) {
    CloseDevice();
    // The driver that played, so that a sound server restarting is waited for rather than
    // replaced by whatever else answers meanwhile (plain ALSA, which could take the card from the
    // server).
    StartOpen(output.driver);
  }
  if (!output.opening->Finished()) {
    last_error = AUDIO_ERROR_TIMEOUT;  // should the caller stop waiting now
    return AudioReopen::Opening;
  }
  if (!AdoptOpen()) return AudioReopen::Failed;
  // The stream procedure carries on from where the last device left it.
  if (output.stream.playing) Unpause();
  return AudioReopen::Reopened;
}

std::string AudioErrorCodeLine(int code) {
  return "(error code: " + std::to_string(code) + ")";
}

const char* AudioErrorText(int code) {
  switch (code) {
    case AUDIO_OK:
      return "no error";
    case AUDIO_ERROR_NO_DEVICE:
      return "no output device or sound server could be reached, or SDL2 could not be loaded";
    case AUDIO_ERROR_DRIVER:
      return "the audio driver failed to open or start the device, or the device went away";
    case AUDIO_ERROR_ALREADY:
      return "the output was still open from an earlier step";
    case AUDIO_ERROR_NOT_INIT:
      return "the output was not open";
    case AUDIO_ERROR_HANDLE:
      return "the stream handle is 0, unknown or already freed";
    case AUDIO_ERROR_FORMAT:
      return "only the default device at 44100 Hz, two channels and flags 0 are supported";
    case AUDIO_ERROR_TIMEOUT:
      return "the sound server or the desktop's message bus did not answer in time";
    default:
      return "unknown error";
  }
}

std::string AudioErrorAdvice(int code) {
  if (code != AUDIO_ERROR_NO_DEVICE && code != AUDIO_ERROR_DRIVER && code != AUDIO_ERROR_TIMEOUT) {
    return "";
  }
  if (!chosen_device.empty()) {
    return "The chosen output \"" + chosen_device +
           "\" could not be opened. Check that it is connected and switched on and that it is not "
           "muted in the mixer, or choose another output.";
  }
  return "No sound output could be opened. Check that a sound server is running, that an output "
         "device is connected and switched on, and that it is not muted in the mixer.";
}

void AudioOutputFailNextForTesting(AudioCall call, int code) {
  fail_next[static_cast<int>(call)] = FailNext{true, code};
}

void AudioOutputUseBufferFrames(uint16_t frames) {
  device_buffer_frames = frames != 0 ? frames : kDeviceBufferFrames;
}
