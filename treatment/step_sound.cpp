#include "step_sound.h"

void SetStreamSettings(const TreatmentStep& step) {
  StreamFrequency = step.Frequency;
  StreamAmplitude = step.Level == 100 ? 1.0L : step.Level / 100.0L;
}

ExactTone StepTone(const TreatmentStep& step, uint64_t step_frames) {
  ExactTone tone;
  tone.start_hz = step.Frequency;
  tone.end_hz = step.EndFrequency != 0.0L ? step.EndFrequency : step.Frequency;
  tone.glide_frames = step_frames;
  tone.exponential = step.ExponentialGlide;
  tone.level_percent = step.Level;
  tone.shape = step.Shape.value_or(OutputWaveShape.load(std::memory_order_relaxed));
  tone.gate_millihertz = static_cast<uint64_t>(step.GateMillihertz);
  tone.gate_on_percent = step.GateOnPercent;
  tone.duty_percent = step.DutyPercent;
  return tone;
}

StepSound PrepareStepSound(const TreatmentStep& step, uint64_t step_frames,
                           ExactOscillator& oscillator) {
  SetStreamSettings(step);
  if (!step.Exact) return {ToneStreamProc, nullptr};
  oscillator.SetTone(StepTone(step, step_frames));
  return {ExactToneStreamProc, &oscillator};
}
