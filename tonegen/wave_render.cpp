#include "wave_render.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "little_endian.h"
#include "range_check.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr uint32_t kNoiseMultiplier = 134775813u;
// Frames mixed at a time: the running sums stay in the cache.
constexpr int64_t kBlockFrames = 4096;

struct Format {
  int bytes_per_sample;
  int channels;
  int frame_size;
  int frame_rate;
  int frames_per_10ms;
  uint8_t silence;
};

Format FormatOf(const ToneSettings& settings) {
  Format format{};
  format.bytes_per_sample = settings.Resolution == tg16Bit ? 2 : 1;
  format.channels = settings.Stereo ? 2 : 1;
  format.frame_size = format.bytes_per_sample * format.channels;
  format.frame_rate = settings.Quality == tgHiQ ? 96000 : 44100;
  format.frames_per_10ms = settings.Quality == tgHiQ ? 960 : 441;
  format.silence = settings.Resolution == tg16Bit ? 0x00 : 0x80;
  return format;
}

// Trunc of a real into 64 bits, saturating far outside; NaN gives the lowest value, as an
// invalid conversion of the x87 unit does.
int64_t SaturatingTrunc(double value) {
  if (std::isnan(value)) return std::numeric_limits<int64_t>::min();
  if (value >= 9223372036854775807.0) return std::numeric_limits<int64_t>::max();
  if (value <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(value);
}

int16_t Saturate16(int64_t value) {
  return static_cast<int16_t>(std::clamp<int64_t>(value, -32768, 32767));
}
uint8_t SaturateByte(int64_t value) {
  return static_cast<uint8_t>(std::clamp<int64_t>(value, 0, 255));
}

// The renderer's noise generator: a linear congruential state stepped before every draw.
struct Noise {
  uint32_t state = 1;
  uint32_t Draw(uint32_t range) {
    state = state * kNoiseMultiplier + 1u;
    return static_cast<uint32_t>((uint64_t{state} * range) >> 32);
  }
  // The state after count further steps, without drawing them one by one.
  void Skip(uint64_t count) {
    uint32_t multiplier = kNoiseMultiplier;
    uint32_t increment = 1u;
    while (count > 0) {
      if (count & 1u) state = state * multiplier + increment;
      increment = increment * multiplier + increment;
      multiplier *= multiplier;
      count >>= 1;
    }
  }
};

// One sounding component (the main tone or an AM level) while it is mixed. Every waveform but
// noise restarts each period from the same values, so what a frame adds depends only on its
// place j in the period: those contributions are worked out once, in the per-frame order of
// operations, and read back.
class Component {
 public:
  Component(int level, int frequency, TTGWave waveform, const Format& format, uint32_t noise_state,
            double clean_frequency = 0)
      : waveform_(waveform > tgSawtooth ? tgNoise : waveform),
        sixteen_bit_(format.bytes_per_sample == 2),
        clean_(clean_frequency > 0) {
    if (sixteen_bit_) {
      span_ = level * 65534.0 / 100.0;
      floor_ = -(level * 32767.0) / 100.0;
    } else {
      span_ = level * 254.0 / 100.0;
      floor_ = -(level * 127.0) / 100.0;
    }
    frames_per_period_ = static_cast<double>(format.frame_rate) / frequency;
    period_length_ = static_cast<int64_t>(frames_per_period_);
    half_period_ = static_cast<int64_t>(frames_per_period_ + 0.5) / 2;
    angle_step_ = 2.0 * kPi / static_cast<double>(period_length_);
    noise_.state = noise_state;
    noise_range_ = static_cast<uint32_t>(static_cast<int64_t>(span_ + 1.0));
    if (clean_) {
      cycles_per_frame_ = clean_frequency / format.frame_rate;
      return;
    }
    if (waveform_ != tgNoise) BuildTable(period_length_ + 1);
  }

  // A triangle whose half period has no frames has no defined slope: it stays silent.
  bool Silent() const { return !clean_ && waveform_ == tgTriangle && half_period_ == 0; }

  // Adds the next count frames' contributions to sums.
  void Mix(int32_t* sums, int64_t count) {
    if (waveform_ == tgNoise) {
      for (int64_t k = 0; k < count; ++k) sums[k] += Store(noise_.Draw(noise_range_) + floor_);
      return;  // the period counters play no part in noise
    }
    if (clean_) {
      MixClean(sums, count);
      return;
    }
    int64_t done = 0;
    while (done < count) {
      if (period_length_ > static_cast<int64_t>(table_.size())) BuildTable(period_length_);
      const int64_t run = std::min(period_length_ - frame_in_period_, count - done);
      const int32_t* values = table_.data() + frame_in_period_;
      for (int64_t k = 0; k < run; ++k) sums[done + k] += values[k];
      done += run;
      frame_in_period_ += run;
      if (frame_in_period_ == period_length_) NextPeriod();
    }
  }

 private:
  // What a value V adds to a sample under the storing rule of the resolution.
  int32_t Store(double value) const {
    if (sixteen_bit_) return static_cast<int32_t>(value);
    return static_cast<int32_t>(128.0 + value) - 128;
  }

  // The clean rendering: the phase runs on over period boundaries, frame n sits at n x f / rate
  // cycles, and each value is rounded to the nearest step rather than cut.
  void MixClean(int32_t* sums, int64_t count) {
    const double half_span = span_ / 2.0;
    for (int64_t k = 0; k < count; ++k, ++frame_) {
      const double cycles = static_cast<double>(frame_) * cycles_per_frame_;
      const double phase = cycles - std::floor(cycles);
      double value = 0;
      switch (waveform_) {
        case tgSine:
          value = std::sin(2.0 * kPi * phase) * half_span;
          break;
        case tgSquare:
          value = phase < 0.5 ? floor_ : half_span;
          break;
        case tgTriangle:
          value = floor_ + span_ * (phase < 0.5 ? 2.0 * phase : 2.0 * (1.0 - phase));
          break;
        case tgSawtooth:
          value = floor_ + span_ * phase;
          break;
        case tgNoise:
          break;
      }
      sums[k] += Store(std::nearbyint(value));
    }
  }

  void NextPeriod() {
    frame_in_period_ = 0;
    ++period_;
    period_length_ =
        static_cast<int64_t>(static_cast<double>(period_) * frames_per_period_ -
                             std::trunc(static_cast<double>(period_ - 1) * frames_per_period_));
  }

  // Contributions of the frames j = 0 .. length - 1 of a period. Sine, triangle and sawtooth
  // values are whole numbers before they are stored: at 8 bits a kept fraction would store a
  // negative value one step low.
  void BuildTable(int64_t length) {
    table_.resize(static_cast<size_t>(length));
    const double half_span = span_ / 2.0;
    double accumulator = floor_;
    const double triangle_step = half_period_ > 0 ? span_ / static_cast<double>(half_period_) : 0;
    const double sawtooth_step = span_ / static_cast<double>(period_length_first());
    for (int64_t j = 0; j < length; ++j) {
      double value = 0;
      switch (waveform_) {
        case tgSine:
          value = std::trunc(std::sin(static_cast<double>(j) * angle_step_) / 2.0 * span_);
          break;
        case tgSquare:
          value = j < half_period_ ? floor_ : half_span;
          break;
        case tgTriangle:
          value = std::trunc(accumulator);
          if (j < half_period_) {
            accumulator += triangle_step;
          } else {
            accumulator -= triangle_step;
            if (accumulator < floor_) accumulator = floor_;
          }
          break;
        case tgSawtooth:
          value = std::trunc(accumulator);
          accumulator += sawtooth_step;
          break;
        case tgNoise:
          break;
      }
      table_[static_cast<size_t>(j)] = Store(value);
    }
  }

  int64_t period_length_first() const { return static_cast<int64_t>(frames_per_period_); }

  TTGWave waveform_;
  bool sixteen_bit_;
  bool clean_;
  double cycles_per_frame_ = 0;
  int64_t frame_ = 0;
  double span_ = 0;
  double floor_ = 0;
  double frames_per_period_ = 0;
  double angle_step_ = 0;
  int64_t period_length_ = 0;
  int64_t half_period_ = 0;
  int64_t frame_in_period_ = 0;
  int64_t period_ = 1;
  std::vector<int32_t> table_;
  Noise noise_;
  uint32_t noise_range_ = 0;
};

struct ComponentSetting {
  int level;
  int frequency;
  TTGWave waveform;
  double clean_frequency;  // hertz in the clean rendering, else 0
};

// The main tone and the AM levels that sound, in mixing order; clamped counts the multiplied AM
// frequencies that were clamped.
std::vector<ComponentSetting> SoundingComponents(const ToneSettings& settings, int* clamped) {
  int amplitude_sum = 0;
  for (int16_t amplitude : settings.FAMAmplitudes) amplitude_sum += amplitude;

  std::vector<ComponentSetting> components;
  const double main_clean = settings.Clean ? settings.ExactFrequency : 0.0;
  components.push_back({100 - amplitude_sum, settings.Frequency, settings.Waveform, main_clean});
  for (int i = 0; i < kAMLevelCount; ++i) {
    int level = settings.FAMAmplitudes[i];
    if (amplitude_sum > 100) level = level * 100 / amplitude_sum;
    int frequency;
    if (settings.AMUseMultiplier) {
      const double product = static_cast<double>(settings.FAMFrequencies[i]) * settings.Frequency;
      const int64_t whole = SaturatingTrunc(product);
      frequency = static_cast<int>(ClampToRange(kMinFrequency, kMaxFrequency, whole, false));
      if (frequency != whole) ++*clamped;
    } else {
      frequency = static_cast<int16_t>(
          static_cast<uint16_t>(SaturatingTrunc(settings.FAMFrequencies[i]) & 0xFFFF));
    }
    double clean_frequency = 0;
    if (settings.Clean) {
      clean_frequency = settings.FAMFrequencies[i];
      if (settings.AMUseMultiplier) {
        clean_frequency = std::clamp(clean_frequency * settings.ExactFrequency,
                                     double{kMinFrequency}, double{kMaxFrequency});
      }
      // A frequency of no hertz or less stays silent, as the described rendering's does.
      frequency = clean_frequency > 0 ? 1 : 0;
    }
    components.push_back({level, frequency, settings.FAMWaveforms[i], clean_frequency});
  }
  std::erase_if(components,
                [](const ComponentSetting& c) { return c.level <= 0 || c.frequency <= 0; });
  return components;
}

// Reads frame sample value v (left sample; for 8 bits the byte minus 128).
int32_t ReadFrameValue(const uint8_t* frame, bool sixteen_bit) {
  if (sixteen_bit) return static_cast<int16_t>(GetLE16(frame));
  return static_cast<int32_t>(frame[0]) - 128;
}

void WriteFrameValue(uint8_t* frame, bool sixteen_bit, int channels, int64_t value) {
  if (sixteen_bit) {
    const uint16_t sample = static_cast<uint16_t>(Saturate16(value));
    for (int c = 0; c < channels; ++c) PutLE16(frame + 2 * c, sample);
  } else {
    const uint8_t byte = SaturateByte(value + 128);
    for (int c = 0; c < channels; ++c) frame[c] = byte;
  }
}

}  // namespace

