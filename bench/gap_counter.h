// Finds the gaps in a recording of a steady periodic tone: every frame is compared with the frame
// one period earlier, so a pause, lost frames or wrong samples all show up as mismatches, while
// a clean tone matches everywhere whatever its shape.
//
// Frames are raw 16-bit stereo frames read as 32-bit words; only equality and zero are asked of
// them, so byte order does not matter. A frame of 0 on both channels is silence, which the tone
// itself must never be (a square never is).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

struct ToneGap {
  // Index of the first mismatching frame.
  size_t first = 0;
  // Frames of silence or wrong samples: the span of the mismatches less the one period over
  // which the comparison echoes them. 0 when frames were skipped without a pause.
  size_t lost = 0;
};

struct GapReport {
  // The tone runs from its first audible frame to its last; the silence around it, before the
  // player starts and after it stops, is not a gap.
  size_t tone_begin = 0;
  size_t tone_end = 0;
  std::vector<ToneGap> gaps;
};

// Mismatches less than a period apart belong to one gap. The first period of the tone is only a
// reference: a DDFS stream's very first frame reads phase 0, which no later cycle reads again
// (they land on 44099, the other half of the square), so comparing starts one period later.
GapReport FindGaps(std::span<const uint32_t> frames, size_t period);
