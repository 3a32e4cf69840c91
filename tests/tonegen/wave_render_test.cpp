// The tone generator's renderer: header, data size, waveforms, mixing, saturation, envelope.
#include "wave_render.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "range_check.h"

namespace {

std::vector<uint8_t> Render(const ToneSettings& settings, bool enveloped = false,
                            int* clamped = nullptr) {
  std::vector<uint8_t> image(static_cast<size_t>(WaveImageSize(settings)), 0xEE);
  const int count = RenderWaveImage(settings, enveloped, image.data());
  if (clamped != nullptr) *clamped = count;
  return image;
}

int16_t Sample16(const std::vector<uint8_t>& image, int64_t index) {
  const size_t at = kWaveHeaderSize + 2 * static_cast<size_t>(index);
  return static_cast<int16_t>(static_cast<uint16_t>(image[at] | (image[at + 1] << 8)));
}

uint32_t U32At(const std::vector<uint8_t>& bytes, size_t at) {
  return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) | (uint32_t{bytes[at + 3]} << 24);
}

// The main tone alone at full scale.
ToneSettings MainTone(int frequency, TTGWave waveform, TTGResolution resolution = tg16Bit,
                      TTGQuality quality = tgHiQ) {
  ToneSettings settings;
  settings.Frequency = static_cast<int16_t>(frequency);
  settings.Waveform = waveform;
  settings.Resolution = resolution;
  settings.Quality = quality;
  return settings;
}

// Period k of a tone with SP frames per period covers Trunc((k-1) SP) .. Trunc(k SP) - 1.
int64_t PeriodStart(double frames_per_period, int64_t k) {
  return static_cast<int64_t>(std::trunc(static_cast<double>(k) * frames_per_period));
}

// A plain per-frame rendering written straight from the algorithm: one component after the
// other over the whole data, sin evaluated for every frame, noise drawn in that same order.
// Sine, triangle and sawtooth values are truncated before they are stored; square and noise
// keep their fraction.
std::vector<uint8_t> RenderReference(const ToneSettings& s) {
  const bool sixteen = s.Resolution == tg16Bit;
  const int rate = s.Quality == tgHiQ ? 96000 : 44100;
  const int64_t z = (sixteen ? 2 : 1) * (s.Stereo ? 2 : 1);
  const int64_t d = WaveDataSize(s);
  const int64_t frames = (d + z - 1) / z;
  std::vector<int64_t> sums(static_cast<size_t>(frames), 0);
  uint32_t state = 1;

  int amplitude_sum = 0;
  for (int16_t a : s.FAMAmplitudes) amplitude_sum += a;
  struct Part {
    int level, f;
    TTGWave wave;
  };
  std::vector<Part> parts{{100 - amplitude_sum, s.Frequency, s.Waveform}};
  for (int i = 0; i < kAMLevelCount; ++i) {
    int level = amplitude_sum > 100 ? s.FAMAmplitudes[i] * 100 / amplitude_sum : s.FAMAmplitudes[i];
    int f = s.AMUseMultiplier
                ? static_cast<int>(std::clamp<int64_t>(
                      static_cast<int64_t>(double{s.FAMFrequencies[i]} * s.Frequency), 20, 20000))
                : static_cast<int16_t>(static_cast<int64_t>(s.FAMFrequencies[i]) & 0xFFFF);
    parts.push_back({level, f, s.FAMWaveforms[i]});
  }
  for (const Part& part : parts) {
    if (part.level <= 0 || part.f <= 0) continue;
    double p = sixteen ? part.level * 65534.0 / 100 : part.level * 254.0 / 100;
    const double m = sixteen ? -(part.level * 32767.0) / 100 : -(part.level * 127.0) / 100;
    const double sp = static_cast<double>(rate) / part.f;
    int64_t pl = static_cast<int64_t>(sp);
    const int64_t hp = static_cast<int64_t>(sp + 0.5) / 2;
    int64_t n = 1, j = 0;
    const double w = 2 * M_PI / static_cast<double>(pl);
    double a = m, step = 0;
    if (part.wave == tgSquare) p = p / 2;
    if (part.wave == tgTriangle) {
      if (hp == 0) continue;
      step = p / static_cast<double>(hp);
    }
    if (part.wave == tgSawtooth) step = p / static_cast<double>(pl);
    for (int64_t frame = 0; frame < frames; ++frame) {
      double v = 0;
      switch (part.wave) {
        case tgSine:
          v = std::trunc(std::sin(static_cast<double>(j) * w) / 2 * p);
          break;
        case tgSquare:
          v = j < hp ? m : p;
          break;
        case tgTriangle:
          v = std::trunc(a);
          if (j < hp) {
            a += step;
          } else {
            a -= step;
            if (a < m) a = m;
          }
          break;
        case tgSawtooth:
          v = std::trunc(a);
          a += step;
          break;
        default: {
          state = state * 134775813u + 1u;
          const uint32_t range = static_cast<uint32_t>(static_cast<int64_t>(p + 1));
          v = static_cast<double>((uint64_t{state} * range) >> 32) + m;
        }
      }
      sums[static_cast<size_t>(frame)] +=
          sixteen ? static_cast<int64_t>(v) : static_cast<int64_t>(128 + v) - 128;
      if (++j == pl) {
        j = 0;
        a = m;
        ++n;
        pl = static_cast<int64_t>(static_cast<double>(n) * sp -
                                  std::trunc(static_cast<double>(n - 1) * sp));
      }
    }
  }
  std::vector<uint8_t> image(static_cast<size_t>(d + 76), sixteen ? 0 : 0x80);
  const auto header =
      MakeWaveHeader(s.Stereo, sixteen, s.Quality == tgHiQ, static_cast<int32_t>(d));
  std::copy(header.begin(), header.end(), image.begin());
  for (int64_t frame = 0; frame < frames; ++frame) {
    for (int c = 0; c < (s.Stereo ? 2 : 1); ++c) {
      const int64_t sum = sums[static_cast<size_t>(frame)];
      if (sixteen) {
        const uint16_t v = static_cast<uint16_t>(std::clamp<int64_t>(sum, -32768, 32767));
        image[static_cast<size_t>(44 + frame * z + 2 * c)] = static_cast<uint8_t>(v);
        image[static_cast<size_t>(44 + frame * z + 2 * c + 1)] = static_cast<uint8_t>(v >> 8);
      } else {
        image[static_cast<size_t>(44 + frame * z + c)] =
            static_cast<uint8_t>(std::clamp<int64_t>(sum + 128, 0, 255));
      }
    }
  }
  return image;
}