int32_t WaveDataSize(const ToneSettings& settings) {
  const Format format = FormatOf(settings);
  int64_t size = int64_t{format.bytes_per_sample} * settings.Duration * format.frames_per_10ms / 10;
  if (settings.Stereo) size *= 2;
  return static_cast<int32_t>(std::max<int64_t>(size, 0));
}

int64_t WaveImageSize(const ToneSettings& settings) {
  return int64_t{WaveDataSize(settings)} + kWaveHeaderSize + kWaveGuardSize;
}

std::array<uint8_t, kWaveHeaderSize> MakeWaveHeader(bool stereo, bool sixteen_bit,
                                                    bool high_quality, int32_t data_size) {
  const uint16_t channels = stereo ? 2 : 1;
  const uint32_t frame_rate = high_quality ? 96000 : 44100;
  const uint16_t bits = sixteen_bit ? 16 : 8;
  const uint16_t block_align = static_cast<uint16_t>(bits / 8 * channels);

  std::array<uint8_t, kWaveHeaderSize> header{};
  std::memcpy(&header[0], "RIFF", 4);
  PutLE32(&header[4], static_cast<uint32_t>(data_size) + 36u);
  std::memcpy(&header[8], "WAVE", 4);
  std::memcpy(&header[12], "fmt ", 4);
  PutLE32(&header[16], 16);
  PutLE16(&header[20], 1);
  PutLE16(&header[22], channels);
  PutLE32(&header[24], frame_rate);
  PutLE32(&header[28], channels * frame_rate * (bits / 8u));
  PutLE16(&header[32], block_align);
  PutLE16(&header[34], bits);
  std::memcpy(&header[36], "data", 4);
  PutLE32(&header[40], static_cast<uint32_t>(data_size));
  return header;
}

