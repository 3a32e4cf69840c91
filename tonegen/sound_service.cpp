#include "sound_service.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "default_output.h"
#include "little_endian.h"
#include "testing/tonegen_testing.h"
#include "wave_volume.h"

namespace {

// The largest image the service accepts; well above the tone generator's 12.6 MB, and a bound
// on what a corrupt size field can make it read.
constexpr uint32_t kMaxRiffSize = 256u * 1024u * 1024u;
// The device's buffer, about 180 ms at either rate. The image is whole before it plays, so a long
// buffer costs nothing but a later start, and rides out a loaded machine; a stop closes the device
// and so never waits for it.
constexpr int kDeviceBufferFrames44k = 8192;
constexpr int kDeviceBufferFrames96k = 16384;
// The name a mixer shows for the service's stream.
constexpr char kStreamName[] = "Tone generator";

struct WaveFormat {
  int channels = 0;
  int frame_rate = 0;
  int bits = 0;
  const uint8_t* samples = nullptr;
  uint32_t frames = 0;
};

// Reads the RIFF/WAVE image; false for anything the service cannot play.
bool ParseWave(const uint8_t* image, WaveFormat* format) {
  if (std::memcmp(image, "RIFF", 4) != 0) return false;
  const uint32_t riff_size = GetLE32(image + 4);
  if (riff_size < 4 || riff_size > kMaxRiffSize) return false;
  if (std::memcmp(image + 8, "WAVE", 4) != 0) return false;
  const uint64_t end = uint64_t{riff_size} + 8;

  bool have_format = false;
  bool have_data = false;
  uint32_t data_size = 0;
  uint64_t offset = 12;
  while (offset + 8 <= end && !have_data) {
    const uint8_t* chunk = image + offset;
    const uint32_t chunk_size = GetLE32(chunk + 4);
    const uint64_t body = offset + 8;
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      if (chunk_size < 16 || body + chunk_size > end) return false;
      const uint16_t tag = GetLE16(chunk + 8);
      format->channels = GetLE16(chunk + 10);
      format->frame_rate = static_cast<int>(GetLE32(chunk + 12));
      const uint32_t bytes_per_second = GetLE32(chunk + 16);
      const uint16_t block_align = GetLE16(chunk + 20);
      format->bits = GetLE16(chunk + 22);
      if (tag != 1) return false;
      if (format->channels != 1 && format->channels != 2) return false;
      if (format->frame_rate != 44100 && format->frame_rate != 96000) return false;
      if (format->bits != 8 && format->bits != 16) return false;
      const int frame_size = format->channels * format->bits / 8;
      if (block_align != frame_size) return false;
      if (bytes_per_second != static_cast<uint32_t>(frame_size * format->frame_rate)) return false;
      have_format = true;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      if (!have_format) return false;
      // The data may end in part of a frame: only whole frames sound.
      if (body + chunk_size > end) return false;
      format->samples = chunk + 8;
      data_size = chunk_size;
      have_data = true;
    }
    offset = body + chunk_size + (chunk_size & 1u);
  }
  if (!have_data) return false;
  format->frames = data_size / static_cast<uint32_t>(format->channels * format->bits / 8);
  return true;
}

// One sound: its samples as signed 16-bit stereo frames, copied out of the caller's image.
struct Sound {
  std::vector<int16_t> frames;  // left, right, left, right ...
  size_t frame_count = 0;
  bool loop = false;
  // Written by the audio thread, read by the caller.
  std::atomic<size_t> position{0};
  std::atomic<bool> finished{false};
};

std::unique_ptr<Sound> MakeSound(const WaveFormat& format, bool loop) {
  auto sound = std::make_unique<Sound>();
  sound->loop = loop;
  sound->frame_count = format.frames;
  sound->frames.resize(size_t{format.frames} * 2);
  int16_t* out = sound->frames.data();
  const uint8_t* in = format.samples;
  for (uint32_t i = 0; i < format.frames; ++i) {
    int16_t left;
    int16_t right;
    if (format.bits == 16) {
      left = static_cast<int16_t>(GetLE16(in));
      right = format.channels == 2 ? static_cast<int16_t>(GetLE16(in + 2)) : left;
    } else {
      left = static_cast<int16_t>((in[0] - 128) * 256);
      right = format.channels == 2 ? static_cast<int16_t>((in[1] - 128) * 256) : left;
    }
    out[2 * i] = left;
    out[2 * i + 1] = right;
    in += format.channels * format.bits / 8;
  }
  return sound;
}