TEST(WaveRenderTest, DefaultHeaderMatchesTheWorkedBytes) {
  const ToneSettings defaults;
  EXPECT_EQ(WaveDataSize(defaults), 19200);
  EXPECT_EQ(WaveImageSize(defaults), 19276);
  const std::vector<uint8_t> expected{
      0x52, 0x49, 0x46, 0x46, 0x24, 0x4B, 0x00, 0x00, 0x57, 0x41, 0x56, 0x45, 0x66, 0x6D, 0x74,
      0x20, 0x10, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x77, 0x01, 0x00, 0x00, 0xEE,
      0x02, 0x00, 0x02, 0x00, 0x10, 0x00, 0x64, 0x61, 0x74, 0x61, 0x00, 0x4B, 0x00, 0x00};
  const auto header = MakeWaveHeader(false, true, true, 19200);
  EXPECT_EQ(std::vector<uint8_t>(header.begin(), header.end()), expected);
  const auto image = Render(defaults);
  EXPECT_EQ(std::vector<uint8_t>(image.begin(), image.begin() + 44), expected);
}

TEST(WaveRenderTest, DataSizesIncludeOddSizesAndTheLargestImage) {
  ToneSettings s;
  s.Quality = tgLoQ;
  s.Duration = 15;
  EXPECT_EQ(WaveDataSize(s), 1323);  // 661 whole frames and one byte
  EXPECT_EQ(U32At(Render(s), 4), 1359u);
  s.Stereo = true;
  EXPECT_EQ(WaveDataSize(s), 2646);
  s.Resolution = tg8Bit;
  EXPECT_EQ(WaveDataSize(s), 1322);
  ToneSettings largest;
  largest.Duration = 32767;
  largest.Stereo = true;
  EXPECT_EQ(WaveDataSize(largest), 12582528);
  EXPECT_EQ(WaveImageSize(largest), 12582528 + 76);
  // Header fields for the other formats.
  const auto h = MakeWaveHeader(true, false, false, 1000);
  const std::vector<uint8_t> bytes(h.begin(), h.end());
  EXPECT_EQ(bytes[22], 2);
  EXPECT_EQ(U32At(bytes, 24), 44100u);
  EXPECT_EQ(U32At(bytes, 28), 88200u);
  EXPECT_EQ(bytes[32], 2);
  EXPECT_EQ(bytes[34], 8);
  EXPECT_EQ(U32At(bytes, 40), 1000u);
}

