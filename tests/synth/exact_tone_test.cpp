#include "exact_tone.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class ExactTone : public testing::Test {
 protected:
  static void SetUpTestSuite() { InitDDFS(); }
};

std::vector<uint8_t> Rendered(ExactOscillator& oscillator, uint32_t frames) {
  std::vector<uint8_t> out(size_t{frames} * 4, 0xAA);
  ExactToneStreamProc(0, out.data(), frames * 4, &oscillator);
  return out;
}

// Two streams at once, each with its own oscillator, filled in turns of uneven buffers, give the
// very frames each gives alone: neither moves the other's phase, glide or frame count.
TEST_F(ExactTone, StreamsPlayingAtOnceKeepTheirOwnOscillators) {
  const ::ExactTone tones[2] = {{1000.125L, 1000.125L, 0, 100, wsSine},
                                {440.0L, 880.0L, 3000, 25, wsSquare}};
  ExactOscillator alone[2], together[2];
  std::vector<uint8_t> expected[2], got[2];
  for (int k = 0; k < 2; ++k) {
    alone[k].SetTone(tones[k]);
    together[k].SetTone(tones[k]);
    expected[k] = Rendered(alone[k], 5000);
  }
  for (uint32_t frames : {1u, 700u, 1024u, 3275u}) {
    for (int k = 0; k < 2; ++k) {
      const std::vector<uint8_t> part = Rendered(together[k], frames);
      got[k].insert(got[k].end(), part.begin(), part.end());
    }
  }
  for (int k = 0; k < 2; ++k) {
    EXPECT_EQ(got[k], expected[k]) << "stream " << k;
    EXPECT_EQ(together[k].StepFrame(), 5000u);
  }
}

// One lookup from shape to table for DDFS and the exact tone: an unknown shape plays nothing in
// either (DDFS leaves the buffer as it is, the exact tone fills silence).
TEST_F(ExactTone, ShapesReadTheTablesDdfsReadsAndAnUnknownOneIsSilent) {
  const int16_t* const tables[] = {SineTable, SquareTable, TriangleTable, SawtoothTable, nullptr};
  for (int shape = 0; shape <= 4; ++shape) {
    EXPECT_EQ(WaveTable(static_cast<WaveShape>(shape)), tables[shape]) << shape;
  }
  ExactOscillator oscillator;
  oscillator.SetTone({1000.0L, 1000.0L, 0, 100, static_cast<WaveShape>(4)});
  EXPECT_EQ(Rendered(oscillator, 64), std::vector<uint8_t>(256, 0));
  OutputWaveShape = static_cast<WaveShape>(4);
  StreamFrequency = 1000.0L;
  std::vector<uint8_t> untouched(256, 0xAA);
  ToneStreamProc(0, untouched.data(), 256, nullptr);
  EXPECT_EQ(untouched, std::vector<uint8_t>(256, 0xAA));
  OutputWaveShape = wsSquare;
}

// A glide in octaves from 100 Hz to 400 Hz over a second passes 200 Hz halfway and sounds
// 300 / ln 4 = 216.4 cycles over the second (one in hertz: 250); then 400 Hz holds, and the
// phase runs on unbroken. A gate's silence moves it on as the frames one by one would.
TEST_F(ExactTone, AGlideInOctavesMovesByEqualRatiosAndLandsOnItsEnd) {
  // Rising crossings of zero in the left channel of frames [begin, end).
  const auto cycles = [](const std::vector<uint8_t>& out, size_t begin, size_t end) {
    int count = 0;
    for (size_t k = begin + 1; k < end; ++k) {
      const auto left = [&](size_t n) {
        return static_cast<int16_t>(out[n * 4] | out[n * 4 + 1] << 8);
      };
      count += left(k - 1) < 0 && left(k) >= 0;
    }
    return count;
  };
  ::ExactTone tone{100.0L, 400.0L, 44100, 100, wsSine};
  tone.exponential = true;
  ExactOscillator oscillator;
  oscillator.SetTone(tone);
  const std::vector<uint8_t> out = Rendered(oscillator, 2 * 44100);
  EXPECT_NEAR(cycles(out, 0, 44100), 216, 1);
  EXPECT_NEAR(cycles(out, 22050 - 2205, 22050 + 2205), 20, 1);  // 200 Hz over 0.1 s
  EXPECT_EQ(cycles(out, 44100, 2 * 44100), 400);

  // Gated half the time: the frames that sound are the ungated glide's own.
  ::ExactTone gated = tone;
  gated.gate_millihertz = 10000;
  ExactOscillator other;
  other.SetTone(gated);
  const std::vector<uint8_t> half = Rendered(other, 2 * 44100);
  for (size_t k = 0; k < 2 * 44100; ++k) {
    if (k * 10 % 44100 >= 22050) continue;  // off for the second half of each tenth
    ASSERT_EQ(half[k * 4], out[k * 4]) << k;
    ASSERT_EQ(half[k * 4 + 1], out[k * 4 + 1]) << k;
  }
}

}  // namespace
