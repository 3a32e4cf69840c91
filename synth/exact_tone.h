// The exact tone: a second stream procedure beside DDFS's ToneStreamProc, for the steps of
// program files. ToneStreamProc plays every frequency at whole hertz, as the built-in programs
// have always sounded; a program file asks for 7.83 Hz or 432.125 Hz and for glides, so this one
// plays the frequency written to far below 0.001 Hz and moves it smoothly within a step.
//
// It reads the same wave tables as ToneStreamProc (the table lookups of ddfs.h), through a phase
// accumulator of its own: 64 bits, one cycle being 2^64, advanced per frame by an increment with
// 64 more bits of fraction (and the phase as many), so the frequency is never rounded to a table
// step and the error adds up to less than a cycle in centuries. A glide adds a fixed amount to the
// increment every frame, so the frequency moves linearly from its start to its end over the glide's
// frames with the phase carried on unbroken; afterwards the end frequency holds. The phase also
// runs on from one step into the next, so a change of frequency never jumps. Left comes from the
// table at the phase, right is its negation: the two channels are in antiphase, as ToneStreamProc's
// are.
//
// State: the tone set by SetExactTone and the phase. SetExactTone is called on the window thread
// while no stream of this procedure plays; ExactToneStreamProc then runs on the audio thread with
// no allocation, lock or system call.
#pragma once

#include <cstdint>

#include "ddfs.h"

struct ExactTone {
  long double start_hz = 0.0L;
  long double end_hz = 0.0L;  // the glide's end; equal to start_hz for a steady tone
  uint64_t glide_frames = 0;  // frames from start_hz to end_hz (0: no glide)
  int level_percent = 100;    // of the table's amplitude, 1..100; samples truncate toward zero
  WaveShape shape = wsSquare;
};

// The tone the next streams of ExactToneStreamProc play. A frequency outside 0 to half the frame
// rate plays as silence rather than as an alias.
void SetExactTone(const ExactTone& tone);

// The stream procedure of the audio output layer's user stream (see audio_output.h): fills
// Length / 4 frames and returns Length.
uint32_t ExactToneStreamProc(uint32_t Handle, void* Buffer, uint32_t Length, void* User);