TEST(WaveRenderTest, DefaultSineStartsAndRestartsAsWorkedOut) {
  const auto image = Render(ToneSettings{});
  const int16_t first[] = {0, 944, 1887, 2829, 3769};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Sample16(image, i), first[i]) << "frame " << i;
  EXPECT_EQ(Sample16(image, 54), 32763);
  EXPECT_EQ(Sample16(image, 55), 32763);
  EXPECT_EQ(Sample16(image, 109), 0);
  // Every period starts at 0 and rises; the starts fall at Trunc(k x 96000 / 440).
  const double sp = 96000.0 / 440.0;
  std::vector<int64_t> lengths;
  for (int64_t k = 1; PeriodStart(sp, k) < 9600 - 2; ++k) {
    const int64_t start = PeriodStart(sp, k - 1);
    EXPECT_EQ(Sample16(image, start), 0) << "period " << k;
    EXPECT_GT(Sample16(image, start + 1), 0) << "period " << k;
    EXPECT_LT(Sample16(image, start - 1 + (PeriodStart(sp, k) - start)), 1) << "period " << k;
    lengths.push_back(PeriodStart(sp, k) - start);
  }
  const std::vector<int64_t> worked{218, 218, 218, 218, 218, 219, 218};
  EXPECT_EQ(std::vector<int64_t>(lengths.begin(), lengths.begin() + 7), worked);
}

TEST(WaveRenderTest, SawtoothAndTriangleAndSquarePeriodsAtOneKilohertz) {
  const auto saw = Render(MainTone(1000, tgSawtooth));
  const auto tri = Render(MainTone(1000, tgTriangle));
  for (int64_t period = 0; period < 100; ++period) {
    const int64_t s = period * 96;
    EXPECT_EQ(Sample16(saw, s + 0), -32767);
    EXPECT_EQ(Sample16(saw, s + 1), -32084);
    EXPECT_EQ(Sample16(saw, s + 2), -31401);
    EXPECT_EQ(Sample16(saw, s + 3), -30719);
    EXPECT_EQ(Sample16(saw, s + 94), 31401);
    EXPECT_EQ(Sample16(saw, s + 95), 32084);
    EXPECT_EQ(Sample16(tri, s + 0), -32767);
    EXPECT_EQ(Sample16(tri, s + 1), -31401);
    EXPECT_EQ(Sample16(tri, s + 2), -30036);
    EXPECT_EQ(Sample16(tri, s + 48), 32767);
    EXPECT_EQ(Sample16(tri, s + 95), -31401);
  }
  // Level 50: an AM entry of 50 that sounds at no frequency leaves the main tone half.
  ToneSettings half = MainTone(1000, tgSquare);
  half.FAMAmplitudes[0] = 50;
  half.AMUseMultiplier = false;
  half.FAMFrequencies[0] = 0.0f;
  const auto square = Render(half);
  for (int64_t i = 0; i < 9600; ++i) {
    EXPECT_EQ(Sample16(square, i), i % 96 < 48 ? -16383 : 16383) << "frame " << i;
  }
}

TEST(WaveRenderTest, EightBitSquareAtLowQualityHasUnevenPeriods) {
  const ToneSettings s = MainTone(1000, tgSquare, tg8Bit, tgLoQ);
  const auto image = Render(s);
  const int64_t frames = WaveDataSize(s);
  const double sp = 44.1;
  for (int64_t k = 1; PeriodStart(sp, k) <= frames; ++k) {
    const int64_t start = PeriodStart(sp, k - 1);
    const int64_t length = PeriodStart(sp, k) - start;
    EXPECT_EQ(length, k % 10 == 0 ? 45 : 44) << "period " << k;
    for (int64_t j = 0; j < length; ++j) {
      EXPECT_EQ(image[static_cast<size_t>(44 + start + j)], j < 22 ? 1 : 255) << start + j;
    }
  }
}

