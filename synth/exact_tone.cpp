#include "exact_tone.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "audio_format.h"
#include "little_endian.h"

namespace {

// Phase per frame with 64 bits of fraction below the phase's own 64: 2^-128 of a cycle.
__extension__ typedef unsigned __int128 Wide;

struct State {
  Wide phase = 0;  // a whole cycle is 2^64 in the upper half
  Wide increment = 0;
  Wide slope = 0;  // added to the increment every frame of a glide; negative ones wrap
  Wide end_increment = 0;
  uint64_t glide_left = 0;  // frames of the glide still to come
  const int16_t* table = SquareTable;
  int level = 100;
  bool silent = true;
};

State state;

bool Playable(long double hz) {
  return hz > 0.0L && hz < kFramesPerSecond / 2.0L;  // false for a NaN too
}

Wide IncrementFor(long double hz) {
  // Below half a cycle per frame, so the whole part fits 63 bits; the fraction keeps what the
  // extended mantissa has left.
  const long double per_frame = std::ldexp(hz / kFramesPerSecond, 64);
  const long double whole = std::floor(per_frame);
  const auto fraction = static_cast<uint64_t>(std::ldexp(per_frame - whole, 64));
  return (Wide{static_cast<uint64_t>(whole)} << 64) | fraction;
}

const int16_t* TableFor(WaveShape shape) {
  switch (shape) {
    case wsSine:
      return SineTable;
    case wsTriangle:
      return TriangleTable;
    case wsSawtooth:
      return SawtoothTable;
    case wsSquare:
      break;
  }
  return SquareTable;
}

// The table entry at a phase: the tables hold one cycle in entries 0..44098.
inline int16_t EntryAt(const int16_t* table, Wide phase) {
  const auto cycle = static_cast<uint64_t>(phase >> 64);
  return table[static_cast<uint32_t>((Wide{cycle} * PhaseModulus) >> 64)];
}

// Writes frames frames from the state and advances it: the glide's when glide, at full level
// when level is 100 (else at the state's level).
template <bool glide, int level>
uint8_t* Fill(uint8_t* out, uint32_t frames) {
  const int16_t* const table = state.table;
  const int scale = level == 100 ? 100 : state.level;
  Wide phase = state.phase;
  Wide increment = state.increment;
  for (uint32_t k = 0; k < frames; ++k, out += kBytesPerFrame) {
    const int32_t left = EntryAt(table, phase) * scale / 100;  // toward zero
    // No entry is -32768, so the negation fits.
    PutLE32(out, static_cast<uint16_t>(left) |
                     (static_cast<uint32_t>(static_cast<uint16_t>(-left)) << 16));
    phase += increment;
    if constexpr (glide) increment += state.slope;
  }
  state.phase = phase;
  if constexpr (glide) {
    state.glide_left -= frames;
    // The glide's last frame lands on the end frequency exactly.
    state.increment = state.glide_left == 0 ? state.end_increment : increment;
  }
  return out;
}

}  // namespace

void SetExactTone(const ExactTone& tone) {
  state.table = TableFor(tone.shape);
  state.level = tone.level_percent < 1 ? 1 : tone.level_percent > 100 ? 100 : tone.level_percent;
  state.silent = !Playable(tone.start_hz) || !Playable(tone.end_hz);
  if (state.silent) return;
  state.increment = IncrementFor(tone.start_hz);
  state.end_increment = IncrementFor(tone.end_hz);
  state.glide_left = tone.end_hz != tone.start_hz ? tone.glide_frames : 0;
  state.slope = 0;
  if (state.glide_left != 0) {
    // Signed difference over the frames, kept in two's complement.
    const bool rising = state.end_increment > state.increment;
    const Wide span =
        rising ? state.end_increment - state.increment : state.increment - state.end_increment;
    const Wide step = span / state.glide_left;
    state.slope = rising ? step : Wide{0} - step;
  } else {
    state.increment = state.end_increment;
  }
}

uint32_t ExactToneStreamProc(uint32_t /*Handle*/, void* Buffer, uint32_t Length, void* /*User*/) {
  const uint32_t frames = Length / kBytesPerFrame;
  auto* out = static_cast<uint8_t*>(Buffer);
  if (state.silent) {
    std::memset(out, 0, size_t{frames} * kBytesPerFrame);
    return Length;
  }
  // The glide's frames first, then the steady rest: no test per frame for either.
  const auto gliding = static_cast<uint32_t>(std::min<uint64_t>(state.glide_left, frames));
  if (state.level == 100) {
    out = Fill<true, 100>(out, gliding);
    Fill<false, 100>(out, frames - gliding);
  } else {
    out = Fill<true, 0>(out, gliding);
    Fill<false, 0>(out, frames - gliding);
  }
  return Length;
}