int16_t Scale(int16_t sample, int32_t gain) {
  return static_cast<int16_t>(int32_t{sample} * gain / 65535);
}

// What the audio thread plays: the current sound and, once a loop is to go on with another, that
// one, taken over at the first period start (frame trunc(k x frames_per_period)) of the current
// one. Changed by callers only under SDL's lock of the device, which the callback runs under.
struct Player {
  Sound* current = nullptr;
  Sound* next = nullptr;
  double frames_per_period = 0;
};

// The first period start at or after position.
size_t NextPeriodStart(size_t position, double frames_per_period) {
  if (frames_per_period <= 0) return position;
  auto start = [frames_per_period](double k) {
    return static_cast<size_t>(std::trunc(k * frames_per_period));
  };
  double k = std::floor(static_cast<double>(position) / frames_per_period);
  while (start(k) < position) k += 1;
  return start(k);
}

// The audio thread's only work: copy frames, apply the process volume, wrap, switch or finish.
// No allocation, no lock, no logging.
void FillAudio(void* userdata, Uint8* stream, int length) {
  Player* player = static_cast<Player*>(userdata);
  Sound* sound = player->current;
  int16_t* out = reinterpret_cast<int16_t*>(stream);
  const size_t wanted = static_cast<size_t>(length) / 4;
  const uint32_t volume = CurrentWaveVolumeWord();
  const int32_t left_gain = static_cast<int32_t>(volume & 0xFFFFu);
  const int32_t right_gain = static_cast<int32_t>(volume >> 16);
  size_t position = sound->position.load(std::memory_order_relaxed);
  size_t done = 0;
  while (done < wanted) {
    size_t end = sound->frame_count;
    if (player->next != nullptr) {
      end = std::min(end, NextPeriodStart(position, player->frames_per_period));
      if (position >= end) {
        sound->position.store(position, std::memory_order_relaxed);
        sound = player->next;
        player->current = sound;
        player->next = nullptr;
        position = 0;
        continue;
      }
    }
    if (position >= sound->frame_count) {
      if (!sound->loop) break;
      position = 0;
      continue;
    }
    size_t run = end - position;
    if (run > wanted - done) run = wanted - done;
    const int16_t* in = sound->frames.data() + 2 * position;
    for (size_t i = 0; i < run; ++i) {
      out[2 * (done + i)] = Scale(in[2 * i], left_gain);
      out[2 * (done + i) + 1] = Scale(in[2 * i + 1], right_gain);
    }
    done += run;
    position += run;
  }
  if (done < wanted) {
    std::memset(out + 2 * done, 0, (wanted - done) * 4);
    sound->finished.store(true, std::memory_order_release);
  }
  sound->position.store(position, std::memory_order_relaxed);
}

// The service's state, touched only by callers (never by the audio thread but for the player,
// see Player), under the mutex.
struct Service {
  std::mutex mutex;
  DefaultOutput output;
  Player player;
  // The sounds the player may be reading: the one playing and the one a loop is to go on with.
  std::vector<std::unique_ptr<Sound>> sounds;
  int frame_rate = 0;  // of the open output
  uint64_t generation = 0;
  SoundFailure last_failure = SoundFailure::None;

  // Closing the device waits for the audio thread, so no frame follows. With nothing open, SDL
  // is not touched (and so never loaded by a stop).
  void StopLocked() {
    CloseDefaultOutput(&output, false);
    sounds.clear();
    player = Player{};
    ++generation;
  }
};

// Never destroyed: components that outlive static destruction may still stop sounds, and a sound
// still playing at exit keeps reading memory that stays valid until the process ends.
Service& TheService() {
  static Service* service = new Service;
  return *service;
}

}  // namespace