// 8-bit bytes worked out by hand from the formulas: V is truncated towards zero and then
// stored as 128 + V, so a negative value with a fraction is not stored one step low.
TEST(WaveRenderTest, EightBitSineTriangleAndSawtoothStoreTruncatedValues) {
  struct Worked {
    int64_t frame;
    int byte;
  };
  struct Case {
    int frequency;
    TTGWave wave;
    TTGQuality quality;
    std::vector<Worked> bytes;
  };
  const Case cases[] = {
      // 440 Hz, w = 2 pi / 218: V = sin(j w) x 127.
      {440, tgSine, tgHiQ, {{1, 131}, {110, 125}, {150, 11}, {217, 125}, {328, 125}}},
      // 3000 Hz at 44100: PL = 14.
      {3000, tgSine, tgLoQ, {{1, 183}, {3, 251}, {8, 73}, {10, 5}, {12, 29}}},
      // s = 254 / 44 = 5.7727: -121.23, -115.45, -11.55, 46.18; frame 45 starts period 2.
      {1000, tgSawtooth, tgLoQ, {{1, 7}, {2, 13}, {20, 117}, {30, 174}, {44, 1}, {45, 7}}},
      // HP = 22, s = 254 / 22 = 11.545: rising -115.45, -69.27, 115.45; falling 34.64, -80.82.
      {1000, tgTriangle, tgLoQ, {{1, 13}, {5, 59}, {21, 243}, {30, 162}, {40, 48}, {45, 13}}},
      // At 96000: s = 254 / 96 (sawtooth), 254 / 48 (triangle).
      {1000, tgSawtooth, tgHiQ, {{1, 4}, {10, 28}, {60, 159}}},
      {1000, tgTriangle, tgHiQ, {{1, 7}, {60, 191}, {90, 33}}},
  };
  for (const Case& c : cases) {
    for (bool stereo : {false, true}) {
      ToneSettings s = MainTone(c.frequency, c.wave, tg8Bit, c.quality);
      s.Stereo = stereo;
      const auto image = Render(s);
      const int channels = stereo ? 2 : 1;
      for (const Worked& w : c.bytes) {
        for (int ch = 0; ch < channels; ++ch) {
          EXPECT_EQ(image[static_cast<size_t>(44 + w.frame * channels + ch)], w.byte)
              << c.frequency << " Hz, wave " << int{c.wave} << ", frame " << w.frame
              << (stereo ? ", stereo channel " + std::to_string(ch) : ", mono");
        }
      }
    }
  }
}

TEST(WaveRenderTest, NoiseDrawsAreTheWorkedOnesAtEveryRendering) {
  const ToneSettings s16 = MainTone(440, tgNoise);
  const auto a = Render(s16);
  const int16_t expected16[] = {-30711, 23661, -19491, -14882};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(Sample16(a, i), expected16[i]);
  EXPECT_EQ(Render(s16), a);

  const auto b = Render(MainTone(440, tgNoise, tg8Bit));
  const uint8_t expected8[] = {9, 220, 52, 70};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(b[44 + i], expected8[i]);
  // An ordinal past the sawtooth renders as noise.
  EXPECT_EQ(Render(MainTone(440, static_cast<TTGWave>(7))), a);
}

TEST(WaveRenderTest, StereoWritesEveryMonoValueTwice) {
  for (TTGResolution resolution : {tg16Bit, tg8Bit}) {
    for (TTGWave wave : {tgSine, tgSquare, tgTriangle, tgSawtooth, tgNoise}) {
      ToneSettings mono = MainTone(523, wave, resolution);
      mono.FAMAmplitudes = {20, 10, 0, 0, 0, 0, 0, 15};
      mono.FAMWaveforms = {tgNoise, tgTriangle, tgSine, tgSine, tgSine, tgSine, tgSine, tgSquare};
      ToneSettings stereo = mono;
      stereo.Stereo = true;
      const auto m = Render(mono);
      const auto st = Render(stereo);
      const int64_t d = WaveDataSize(mono);
      ASSERT_EQ(WaveDataSize(stereo), 2 * d);
      const int b = resolution == tg16Bit ? 2 : 1;
      for (int64_t i = 0; i < d; i += b) {
        for (int k = 0; k < b; ++k) {
          ASSERT_EQ(st[44 + 2 * i + k], m[44 + i + k]) << "left at " << i;
          ASSERT_EQ(st[44 + 2 * i + b + k], m[44 + i + k]) << "right at " << i;
        }
      }
    }
  }
}

TEST(WaveRenderTest, TopFrequencySineIsSilentOnlyAtLowQuality) {
  const auto low = Render(MainTone(20000, tgSine, tg16Bit, tgLoQ));
  const auto high = Render(MainTone(20000, tgSine, tg16Bit, tgHiQ));
  const auto loud = [](const std::vector<uint8_t>& image) {
    int peak = 0;
    for (size_t i = 44; i + 1 < image.size() - 32; i += 2) {
      peak = std::max(peak, std::abs(int{static_cast<int16_t>(image[i] | (image[i + 1] << 8))}));
    }
    return peak;
  };
  EXPECT_EQ(loud(low), 0);
  EXPECT_GT(loud(high), 30000);
}

