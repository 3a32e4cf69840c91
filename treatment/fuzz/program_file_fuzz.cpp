// Feeds arbitrary bytes to the program-file parser: every error has a place and a message, and
// whatever it accepts keeps to the limits and writes out as a file that parses to the same steps.
#include <cstdint>
#include <string_view>

#include "program_file.h"

namespace {

bool SameSteps(const TreatmentProgram& a, const TreatmentProgram& b) {
  if (a.Name != b.Name || a.Steps.size() != b.Steps.size()) return false;
  for (size_t k = 0; k < a.Steps.size(); ++k) {
    const TreatmentStep& x = a.Steps[k];
    const TreatmentStep& y = b.Steps[k];
    if (x.Frequency != y.Frequency || x.EndFrequency != y.EndFrequency ||
        x.DurationMs != y.DurationMs || x.Level != y.Level || x.Shape != y.Shape ||
        x.DisplayText != y.DisplayText || x.StatusText != y.StatusText ||
        x.Position != y.Position || x.Exact != y.Exact) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxProgramFileBytes) return 0;
  const ParsedProgram parsed =
      ParseProgramText(std::string_view(reinterpret_cast<const char*>(data), size));
  for (const ProgramFileError& error : parsed.errors) {
    if (error.line < 1 || error.column < 0 || error.message.empty()) __builtin_trap();
  }
  if (!parsed.errors.empty()) {
    if (!parsed.program.Steps.empty()) __builtin_trap();
    return 0;
  }
  const TreatmentProgram& program = parsed.program;
  if (program.Steps.empty() || program.Steps.size() > kMaxProgramSteps) __builtin_trap();
  int64_t total_ms = 0;
  for (const TreatmentStep& step : program.Steps) {
    if (!(step.Frequency > 0.0L && step.Frequency < 22050.0L)) __builtin_trap();
    if (step.DurationMs < kMinStepMs || step.DurationMs > kMaxStepMs) __builtin_trap();
    if (step.Level < 1 || step.Level > 100 || !step.Exact) __builtin_trap();
    total_ms += step.DurationMs;
  }
  if (total_ms > kMaxProgramMs || program.Steps.back().Position != 100) __builtin_trap();
  if (!SameSteps(ParseProgramText(ProgramFileText(program)).program, program)) __builtin_trap();
  return 0;
}
