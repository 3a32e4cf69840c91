#include "tone_preview.h"

#include <algorithm>
#include <cstdint>

#include "wave_render.h"

namespace {

int FrameRate(const ToneSettings& settings) {
  return settings.Quality == tgHiQ ? 96000 : 44100;
}

// A signed 16-bit little-endian sample.
int16_t Sample16(const uint8_t* bytes) {
  return static_cast<int16_t>(static_cast<uint16_t>(bytes[0] | (bytes[1] << 8)));
}

}  // namespace

WaveformPreview PreviewWaveform(const ToneSettings& settings, int periods) {
  WaveformPreview preview;
  preview.frame_rate = FrameRate(settings);
  // One channel is enough: a stereo rendering carries the same samples in both.
  ToneSettings shortened = settings;
  shortened.Stereo = false;
  const int64_t frames_wanted = static_cast<int64_t>(std::max(periods, 1)) * preview.frame_rate /
                                    std::max<int16_t>(settings.Frequency, 1) +
                                1;
  const int64_t milliseconds = frames_wanted * 1000 / preview.frame_rate + 1;
  shortened.Duration = static_cast<int16_t>(
      std::clamp<int64_t>(milliseconds, 10, std::max<int16_t>(settings.Duration, 10)));
  std::vector<uint8_t> image(static_cast<size_t>(WaveImageSize(shortened)));
  RenderWaveImage(shortened, false, image.data());

  const bool sixteen_bit = shortened.Resolution == tg16Bit;
  const int64_t bytes = sixteen_bit ? 2 : 1;
  const int64_t frames = std::min<int64_t>(frames_wanted, WaveDataSize(shortened) / bytes);
  preview.samples.reserve(static_cast<size_t>(frames));
  const uint8_t* data = image.data() + kWaveHeaderSize;
  for (int64_t i = 0; i < frames; ++i) {
    if (sixteen_bit) {
      preview.samples.push_back(static_cast<float>(Sample16(data + 2 * i)) / 32767.0f);
    } else {
      preview.samples.push_back(static_cast<float>(data[i] - 128) / 127.0f);
    }
  }
  return preview;
}

std::vector<float> PreviewEnvelope(const ToneSettings& settings, int points) {
  points = std::max(points, 2);
  constexpr int kFull = 32767;
  ToneSettings sixteen_bit = settings;
  sixteen_bit.Resolution = tg16Bit;
  // A mono 16-bit tone of `points` frames at full scale; the envelope's last frame falls into
  // the silent guard bytes after it, as in a real image.
  std::vector<uint8_t> data(static_cast<size_t>(points) * 2 + kWaveGuardSize, 0);
  for (int i = 0; i < points; ++i) {
    data[static_cast<size_t>(2 * i)] = kFull & 0xFF;
    data[static_cast<size_t>(2 * i + 1)] = kFull >> 8;
  }
  ApplyEnvelope(data.data(), points * 2, false, sixteen_bit);
  std::vector<float> levels(static_cast<size_t>(points));
  for (int i = 0; i < points; ++i) {
    levels[static_cast<size_t>(i)] =
        static_cast<float>(Sample16(&data[static_cast<size_t>(2 * i)])) / kFull;
  }
  return levels;
}