TEST(WaveRenderTest, AmLevelsTakeTheirShareFromTheMainTone) {
  // Two squares at the same frequency sum their floors in the first half period.
  const auto floor16 = [](int level) { return static_cast<int>(-(level * 32767.0) / 100); };
  const auto top16 = [](int level) { return static_cast<int>(level * 65534.0 / 100 / 2); };
  ToneSettings s = MainTone(1000, tgSquare);
  s.FAMAmplitudes[0] = 30;
  s.FAMWaveforms[0] = tgSquare;
  s.FAMFrequencies[0] = 1.0f;
  auto image = Render(s);
  EXPECT_EQ(Sample16(image, 0), floor16(70) + floor16(30));
  EXPECT_EQ(Sample16(image, 60), top16(70) + top16(30));

  // 100 + 50: scaled to 66 and 33, the main tone (level -50) silent.
  s.FAMAmplitudes[0] = 100;
  s.FAMAmplitudes[1] = 50;
  s.FAMWaveforms[1] = tgSquare;
  s.FAMFrequencies[1] = 1.0f;
  image = Render(s);
  EXPECT_EQ(Sample16(image, 0), floor16(66) + floor16(33));
  EXPECT_EQ(Sample16(image, 60), top16(66) + top16(33));
}

// The renderer only reports the clamping; the component shows the design-time message.
TEST(WaveRenderTest, MultipliedFrequencyIsClampedAndReportedWithoutAMessage) {
  static std::vector<std::string> messages;
  messages.clear();
  const RangeMessageHook previous =
      SetRangeMessageHook([](const std::string& text, const std::string& caption) {
        messages.push_back(caption + ": " + text);
      });
  ToneSettings s = MainTone(10000, tgSine);
  s.FAMAmplitudes[0] = 100;  // the main tone keeps nothing
  s.FAMWaveforms[0] = tgSquare;
  s.FAMFrequencies = {4.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f};  // only level 1 clamps
  int clamped = 0;
  const auto image = Render(s, false, &clamped);
  SetRangeMessageHook(previous);
  EXPECT_EQ(clamped, 1);
  EXPECT_TRUE(messages.empty());
  // At 20000 Hz (not 40000) a period has 4.8 frames: the square's floor starts each period.
  const double sp = 96000.0 / 20000.0;
  for (int64_t k = 1; k < 200; ++k) {
    const int64_t start = PeriodStart(sp, k - 1);
    EXPECT_EQ(Sample16(image, start), -32767) << "period " << k;
    EXPECT_EQ(Sample16(image, start + 1), -32767);
    EXPECT_EQ(Sample16(image, start + 2), 32767);
    EXPECT_EQ(Sample16(image, PeriodStart(sp, k) - 1), 32767);
  }
  // Huge and negative products clamp too, without overflow.
  s.FAMFrequencies[0] = 3.0e38f;
  EXPECT_EQ(Render(s, false, &clamped), image);
  EXPECT_EQ(clamped, 1);
  s.FAMFrequencies[0] = -1.0f;
  s.FAMWaveforms[0] = tgSawtooth;
  const auto low = Render(s);
  EXPECT_EQ(Sample16(low, 0), -32767);
  EXPECT_EQ(Sample16(low, 4799), 32753);  // 20 Hz: one period of 4800 frames
}

TEST(WaveRenderTest, LevelsWithoutFrequencyAddNothing) {
  ToneSettings s = MainTone(440, tgSine);
  s.FAMAmplitudes[0] = 100;
  s.AMUseMultiplier = false;
  s.FAMFrequencies[0] = 0.7f;  // Trunc gives 0 Hz
  auto image = Render(s);
  EXPECT_TRUE(std::all_of(image.begin() + 44, image.end(), [](uint8_t b) { return b == 0; }));
  // 65536 + 440 keeps only its low 16 bits: 440 Hz.
  s.FAMFrequencies[0] = 65976.0f;
  EXPECT_EQ(Render(s), Render(MainTone(440, tgSine)));
}

TEST(WaveRenderTest, TriangleWithoutHalfPeriodRendersAsSilence) {
  ToneSettings s = MainTone(440, tgSawtooth, tg16Bit, tgLoQ);
  s.AMUseMultiplier = false;
  s.FAMAmplitudes[0] = 40;
  s.FAMWaveforms[0] = tgTriangle;
  s.FAMFrequencies[0] = 30000.0f;  // 1.47 frames per period: HP = 0
  ToneSettings without = s;
  without.FAMFrequencies[0] = 0.0f;
  EXPECT_EQ(Render(s), Render(without));
}

