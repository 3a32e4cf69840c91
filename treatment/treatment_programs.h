// The treatment programs: lists of steps, each a frequency with the texts and progress position
// the windows show while it sounds. Two are built in and fixed; program files (program_file.h)
// give more, values of the same type, which the same run plays and the same export writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ddfs.h"

struct TreatmentStep {
  long double Frequency;    // hertz, written into StreamFrequency
  int Position;             // ProgressBar1, 0..100
  std::string StatusText;   // Label8 of the main window
  std::string DisplayText;  // Label1 of the Current frequency window
  // What a program file adds; the built-in steps keep these defaults.
  int DurationMs = 0;               // 0: one period of the step timer (180000 ms)
  long double EndFrequency = 0.0L;  // a glide's end, reached at the step's end; 0: no glide
  int Level = 100;                  // percent of the tables' amplitude
  std::optional<WaveShape> Shape = std::nullopt;  // none: the "Output signal" choice
  // A gate switches the tone on and off GateMillihertz / 1000 times a second, on for the first
  // GateOnPercent of each gate cycle; 0: no gate. Frame n of the step sounds when the fraction of
  // n x rate / 44100 is below GateOnPercent / 100.
  int64_t GateMillihertz = 0;
  int GateOnPercent = 50;
  int DutyPercent = 50;  // the share of a square's period that is high
  // Played to a thousandth of a hertz (exact_tone.h) instead of DDFS's whole hertz.
  bool Exact = false;
  // A glide's law. false: linear in hertz; true: f(t) = f0 * (f1 / f0)^(t / T).
  bool ExponentialGlide = false;
};

struct TreatmentProgram {
  // How the desktop's notifications and messages name the program ("Zelk general").
  std::string Name;
  std::vector<TreatmentStep> Steps;
  // The Zelk general run releases the audio output once more after its last step; the output is
  // already free by then, so it changes nothing, but the two programs have always differed so.
  bool FreeOutputAtEnd = false;
};

extern const TreatmentProgram ZelkGeneralProgram;  // Button6
extern const TreatmentProgram BXVirusProgram;      // Button5

// The built-ins by their command-line names ("zelk", "bx"), in the order they are listed.
struct BuiltInProgram {
  const char* name;
  const TreatmentProgram* program;
};
extern const BuiltInProgram kBuiltInPrograms[2];

// The one place a program's periods are summed, for the run's countdown, the program's length and
// the export alike. A step lasts its own duration, else the step timer's period (period_ms; the
// export's step_frames): in milliseconds for the clocks, in frames for the sound.
int StepPeriodMs(const TreatmentStep& step, int period_ms);
// The periods of the steps from index from (0: the whole program) to the end.
int64_t PeriodsMs(const TreatmentProgram& program, int period_ms, size_t from = 0);
uint64_t StepFrames(const TreatmentStep& step, uint64_t step_frames);
uint64_t ProgramFrames(const TreatmentProgram& program, uint64_t step_frames);
