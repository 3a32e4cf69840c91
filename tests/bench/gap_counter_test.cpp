// The gap counter against recordings whose gaps are known: an antiphase square of 211 frames per
// period with silence before and after it, and pauses or skips put in at chosen places; and the
// real stream the bench records.
#include "gap_counter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "ddfs.h"

namespace {

constexpr size_t Period = 211;
constexpr size_t Lead = 1000;  // silence before the player starts, and after it stops
constexpr size_t ToneFrames = 20000;

uint32_t Packed(int16_t left, int16_t right) {
  return static_cast<uint16_t>(left) | static_cast<uint32_t>(static_cast<uint16_t>(right)) << 16;
}

uint32_t SquareFrame(size_t k) {
  const int16_t level = k % Period < 106 ? 26000 : -26000;
  return Packed(level, static_cast<int16_t>(-level));
}

// At tone frame `at`: `pause` silent frames go in, then `skip` tone frames are left out.
struct Edit {
  size_t at;
  size_t pause;
  size_t skip;
};

std::vector<uint32_t> Recording(const std::vector<Edit>& edits, bool odd_first_frame) {
  std::vector<uint32_t> frames(Lead, 0);
  auto edit = edits.begin();
  for (size_t k = 0; k < ToneFrames; ++k) {
    if (edit != edits.end() && edit->at == k) {
      frames.insert(frames.end(), edit->pause, 0);
      k += edit->skip;
      ++edit;
    }
    frames.push_back(SquareFrame(k));
  }
  // A DDFS stream's first square frame has left == right; no later period repeats it.
  if (odd_first_frame) frames[Lead] = Packed(26000, 26000);
  frames.insert(frames.end(), Lead, 0);
  return frames;
}

// A skip's first mismatch falls wherever the jump first crosses an edge of the square.
constexpr size_t AnyFrame = SIZE_MAX;

struct Case {
  const char* name;
  std::vector<Edit> edits;
  bool odd_first_frame;
  // Where each gap starts in the recording and how many frames it lost.
  std::vector<ToneGap> expected;
};

TEST(GapCounterTest, FindsEachPauseAndSkipWithItsLength) {
  const std::vector<Case> cases = {
      {"clean tone, silence around it", {}, false, {}},
      {"the stream's odd first frame", {}, true, {}},
      // Each pause lands at Lead + its tone frame + the frames earlier pauses added.
      {"pauses of 1, 100 and 1000 frames",
       {{3000, 1, 0}, {8000, 100, 0}, {14000, 1000, 0}},
       true,
       {{Lead + 3000, 1}, {Lead + 8000 + 1, 100}, {Lead + 14000 + 101, 1000}}},
      // Two pauses with 100 tone frames between them sound as one: 20 + 100 + 30 frames.
      {"pauses closer than a period", {{5000, 20, 0}, {5100, 30, 0}}, false, {{Lead + 5000, 150}}},
      // 50 frames left out: the square jumps a quarter period, with no pause.
      {"frames skipped without a pause", {{5000, 0, 50}}, false, {{AnyFrame, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint32_t> frames = Recording(c.edits, c.odd_first_frame);
    const GapReport report = FindGaps(frames, Period);
    EXPECT_EQ(report.tone_begin, Lead);
    EXPECT_EQ(report.tone_end, frames.size() - Lead);
    ASSERT_EQ(report.gaps.size(), c.expected.size());
    for (size_t i = 0; i < c.expected.size(); ++i) {
      if (c.expected[i].first != AnyFrame) {
        EXPECT_EQ(report.gaps[i].first, c.expected[i].first);
      }
      EXPECT_EQ(report.gaps[i].lost, c.expected[i].lost);
    }
  }
}

// dropouts.sh plays 209 Hz and compares frames 211 apart: the cycle of 44099 entries is 211 x 209,
// so the real stream must match itself everywhere but its very first frame. Two seconds cover
// every phase of the cycle.
TEST(GapCounterTest, TheBenchToneRepeatsEveryPeriod) {
  InitDDFS();
  StreamFrequency = 209.0L;
  StreamAmplitude = 1.0L;
  std::vector<uint32_t> frames(2 * 44100);
  ToneStreamProc(0, frames.data(), static_cast<uint32_t>(frames.size() * 4), nullptr);
  const GapReport report = FindGaps(frames, Period);
  EXPECT_EQ(report.tone_end - report.tone_begin, frames.size());
  EXPECT_TRUE(report.gaps.empty())
      << report.gaps.size() << " gaps, the first at frame " << report.gaps.front().first;
}

}  // namespace