TEST(WaveRenderTest, SumsOutsideTheRangeSaturateInsteadOfWrapping) {
  // A negative AM entry lifts the main tone to level 200.
  ToneSettings s = MainTone(440, tgSine);
  s.AMUseMultiplier = false;
  s.FAMAmplitudes[0] = -100;
  s.FAMFrequencies[0] = 0.0f;
  auto image = Render(s);
  const double w = 2 * M_PI / 218;
  for (int64_t j = 0; j < 218; ++j) {
    const int64_t unclamped = static_cast<int64_t>(std::sin(static_cast<double>(j) * w) * 65534);
    EXPECT_EQ(Sample16(image, j), std::clamp<int64_t>(unclamped, -32768, 32767)) << j;
  }
  // 8 bits: a square at level 200 would wrap its floor from byte -126 to 130.
  ToneSettings b = s;
  b.Waveform = tgSquare;
  b.Resolution = tg8Bit;
  image = Render(b);
  EXPECT_EQ(image[44], 0);
  EXPECT_EQ(image[44 + 150], 255);
}

TEST(WaveRenderTest, FastPathMatchesPerFrameEvaluation) {
  struct Case {
    int frequency;
    TTGQuality quality;
    TTGResolution resolution;
    bool stereo;
  };
  const Case cases[] = {{440, tgHiQ, tg16Bit, false},  {441, tgLoQ, tg16Bit, true},
                        {20, tgHiQ, tg8Bit, false},    {19999, tgLoQ, tg8Bit, true},
                        {1234, tgLoQ, tg16Bit, false}, {97, tgHiQ, tg16Bit, true},
                        {7001, tgHiQ, tg8Bit, true}};
  for (const Case& c : cases) {
    for (TTGWave wave : {tgSine, tgSquare, tgTriangle, tgSawtooth, tgNoise}) {
      ToneSettings s = MainTone(c.frequency, wave, c.resolution, c.quality);
      s.Stereo = c.stereo;
      s.Duration = 137;
      // Several levels, two of them noise, so their draws interleave as in a plain rendering.
      s.FAMAmplitudes = {9, 8, 7, 6, 12, 11, 10, 5};
      s.FAMWaveforms = {tgSine,   tgNoise, tgTriangle, tgSawtooth,
                        tgSquare, tgNoise, tgSine,     tgTriangle};
      s.FAMFrequencies = {0.37f, 1.0f, 2.71f, 0.5f, 3.3f, 1.5f, 7.77f, 0.013f};
      const auto fast = Render(s);
      const auto reference = RenderReference(s);
      ASSERT_EQ(fast.size(), reference.size());
      EXPECT_EQ(fast, reference) << c.frequency << " Hz, wave " << int{wave};
      ToneSettings alone = MainTone(c.frequency, wave, c.resolution, c.quality);
      EXPECT_EQ(Render(alone), RenderReference(alone)) << c.frequency << " Hz alone";
    }
  }
}

// The enveloped value of every frame from the plain one, over the phases given as
// (first, last, phase) with the counts the defaults produce.
enum Phase { kAttack, kHold, kDecay, kSustain, kRelease };
struct PhaseSpan {
  int64_t first, last;
  Phase phase;
  int64_t count;
};

int64_t Shaped(Phase phase, int64_t m, int64_t v, int64_t count, int sustain) {
  const double sl = sustain / 100.0;
  switch (phase) {
    case kAttack:
      return static_cast<int64_t>(static_cast<double>(m * v) * (1.0 / count));
    case kHold:
      return v;
    case kDecay:
      return v - static_cast<int64_t>(static_cast<double>(m * v) *
                                      ((100 - sustain) / static_cast<double>(count) / 100));
    case kSustain:
      return static_cast<int64_t>(static_cast<double>(v) * sl);
    case kRelease:
      return static_cast<int64_t>(static_cast<double>((count - m) * v) * (sl / count));
  }
  return v;
}

void ExpectEnvelope(const ToneSettings& s, const std::vector<PhaseSpan>& spans) {
  const auto plain = Render(s);
  const auto shaped = Render(s, true);
  const int channels = s.Stereo ? 2 : 1;
  int64_t frame = 0;
  for (const PhaseSpan& span : spans) {
    ASSERT_EQ(span.first, frame);
    for (; frame <= span.last; ++frame) {
      const int64_t v = Sample16(plain, frame * channels);
      const int64_t want = Shaped(span.phase, frame - span.first, v, span.count, s.Sustain);
      ASSERT_EQ(Sample16(shaped, frame * channels), want) << "frame " << frame;
      if (channels == 2) {
        ASSERT_EQ(Sample16(shaped, frame * 2 + 1), want);
      }
    }
  }
}

