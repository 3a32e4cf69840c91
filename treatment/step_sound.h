// The one place that readies the synthesiser for a step, for the run that plays it and the export
// that writes it alike: the frequency and amplitude settings, and the stream procedure that is to
// make the step's frames with its user value. A built-in step plays through DDFS's ToneStreamProc
// at whole hertz, in the shape of the "Output signal" choice (OutputWaveShape); a program file's
// step through the caller's exact oscillator (exact_tone.h), in its own shape or else the choice,
// gliding over step_frames frames when it has an end frequency.
//
// Window thread (or the export's thread) only, while no stream plays.
#pragma once

#include <cstdint>

#include "audio_output.h"
#include "exact_tone.h"
#include "treatment_programs.h"

// What BASS_StreamCreate is given for a step.
struct StepSound {
  STREAMPROC proc = nullptr;
  void* user = nullptr;
};

// StreamFrequency and StreamAmplitude for the step.
void SetStreamSettings(const TreatmentStep& step);
// The exact oscillator's tone for a program file's step of step_frames frames.
ExactTone StepTone(const TreatmentStep& step, uint64_t step_frames);

// Writes StreamFrequency and StreamAmplitude (the step's level, 1.0 for the built-ins), sets the
// oscillator's tone for an exact step (its phase runs on from the previous step), and returns the
// stream procedure and user value to create the stream with. The oscillator must outlive the
// stream.
StepSound PrepareStepSound(const TreatmentStep& step, uint64_t step_frames,
                           ExactOscillator& oscillator);
