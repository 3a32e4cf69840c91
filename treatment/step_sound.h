// The one place that readies the synthesiser for a step, for the run that plays it and the export
// that writes it alike: the frequency and amplitude settings, and the stream procedure that is to
// make the step's frames. A built-in step plays through DDFS's ToneStreamProc at whole hertz, in
// the shape of the "Output signal" choice (OutputWaveShape); a program file's step through the
// exact tone (exact_tone.h), in its own shape or else the choice, gliding over step_frames frames
// when it has an end frequency.
//
// Window thread (or the export's thread) only, while no stream plays.
#pragma once

#include <cstdint>

#include "audio_output.h"
#include "treatment_programs.h"

// Writes StreamFrequency and StreamAmplitude (the step's level, 1.0 for the built-ins), sets the
// exact tone for an exact step, and returns the stream procedure to create the stream with.
STREAMPROC PrepareStepSound(const TreatmentStep& step, uint64_t step_frames);