int RenderWaveImage(const ToneSettings& settings, bool enveloped, uint8_t* image) {
  const Format format = FormatOf(settings);
  const int32_t data_size = WaveDataSize(settings);
  std::memset(image, format.silence, static_cast<size_t>(WaveImageSize(settings)));
  const auto header = MakeWaveHeader(settings.Stereo, settings.Resolution == tg16Bit,
                                     settings.Quality == tgHiQ, data_size);
  std::memcpy(image, header.data(), header.size());
  uint8_t* data = image + kWaveHeaderSize;

  // Frames rendered: every o < D, so a partial last frame runs into the guard bytes.
  const int64_t frame_count = (int64_t{data_size} + format.frame_size - 1) / format.frame_size;

  // Mixed block by block; noise components draw, as if one after the other over the whole
  // image, from a generator that starts at 1 for every rendering.
  std::vector<Component> components;
  Noise noise;
  int clamped = 0;
  for (const ComponentSetting& setting : SoundingComponents(settings, &clamped)) {
    Component component(setting.level, setting.frequency, setting.waveform, format, noise.state,
                        setting.clean_frequency);
    if (component.Silent()) continue;
    if (setting.waveform >= tgNoise) noise.Skip(static_cast<uint64_t>(frame_count));
    components.push_back(std::move(component));
  }
  if (components.empty()) {
    if (enveloped) ApplyEnvelope(data, data_size, settings.Stereo, settings);
    return clamped;
  }

  const bool sixteen_bit = format.bytes_per_sample == 2;
  std::vector<int32_t> sums(static_cast<size_t>(std::min(frame_count, kBlockFrames)));
  for (int64_t first = 0; first < frame_count; first += kBlockFrames) {
    const int64_t count = std::min(kBlockFrames, frame_count - first);
    std::fill(sums.begin(), sums.begin() + count, 0);
    for (Component& component : components) component.Mix(sums.data(), count);
    uint8_t* frame = data + first * format.frame_size;
    if (sixteen_bit && format.channels == 1) {
      for (int64_t k = 0; k < count; ++k, frame += 2) {
        PutLE16(frame, static_cast<uint16_t>(Saturate16(sums[k])));
      }
    } else {
      for (int64_t k = 0; k < count; ++k, frame += format.frame_size) {
        WriteFrameValue(frame, sixteen_bit, format.channels, sums[k]);
      }
    }
  }

  if (enveloped) ApplyEnvelope(data, data_size, settings.Stereo, settings);
  return clamped;
}

