// Plays steps through a StepOutput on the Qt event loop as a run does: opens it, starts each step
// and ends it after its time (or a skip), pauses and resumes, and closes it at the end. Records
// when each step started and any failure the output reports.
#pragma once

#include <cstdint>
#include <vector>

#include "step_output.h"

struct PlayScript {
  std::vector<StepRequest> Steps = {};
  int SkipAtMs = -1;    // the first step is skipped after this long
  int PauseAtMs = -1;   // the first step is paused after this long ...
  int PauseForMs = 0;   // ... for this long
  int EndRunAtMs = -1;  // the run ends (the output destroyed by its owner) this long in
};

struct PlayResult {
  bool Completed = false;  // every step played to its end
  StepOutputError Error;   // a step that would not start, or a failure reported
  int64_t FailedAtMs = -1;
  std::vector<int64_t> StepStartsMs = {};  // since the player began, as the steps were asked for
};

// The output is closed before this returns (unless EndRunAtMs left that to its owner).
PlayResult PlaySteps(StepOutput& output, const PlayScript& script);