TEST(WaveRenderTest, DefaultEnvelopeCoversTheWorkedPhases) {
  const std::vector<PhaseSpan> spans{{0, 960, kAttack, 960},
                                     {961, 1441, kHold, 480},
                                     {1442, 3362, kDecay, 1920},
                                     {3363, 6723, kSustain, 3360},
                                     {6724, 9599, kRelease, 2876}};
  ToneSettings s;
  s.Waveform = tgSawtooth;  // nonzero almost everywhere
  ExpectEnvelope(s, spans);
  s.Stereo = true;
  ExpectEnvelope(s, spans);
  // The release's last frame F = 9600 lies in the guard bytes and is silence.
  s.Stereo = false;
  const auto shaped = Render(s, true);
  EXPECT_TRUE(std::all_of(shaped.end() - 32, shaped.end(), [](uint8_t b) { return b == 0; }));
  // The attack starts at 0 and reaches the plain value on its last frame.
  EXPECT_EQ(Sample16(shaped, 0), 0);
  EXPECT_NEAR(Sample16(shaped, 960), Sample16(Render(s), 960), 1);
}

TEST(WaveRenderTest, EnvelopeWithAllTimesZeroIsOneSustain) {
  ToneSettings s;
  s.Attack = s.Hold = s.Decay = s.Release = 0;
  s.Sustain = 100;
  EXPECT_EQ(Render(s, true), Render(s));
  s.Sustain = 0;
  const auto silent = Render(s, true);
  EXPECT_TRUE(std::all_of(silent.begin() + 44, silent.end(), [](uint8_t b) { return b == 0; }));
  s.Resolution = tg8Bit;
  const auto silent8 = Render(s, true);
  EXPECT_TRUE(
      std::all_of(silent8.begin() + 44, silent8.end(), [](uint8_t b) { return b == 0x80; }));
}

TEST(WaveRenderTest, EnvelopeWithAllTimesHundredHasNoSustain) {
  // Times scale to 25 each: 2400 frames per phase of the 9600.
  ToneSettings s;
  s.Waveform = tgTriangle;
  s.Attack = s.Hold = s.Decay = s.Release = 100;
  ExpectEnvelope(s, {{0, 2400, kAttack, 2400},
                     {2401, 4801, kHold, 2400},
                     {4802, 7202, kDecay, 2400},
                     {7203, 9599, kRelease, 2397}});
}

// Every format, with and without the envelope, with all eight AM levels sounding: the image
// size, the header and the guard bytes hold whatever the duration.
TEST(WaveRenderTest, EveryFormatKeepsItsSizeHeaderAndGuardBytes) {
  for (int wave = tgSine; wave <= tgNoise; ++wave) {
    for (TTGResolution resolution : {tg16Bit, tg8Bit}) {
      for (TTGQuality quality : {tgHiQ, tgLoQ}) {
        for (bool stereo : {false, true}) {
          for (bool enveloped : {false, true}) {
            for (int16_t duration : {10, 15, 17, 333}) {
              ToneSettings s = MainTone(2000, static_cast<TTGWave>(wave), resolution, quality);
              s.Stereo = stereo;
              s.Duration = duration;
              s.FAMAmplitudes = {15, 15, 15, 15, 15, 15, 15, 15};
              for (int i = 0; i < kAMLevelCount; ++i) {
                s.FAMWaveforms[i] = static_cast<TTGWave>((wave + i) % 5);
              }
              const int bytes = resolution == tg16Bit ? 2 : 1;
              const int z = bytes * (stereo ? 2 : 1);
              const int64_t d = int64_t{bytes} * duration * (quality == tgHiQ ? 960 : 441) / 10 *
                                (stereo ? 2 : 1);
              const auto image = Render(s, enveloped);
              ASSERT_EQ(static_cast<int64_t>(image.size()), d + 76);
              EXPECT_EQ(U32At(image, 4), d + 36);
              EXPECT_EQ(U32At(image, 40), d);
              // A partial last frame reaches into the guard bytes with its copy of the value.
              const int64_t used = (d + z - 1) / z * z;
              const uint8_t silence = resolution == tg16Bit ? 0 : 0x80;
              for (int64_t i = 44 + used; i < d + 76; ++i) {
                ASSERT_EQ(image[static_cast<size_t>(i)], silence) << "byte " << i;
              }
              if (used > d && stereo) {
                ASSERT_EQ(image[static_cast<size_t>(44 + used - 2)],
                          image[static_cast<size_t>(44 + used - 4)]);
                ASSERT_EQ(image[static_cast<size_t>(44 + used - 1)],
                          image[static_cast<size_t>(44 + used - 3)]);
              }
            }
          }
        }
      }
    }
  }
}

}  // namespace

