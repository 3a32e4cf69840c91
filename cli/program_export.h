// Writing a whole treatment program to an audio file instead of playing it: step after step the
// frames the step's stream procedure makes (step_sound.h: ToneStreamProc for a built-in step,
// the exact tone for a program file's), with the phases carried from one step into the next as
// in a run. The format follows the file name (.wav or .flac, 16-bit stereo at kFramesPerSecond,
// through libsndfile), and the file is replaced as the tone generator's export replaces one:
// complete, or not at all.
//
// Uses the synthesiser's globals (StreamFrequency, StreamAmplitude, OutputWaveShape, the
// accumulators) exactly as a run does, so it must not run while a stream plays. Needs no Qt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "audio_format.h"
#include "treatment_programs.h"

// Called as the export goes on with the step being written (1-based) and the whole file's
// percent; returning false stops the export, which then fails.
using ExportProgressReport = std::function<bool(size_t step, int percent)>;

// Writes the program with the "Output signal" shape (wsSquare, wsSine), step_frames frames for
// each step without a duration of its own (kStepFrames for a run's). On false, *error says why in
// one line and the file that path names is as it was.
bool ExportProgram(const TreatmentProgram& program, WaveShape shape, const std::string& path,
                   uint32_t step_frames, const ExportProgressReport& report, std::string* error);
