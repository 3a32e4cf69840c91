// The exact tone: a second stream procedure beside DDFS's ToneStreamProc, for the steps of
// program files. ToneStreamProc plays every frequency at whole hertz, as the built-in programs
// have always sounded; a program file asks for 7.83 Hz or 432.125 Hz and for glides, so this one
// plays the frequency written to far below 0.001 Hz and moves it smoothly within a step.
//
// ExactOscillator is one stream's oscillator. It reads the same wave tables as ToneStreamProc
// (WaveTable of ddfs.h) through a phase accumulator of its own: 64 bits, one cycle being 2^64,
// advanced per frame by an increment with 64 more bits of fraction (and the phase as many), so the
// frequency is never rounded to a table step and the error adds up to less than a cycle in
// centuries. A glide adds a fixed amount to the increment every frame, so the frequency moves
// linearly from its start to its end over the glide's frames with the phase carried on unbroken;
// a glide in octaves (exponential) multiplies the frequency by a fixed ratio every frame instead,
// so it moves by equal musical intervals in equal times; either lands on the end frequency at
// the glide's last frame, and afterwards the end frequency holds. The phase also runs on from one
// tone into the next (the next step of a run keeps its oscillator), so a change of frequency never
// jumps. Left comes from the table at the phase, right is its negation: the two channels are in
// antiphase, as ToneStreamProc's are.
//
// Two modulations for amplifiers: a gate switches the tone on and off, hard, at exact frames:
// frame n of a step sounds when the fraction of n x rate / 44100 is below the on share, counted
// in whole numbers (the rate in thousandths of a hertz over a cycle of 44100 x 1000), so its edges
// never drift. The phase runs on while the gate is off, so the tone comes back where an unbroken
// tone would be. A square's duty sets the share of each period that it is high: the frame is high
// while the table index is below the duty's share of the table (at 50 % exactly the square
// table's own half).
//
// State: the tone of SetTone, the phase, and the index within the step of the next frame (frame 0
// is the first frame after SetTone), which per-frame effects of a step can be timed by. Each
// stream has its own oscillator, passed to ExactToneStreamProc as the stream's user value: two
// streams never share a phase. SetTone is called while no stream of the oscillator plays (on the
// window thread, or the export's); Render then runs on the audio thread with no allocation, lock
// or system call.
#pragma once

#include <cstdint>

#include "ddfs.h"

struct ExactTone {
  long double start_hz = 0.0L;
  long double end_hz = 0.0L;  // the glide's end; equal to start_hz for a steady tone
  uint64_t glide_frames = 0;  // frames from start_hz to end_hz (0: no glide)
  int level_percent = 100;    // of the table's amplitude, 1..100; samples truncate toward zero
  WaveShape shape = wsSquare;
  uint64_t gate_millihertz = 0;  // gate cycles per 1000 s; 0: no gate
  int gate_on_percent = 50;      // of each gate cycle, from its start; 1..99
  int duty_percent = 50;         // of a square's period that is high; 1..99
  bool exponential = false;      // the glide by equal ratios per frame, not equal hertz
};

class ExactOscillator {
 public:
  // The tone of the frames to come, from step frame 0. The phase runs on from where it stood. A
  // frequency outside 0 to half the frame rate, or an unknown shape, plays as silence rather than
  // as an alias.
  void SetTone(const ExactTone& tone);
  // Writes frames stereo frames (4 bytes each, left first, little-endian) at out and moves the
  // tone on by as many.
  void Render(uint8_t* out, uint32_t frames);
  // The index within the step of the next frame Render writes.
  uint64_t StepFrame() const { return step_frame_; }

 private:
  // Phase per frame with 64 bits of fraction below the phase's own 64: 2^-128 of a cycle.
  __extension__ typedef unsigned __int128 Wide;

  // How the increment moves from frame to frame.
  enum Glide { kSteady, kLinear, kExponential };
  // Writes frames frames, the increment moving as glide says, at full level when full_level, a
  // square of the duty's share when pulse (else the table's entry), and moves on.
  template <Glide glide, bool full_level, bool pulse>
  uint8_t* RenderFrames(uint8_t* out, uint32_t frames);
  using Renderer = uint8_t* (ExactOscillator::*)(uint8_t*, uint32_t);
  template <Glide glide>
  Renderer RendererFor() const;
  // The increment of a frequency of per_frame cycles a frame.
  static Wide IncrementOf(long double cycles_per_frame);
  // Writes frames frames of the gate's silence and moves the tone on by as many.
  uint8_t* RenderSilence(uint8_t* out, uint32_t frames);
  // How many of the next frames, at most frames, stay in the gate's part (on or off) they start
  // in.
  uint32_t GateRun(uint32_t frames) const;

  Wide phase_ = 0;  // a whole cycle is 2^64 in the upper half
  Wide increment_ = 0;
  Wide slope_ = 0;  // added to the increment every frame of a glide; negative ones wrap
  Wide end_increment_ = 0;
  uint64_t glide_left_ = 0;  // frames of the glide still to come
  // A glide in octaves: the frequency of the next frame in cycles a frame, and the ratio a frame
  // multiplies it by.
  bool exponential_ = false;
  long double cycles_ = 0.0L;
  long double ratio_ = 1.0L;
  uint64_t step_frame_ = 0;
  const int16_t* table_ = nullptr;
  int level_ = 100;
  bool silent_ = true;
  // The gate: its position in the cycle of the next frame, and what one frame adds, in units of
  // a cycle of 44100 x 1000; the tone sounds while the position is below gate_on_below_.
  bool gated_ = false;
  uint64_t gate_position_ = 0;
  uint64_t gate_step_ = 0;
  uint64_t gate_on_below_ = 0;
  // A square's duty: high while the table index is below duty_index_; the two samples at level.
  bool pulse_ = false;
  uint32_t duty_index_ = 0;
  int32_t high_ = 0;
  int32_t low_ = 0;
};

// The stream procedure of the audio output layer's user stream (see audio_output.h): User is the
// stream's ExactOscillator. Fills Length / 4 frames (silence without an oscillator) and returns
// Length.
uint32_t ExactToneStreamProc(uint32_t Handle, void* Buffer, uint32_t Length, void* User);
