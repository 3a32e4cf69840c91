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

}  // namespace
