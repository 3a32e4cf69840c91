#include "exact_tone.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "audio_format.h"
#include "little_endian.h"

namespace {

// A gate's cycle in thousandths of a hertz times frames per second: frame n is at position
// n x rate mod kGateCycle, so a rate in thousandths of a hertz is counted without rounding.
constexpr uint64_t kGateCycle = uint64_t{kFramesPerSecond} * 1000;

bool Playable(long double hz) {
  return hz > 0.0L && hz < kFramesPerSecond / 2.0L;  // false for a NaN too
}

// The table index of a phase: the tables hold one cycle in entries 0..44098.
template <typename Wide>
inline uint32_t TableIndex(Wide phase) {
  const auto cycle = static_cast<uint64_t>(phase >> 64);
  return static_cast<uint32_t>((Wide{cycle} * PhaseModulus) >> 64);
}

// Left, and right its negation (no entry is -32768, so the negation fits).
inline void PutAntiphase(uint8_t* out, int32_t left) {
  PutLE32(out, static_cast<uint16_t>(left) |
                   (static_cast<uint32_t>(static_cast<uint16_t>(-left)) << 16));
}

}  // namespace

ExactOscillator::Wide ExactOscillator::IncrementOf(long double cycles_per_frame) {
  // Below half a cycle per frame, so the whole part fits 63 bits; the fraction keeps what the
  // extended mantissa has left.
  const long double per_frame = std::ldexp(cycles_per_frame, 64);
  const long double whole = std::floor(per_frame);
  const auto fraction = static_cast<uint64_t>(std::ldexp(per_frame - whole, 64));
  return (Wide{static_cast<uint64_t>(whole)} << 64) | fraction;
}

