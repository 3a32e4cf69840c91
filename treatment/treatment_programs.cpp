#include "treatment_programs.h"

#include "audio_format.h"

// The texts are fixed strings, not formatted from the frequencies: 2.165 is shown as written.
const TreatmentProgram ZelkGeneralProgram{"Zelk general",
                                          {
                                              {10000.0L, 10, "Current: 10000HZ", "10000HZ"},
                                              {5000.0L, 20, "Current: 5000HZ", "5000HZ"},
                                              {1800.0L, 30, "Current: 1800HZ", "1800HZ"},
                                              {1500.0L, 40, "Current: 1500HZ", "1500HZ"},
                                              {690.0L, 50, "Current: 690HZ", "690HZ"},
                                              {650.0L, 60, "Current: 650HZ", "650HZ"},
                                              {600.0L, 70, "Current: 600HZ", "600HZ"},
                                              {465.0L, 80, "Current: 465HZ", "465HZ"},
                                              {2.165L, 90, "Current: 2.165HZ", "2.165HZ"},
                                              {2.008L, 100, "Current: 2.008HZ", "2.008HZ"},
                                          },
                                          true};

const TreatmentProgram BXVirusProgram{"BX virus",
                                      {
                                          {2128.0L, 50, "Current: 2128HZ", "2128HZ"},
                                          {3713.0L, 100, "Current: 3713HZ", "3713HZ"},
                                      },
                                      false};

const BuiltInProgram kBuiltInPrograms[2] = {{"zelk", &ZelkGeneralProgram}, {"bx", &BXVirusProgram}};

int StepPeriodMs(const TreatmentStep& step, int period_ms) {
  return step.DurationMs > 0 ? step.DurationMs : period_ms;
}

int64_t PeriodsMs(const TreatmentProgram& program, int period_ms, size_t from) {
  int64_t sum = 0;
  for (size_t k = from; k < program.Steps.size(); ++k) {
    sum += StepPeriodMs(program.Steps[k], period_ms);
  }
  return sum;
}

uint64_t StepFrames(const TreatmentStep& step, uint64_t step_frames) {
  return step.DurationMs > 0 ? FramesForMs(static_cast<uint64_t>(step.DurationMs)) : step_frames;
}

uint64_t ProgramFrames(const TreatmentProgram& program, uint64_t step_frames) {
  uint64_t frames = 0;
  for (const TreatmentStep& step : program.Steps) frames += StepFrames(step, step_frames);
  return frames;
}
