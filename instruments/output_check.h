// Whether an output can play a step or a program, asked before the run starts: a step beyond the
// output's frequencies, or with a gate faster than it can switch, is named with the reason.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "device_name.h"
#include "step_output.h"
#include "treatment_programs.h"

// "7.83", "1000", "60000000": hertz to the thousandth, trailing zeros dropped.
std::string HertzText(long double hertz);

// Why the output cannot play the step, each reason with the column it concerns in a program
// file's step line (the frequency, or the gate); empty when it can.
struct StepProblem {
  enum class Where { Frequency, Gate } At;
  std::string Message;
};
std::vector<StepProblem> StepProblems(const TreatmentStep& step, const OutputLimits& limits);

// What a generator of the named family can play, for a check that does not ask the generator:
// the lowest of its models' limits (FamilyIdentity), named as "fy:/dev/ttyUSB0 (FY6x00)".
OutputLimits FamilyLimits(const DeviceName& name);

// A program file's text checked against an output: its own errors first, as a check of the file
// gives them, then each step the output cannot play, as "path:LINE:COLUMN: message" (a step that
// repeats is named once, on its line).
std::vector<std::string> CheckProgramForOutput(std::string_view text, const std::string& path,
                                               const OutputLimits& limits);