void ApplyEnvelope(uint8_t* data, int32_t data_size, bool stereo, const ToneSettings& settings) {
  const bool sixteen_bit = settings.Resolution == tg16Bit;
  const int channels = stereo ? 2 : 1;
  const int64_t frame_size = (sixteen_bit ? 2 : 1) * channels;
  const int64_t size = data_size;
  const int64_t last_frame = size / frame_size;  // F: the first frame not wholly in the data

  int64_t attack = settings.Attack;
  int64_t hold = settings.Hold;
  int64_t decay = settings.Decay;
  int64_t release = settings.Release;
  const int64_t total = attack + hold + decay + release;
  if (total > 100) {
    attack = attack * 100 / total;
    hold = hold * 100 / total;
    decay = decay * 100 / total;
    release = 100 - attack - hold - decay;
  }
  const int64_t sustain_time = 100 - attack - hold - decay - release;
  const double sustain_level = settings.Sustain / 100.0;
  const auto frames_for = [&](int64_t time) { return time * size / (frame_size * 100); };

  // Runs shape(m, v) over the frames start .. min(start + count, F).
  const auto shape_phase = [&](int64_t start, int64_t count, auto shape) {
    const int64_t end = std::min(start + count, last_frame);
    for (int64_t frame = start; frame <= end; ++frame) {
      uint8_t* bytes = data + frame * frame_size;
      const int64_t value = ReadFrameValue(bytes, sixteen_bit);
      WriteFrameValue(bytes, sixteen_bit, channels, shape(frame - start, value));
    }
  };

  int64_t start = 0;
  const int64_t attack_frames = frames_for(attack);
  if (attack != 0 && attack_frames != 0) {
    const double factor = 1.0 / static_cast<double>(attack_frames);
    shape_phase(start, attack_frames, [&](int64_t m, int64_t v) {
      return static_cast<int64_t>(static_cast<double>(m * v) * factor);
    });
    start += attack_frames + 1;
  }
  const int64_t hold_frames = frames_for(hold);
  if (hold != 0 && hold_frames != 0) {
    // The hold keeps every value: only its frames are counted.
    start += hold_frames + 1;
  }
  const int64_t decay_frames = frames_for(decay);
  if (decay != 0 && decay_frames != 0) {
    const double factor = (100 - settings.Sustain) / static_cast<double>(decay_frames) / 100.0;
    shape_phase(start, decay_frames, [&](int64_t m, int64_t v) {
      return v - static_cast<int64_t>(static_cast<double>(m * v) * factor);
    });
    start += decay_frames + 1;
  }
  if (sustain_time != 0) {
    const int64_t sustain_frames = release == 0 ? last_frame - start : frames_for(sustain_time);
    shape_phase(start, sustain_frames, [&](int64_t, int64_t v) {
      return static_cast<int64_t>(static_cast<double>(v) * sustain_level);
    });
    start += sustain_frames + 1;
  }
  const int64_t release_frames = last_frame - start;
  if (release != 0 && release_frames > 0) {
    const double factor = sustain_level / static_cast<double>(release_frames);
    shape_phase(start, release_frames, [&](int64_t m, int64_t v) {
      return static_cast<int64_t>(static_cast<double>((release_frames - m) * v) * factor);
    });
  }
}