bool PlaySoundA(const void* sound_image, void* /*module*/, uint32_t flags) {
  Service& service = TheService();
  std::unique_lock<std::mutex> lock(service.mutex);
  service.StopLocked();
  service.last_failure = SoundFailure::None;
  if (sound_image == nullptr) return true;
  const auto fail = [&service](SoundFailure why) {
    service.last_failure = why;
    return false;
  };

  // Only images in memory are played; a loop is always in the background.
  if ((flags & SND_MEMORY) == 0) return fail(SoundFailure::Refused);
  if ((flags & SND_LOOP) != 0 && (flags & SND_ASYNC) == 0) return fail(SoundFailure::Refused);

  WaveFormat format;
  if (!ParseWave(static_cast<const uint8_t*>(sound_image), &format)) {
    return fail(SoundFailure::Refused);
  }
  if (format.frames == 0) return true;  // nothing to sound, and so already ended
  std::unique_ptr<Sound> sound = MakeSound(format, (flags & SND_LOOP) != 0);

  SDL_AudioSpec wanted{};
  wanted.freq = format.frame_rate;
  wanted.format = AUDIO_S16SYS;
  wanted.channels = 2;
  wanted.samples = format.frame_rate > 48000 ? kDeviceBufferFrames96k : kDeviceBufferFrames44k;
  wanted.callback = FillAudio;
  wanted.userdata = &service.player;
  service.player.current = sound.get();
  // Loads SDL at the first sound.
  switch (OpenDefaultOutput(wanted, kStreamName, &service.output)) {
    case OpenResult::Opened:
      break;
    case OpenResult::NoDevice:
      return fail(SoundFailure::NoOutput);
    case OpenResult::DriverFailed:
      return fail(SoundFailure::OutputFailed);
  }
  const SDL_AudioSpec obtained = service.output.obtained;
  service.frame_rate = format.frame_rate;
  Sound* playing = sound.get();
  service.sounds.push_back(std::move(sound));
  const uint64_t generation = service.generation;
  service.output.sdl->PauseAudioDevice(service.output.device, 0);
  if ((flags & SND_ASYNC) != 0) return true;

  // Synchronous: wait, without holding the service, until the last frame has been handed over
  // and the device's buffer has had time to sound it, and never less than the sound's duration
  // (a device may take its buffers faster than it plays them). A stop from elsewhere ends the
  // wait.
  const auto started = std::chrono::steady_clock::now();
  const auto duration =
      std::chrono::microseconds(int64_t{format.frames} * 1000000 / format.frame_rate);
  const auto buffer_time = std::chrono::microseconds(int64_t{obtained.samples} * 1000000 /
                                                     (obtained.freq > 0 ? obtained.freq : 44100));
  lock.unlock();
  for (;;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::lock_guard<std::mutex> relock(service.mutex);
    if (service.generation != generation) return true;
    if (playing->finished.load(std::memory_order_acquire)) break;
  }
  std::this_thread::sleep_until(
      std::max(std::chrono::steady_clock::now() + buffer_time, started + duration));
  lock.lock();
  if (service.generation == generation) service.StopLocked();
  return true;
}

bool SoundServiceContinueLoop(const void* sound_image, double frames_per_period, bool loop) {
  Service& service = TheService();
  std::lock_guard<std::mutex> lock(service.mutex);
  if (service.output.device == 0 || service.sounds.empty()) return false;
  WaveFormat format;
  if (!ParseWave(static_cast<const uint8_t*>(sound_image), &format)) return false;
  if (format.frame_rate != service.frame_rate || format.frames == 0) return false;
  std::unique_ptr<Sound> sound = MakeSound(format, loop);
  const SdlAudioApi* sdl = service.output.sdl;
  sdl->LockAudioDevice(service.output.device);
  Sound* current = service.player.current;
  const bool looping = current->loop;
  if (looping) {
    // Every sound but the one playing is free again, a successor not yet taken over included.
    std::erase_if(service.sounds,
                  [current](const std::unique_ptr<Sound>& held) { return held.get() != current; });
    service.player.next = sound.get();
    service.player.frames_per_period = frames_per_period;
  }
  sdl->UnlockAudioDevice(service.output.device);
  if (looping) service.sounds.push_back(std::move(sound));
  return looping;
}

SoundFailure LastSoundFailure() {
  Service& service = TheService();
  std::lock_guard<std::mutex> lock(service.mutex);
  return service.last_failure;
}

bool SoundServiceIsPlaying() {
  Service& service = TheService();
  std::lock_guard<std::mutex> lock(service.mutex);
  if (service.output.device == 0 || service.sounds.empty()) return false;
  service.output.sdl->LockAudioDevice(service.output.device);
  const bool playing = service.player.next != nullptr ||
                       !service.player.current->finished.load(std::memory_order_acquire);
  service.output.sdl->UnlockAudioDevice(service.output.device);
  return playing;
}
