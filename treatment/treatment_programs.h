// The two treatment programs: fixed lists of steps, each a frequency with the texts and progress
// position the windows show while it sounds. Nothing adds, edits or stores programs.
#pragma once

#include <span>

struct TreatmentStep {
  long double Frequency;    // hertz, written into StreamFrequency
  int Position;             // ProgressBar1, 0..100
  const char* StatusText;   // Label8 of the main window
  const char* DisplayText;  // Label1 of the Current frequency window
};

struct TreatmentProgram {
  // How the desktop's notifications and messages name the program ("Zelk general").
  const char* Name;
  std::span<const TreatmentStep> Steps;
  // The Zelk general run releases the audio output once more after its last step; the output is
  // already free by then, so it changes nothing, but the two programs have always differed so.
  bool FreeOutputAtEnd;
};

extern const TreatmentProgram ZelkGeneralProgram;  // Button6
extern const TreatmentProgram BXVirusProgram;      // Button5