void ExactOscillator::SetTone(const ExactTone& tone) {
  const auto increment_for = [](long double hz) { return IncrementOf(hz / kFramesPerSecond); };
  step_frame_ = 0;
  table_ = WaveTable(tone.shape);
  level_ = std::clamp(tone.level_percent, 1, 100);
  silent_ = table_ == nullptr || !Playable(tone.start_hz) || !Playable(tone.end_hz);
  if (silent_) return;
  // The gate's cycle starts with the step, on first; only the rate's remainder over a whole
  // cycle per frame counts.
  gate_step_ = tone.gate_millihertz % kGateCycle;
  gated_ = gate_step_ != 0;
  gate_position_ = 0;
  gate_on_below_ = kGateCycle / 100 * uint64_t(std::clamp(tone.gate_on_percent, 1, 99));
  pulse_ = tone.shape == wsSquare;
  const auto duty = static_cast<uint32_t>(std::clamp(tone.duty_percent, 1, 99));
  // Nearest, a half up: 50 % gives 22050, the square table's own change from high to low.
  duty_index_ = (PhaseModulus * duty + 50) / 100;
  high_ = table_[0] * level_ / 100;
  low_ = table_[PhaseModulus - 1] * level_ / 100;
  increment_ = increment_for(tone.start_hz);
  end_increment_ = increment_for(tone.end_hz);
  glide_left_ = tone.end_hz != tone.start_hz ? tone.glide_frames : 0;
  slope_ = 0;
  exponential_ = tone.exponential && glide_left_ != 0;
  if (exponential_) {
    cycles_ = tone.start_hz / kFramesPerSecond;
    ratio_ = std::pow(tone.end_hz / tone.start_hz, 1.0L / static_cast<long double>(glide_left_));
  } else if (glide_left_ != 0) {
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
template <ExactOscillator::Glide glide, bool full_level, bool pulse>
uint8_t* ExactOscillator::RenderFrames(uint8_t* out, uint32_t frames) {
  const int16_t* const table = table_;
  const int level = level_;
  Wide phase = phase_;
  Wide increment = increment_;
  long double cycles = cycles_;
  uint64_t frame = step_frame_;
  for (uint32_t k = 0; k < frames; ++k, ++frame, out += kBytesPerFrame) {
    int32_t left;
    if constexpr (pulse) {
      left = TableIndex(phase) < duty_index_ ? high_ : low_;  // already at level
    } else {
      left = table[TableIndex(phase)];
      if constexpr (!full_level) left = left * level / 100;  // toward zero
    }
    PutAntiphase(out, left);
    phase += increment;
    if constexpr (glide == kLinear) increment += slope_;
    if constexpr (glide == kExponential) {
      cycles *= ratio_;
      increment = IncrementOf(cycles);
    }
  }
  phase_ = phase;
  step_frame_ = frame;
  if constexpr (glide == kExponential) cycles_ = cycles;
  if constexpr (glide != kSteady) {
    glide_left_ -= frames;
    // The glide's last frame lands on the end frequency exactly.
    increment_ = glide_left_ == 0 ? end_increment_ : increment;
  }
  return out;
}

template <ExactOscillator::Glide glide>
ExactOscillator::Renderer ExactOscillator::RendererFor() const {
  // One loop for each combination, chosen once per run of frames. A pulse's two samples are
  // already at the level.
  if (pulse_) return &ExactOscillator::RenderFrames<glide, true, true>;
  return level_ == 100 ? &ExactOscillator::RenderFrames<glide, true, false>
                       : &ExactOscillator::RenderFrames<glide, false, false>;
}

uint8_t* ExactOscillator::RenderSilence(uint8_t* out, uint32_t frames) {
  std::memset(out, 0, size_t{frames} * kBytesPerFrame);
  // Where the frames one by one would have left the phase and the glide.
  const Wide k = frames;
  if (glide_left_ != 0 && exponential_) {
    // No sum in closed form that matches the frames one by one: one by one, without samples.
    for (uint32_t n = 0; n < frames; ++n) {
      phase_ += increment_;
      cycles_ *= ratio_;
      increment_ = IncrementOf(cycles_);
    }
    glide_left_ -= frames;
    if (glide_left_ == 0) increment_ = end_increment_;
  } else if (glide_left_ != 0) {
    phase_ += k * increment_ + slope_ * (k * (k - 1) / 2);
    increment_ += k * slope_;
    glide_left_ -= frames;
    if (glide_left_ == 0) increment_ = end_increment_;
  } else {
    phase_ += k * increment_;
  }
  step_frame_ += frames;
  return out + size_t{frames} * kBytesPerFrame;
}

uint32_t ExactOscillator::GateRun(uint32_t frames) const {
  // Frames until the position reaches the end of the part it is in: the on share or the cycle.
  const uint64_t end = gate_position_ < gate_on_below_ ? gate_on_below_ : kGateCycle;
  const uint64_t run = (end - gate_position_ + gate_step_ - 1) / gate_step_;
  return static_cast<uint32_t>(std::min<uint64_t>(run, frames));
}

void ExactOscillator::Render(uint8_t* out, uint32_t frames) {
  if (silent_) {
    std::memset(out, 0, size_t{frames} * kBytesPerFrame);
    step_frame_ += frames;
    return;
  }
  // The glide's frames first, then the steady rest, each cut at the gate's edges: no test per
  // frame for any of them.
  while (frames > 0) {
    uint32_t run = frames;
    if (glide_left_ != 0) run = static_cast<uint32_t>(std::min<uint64_t>(glide_left_, run));
    bool on = true;
    if (gated_) {
      on = gate_position_ < gate_on_below_;
      run = GateRun(run);
      gate_position_ = (gate_position_ + uint64_t{run} * gate_step_) % kGateCycle;
    }
    if (!on) {
      out = RenderSilence(out, run);
    } else if (glide_left_ != 0 && exponential_) {
      out = (this->*RendererFor<kExponential>())(out, run);
    } else if (glide_left_ != 0) {
      out = (this->*RendererFor<kLinear>())(out, run);
    } else {
      out = (this->*RendererFor<kSteady>())(out, run);
    }
    frames -= run;
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