namespace clean {

// Residual after a least-squares fit of a sine and cosine at frequency f (and a constant) over
// the first whole number of periods, as a ratio of its RMS to the signal's, in dB.
double ThdPlusNoiseDb(const std::vector<uint8_t>& image, int64_t frames, double f, int rate) {
  const int64_t periods = static_cast<int64_t>(std::floor(frames * f / rate));
  const int64_t n = static_cast<int64_t>(std::floor(periods * rate / f));
  double ss = 0, cc = 0, sc = 0, xs = 0, xc = 0, sum = 0;
  for (int64_t i = 0; i < n; ++i) {
    const double w = 2.0 * M_PI * f * static_cast<double>(i) / rate;
    const double s = std::sin(w), c = std::cos(w), x = Sample16(image, i);
    ss += s * s, cc += c * c, sc += s * c, xs += x * s, xc += x * c, sum += x;
  }
  const double det = ss * cc - sc * sc;
  const double a = (xs * cc - xc * sc) / det, b = (xc * ss - xs * sc) / det;
  const double mean = sum / static_cast<double>(n);
  double residual = 0, total = 0;
  for (int64_t i = 0; i < n; ++i) {
    const double w = 2.0 * M_PI * f * static_cast<double>(i) / rate;
    const double x = Sample16(image, i);
    const double r = x - mean - a * std::sin(w) - b * std::cos(w);
    residual += r * r, total += x * x;
  }
  return 10.0 * std::log10(residual / total);
}

ToneSettings Clean(double frequency, int duration_ms = 1000) {
  ToneSettings settings;
  settings.Clean = true;
  settings.ExactFrequency = frequency;
  settings.Frequency = static_cast<int16_t>(std::lround(frequency));
  settings.Duration = static_cast<int16_t>(duration_ms);
  return settings;
}

}  // namespace clean

TEST(WaveRenderTest, CleanSineFollowsTheExactFrequencyAndIsPure) {
  struct Case {
    double frequency;
    TTGQuality quality;
  };
  const Case cases[] = {{27.5, tgHiQ}, {440, tgHiQ},         {997, tgHiQ},
                        {5000, tgHiQ}, {261.6255653, tgLoQ}, {19999.5, tgHiQ}};
  for (const Case& c : cases) {
    ToneSettings settings = clean::Clean(c.frequency);
    settings.Quality = c.quality;
    const int rate = c.quality == tgHiQ ? 96000 : 44100;
    const auto image = Render(settings);
    const int64_t frames = WaveDataSize(settings) / 2;
    int64_t off = 0;
    for (int64_t i = 0; i < frames; ++i) {
      const double expected = 32767.0 * std::sin(2.0 * M_PI * c.frequency * i / rate);
      if (std::fabs(Sample16(image, i) - expected) > 0.5 + 1e-6) ++off;
    }
    EXPECT_EQ(off, 0) << c.frequency << " Hz";
    EXPECT_LT(clean::ThdPlusNoiseDb(image, frames, c.frequency, rate), -90.0)
        << c.frequency << " Hz";
  }
  // The described rendering of the same 997 Hz is far from pure: the reason for the clean mode.
  ToneSettings restarting = clean::Clean(997);
  restarting.Clean = false;
  EXPECT_GT(clean::ThdPlusNoiseDb(Render(restarting), 96000, 997, 96000), -40.0);
}

TEST(WaveRenderTest, CleanExtraTonesSoundAtTheirExactFrequencies) {
  struct Case {
    bool multiplier;
    float value;
    double expected_hz;
  };
  const Case cases[] = {{true, 1.5f, 660.0}, {true, 100.0f, 20000.0}, {false, 1000.25f, 1000.25}};
  for (const Case& c : cases) {
    ToneSettings settings = clean::Clean(440, 100);
    settings.AMUseMultiplier = c.multiplier;
    settings.FAMAmplitudes[0] = 40;
    settings.FAMFrequencies[0] = c.value;
    const auto image = Render(settings);
    for (int64_t i = 0; i < 9600; ++i) {
      const double w = 2.0 * M_PI * static_cast<double>(i) / 96000;
      const double expected =
          0.6 * 32767.0 * std::sin(w * 440.0) + 0.4 * 32767.0 * std::sin(w * c.expected_hz);
      ASSERT_NEAR(Sample16(image, i), expected, 1.0 + 1e-6) << c.value << " frame " << i;
    }
  }
}
