#include "exact_tone.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "audio_format.h"
#include "little_endian.h"

namespace {

bool Playable(long double hz) {
  return hz > 0.0L && hz < kFramesPerSecond / 2.0L;  // false for a NaN too
}

// The table entry at a phase: the tables hold one cycle in entries 0..44098.
template <typename Wide>
inline int16_t EntryAt(const int16_t* table, Wide phase) {
  const auto cycle = static_cast<uint64_t>(phase >> 64);
  return table[static_cast<uint32_t>((Wide{cycle} * PhaseModulus) >> 64)];
}

// Left, and right its negation (no entry is -32768, so the negation fits).
inline void PutAntiphase(uint8_t* out, int32_t left) {
  PutLE32(out, static_cast<uint16_t>(left) |
                   (static_cast<uint32_t>(static_cast<uint16_t>(-left)) << 16));
}

}  // namespace

void ExactOscillator::SetTone(const ExactTone& tone) {
  const auto increment_for = [](long double hz) {
    // Below half a cycle per frame, so the whole part fits 63 bits; the fraction keeps what the
    // extended mantissa has left.
    const long double per_frame = std::ldexp(hz / kFramesPerSecond, 64);
    const long double whole = std::floor(per_frame);
    const auto fraction = static_cast<uint64_t>(std::ldexp(per_frame - whole, 64));
    return (Wide{static_cast<uint64_t>(whole)} << 64) | fraction;
  };
  step_frame_ = 0;
  table_ = WaveTable(tone.shape);
  level_ = std::clamp(tone.level_percent, 1, 100);
  silent_ = table_ == nullptr || !Playable(tone.start_hz) || !Playable(tone.end_hz);
  if (silent_) return;
  increment_ = increment_for(tone.start_hz);
  end_increment_ = increment_for(tone.end_hz);
  glide_left_ = tone.end_hz != tone.start_hz ? tone.glide_frames : 0;
  slope_ = 0;
  if (glide_left_ != 0) {
    // Signed difference over the frames, kept in two's complement.
    const bool rising = end_increment_ > increment_;
    const Wide span = rising ? end_increment_ - increment_ : increment_ - end_increment_;
    const Wide step = span / glide_left_;
    slope_ = rising ? step : Wide{0} - step;
  } else {
    increment_ = end_increment_;
  }
}

// One frame after another; frame is the step's index of the frame being written.
template <bool glide, bool full_level>
uint8_t* ExactOscillator::RenderFrames(uint8_t* out, uint32_t frames) {
  const int16_t* const table = table_;
  const int level = level_;
  Wide phase = phase_;
  Wide increment = increment_;
  uint64_t frame = step_frame_;
  for (uint32_t k = 0; k < frames; ++k, ++frame, out += kBytesPerFrame) {
    int32_t left = EntryAt(table, phase);
    if constexpr (!full_level) left = left * level / 100;  // toward zero
    PutAntiphase(out, left);
    phase += increment;
    if constexpr (glide) increment += slope_;
  }
  phase_ = phase;
  step_frame_ = frame;
  if constexpr (glide) {
    glide_left_ -= frames;
    // The glide's last frame lands on the end frequency exactly.
    increment_ = glide_left_ == 0 ? end_increment_ : increment;
  }
  return out;
}

void ExactOscillator::Render(uint8_t* out, uint32_t frames) {
  if (silent_) {
    std::memset(out, 0, size_t{frames} * kBytesPerFrame);
    step_frame_ += frames;
    return;
  }
  // The glide's frames first, then the steady rest: no test per frame for either.
  const auto gliding = static_cast<uint32_t>(std::min<uint64_t>(glide_left_, frames));
  if (level_ == 100) {
    out = RenderFrames<true, true>(out, gliding);
    RenderFrames<false, true>(out, frames - gliding);
  } else {
    out = RenderFrames<true, false>(out, gliding);
    RenderFrames<false, false>(out, frames - gliding);
  }
}

uint32_t ExactToneStreamProc(uint32_t /*Handle*/, void* Buffer, uint32_t Length, void* User) {
  const uint32_t frames = Length / kBytesPerFrame;
  auto* out = static_cast<uint8_t*>(Buffer);
  if (User == nullptr) {
    std::memset(out, 0, size_t{frames} * kBytesPerFrame);
  } else {
    static_cast<ExactOscillator*>(User)->Render(out, frames);
  }
  return Length;
}
