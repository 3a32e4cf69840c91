#include "desktop_run_services.h"

DesktopRunServices::DesktopRunServices(QObject* parent) : QObject(parent) {}

DesktopRunServices::~DesktopRunServices() = default;

RunOutcome RunOutcomeOf(TreatmentRun::RunEnd how) {
  switch (how) {
    case TreatmentRun::RunEnd::Completed:
    case TreatmentRun::RunEnd::SkippedThrough:
      return RunOutcome::Finished;
    case TreatmentRun::RunEnd::Closed:
    case TreatmentRun::RunEnd::ProgramEnded:
      return RunOutcome::Stopped;
    case TreatmentRun::RunEnd::Failed:
      return RunOutcome::Failed;
  }
  return RunOutcome::Stopped;
}

void DesktopRunServices::Follow(const TreatmentRun* run, const StepCountdown* countdown) {
  connect(run, &TreatmentRun::RunStarted, this,
          [this](const TreatmentProgram& program) { program_name_ = program.Name; });
  connect(run, &TreatmentRun::StepOpened, this,
          [this](int step, int steps) { StepStarted(program_name_, step, steps); });
  connect(countdown, &StepCountdown::TimeLeft, this, &DesktopRunServices::RunProgress);
  connect(run, &TreatmentRun::StepPaused, this, &DesktopRunServices::StepPaused);
  connect(run, &TreatmentRun::StepResumed, this, [this] { StepResumed(program_name_); });
  connect(run, &TreatmentRun::RunEnded, this, [this](const TreatmentRun::RunResult& result) {
    const RunOutcome how = RunOutcomeOf(result.how);
    const QString detail =
        how == RunOutcome::Failed
            ? result.message + " (error code: " + QString::number(result.code) + ")"
            : QString();
    RunEnded(program_name_, how, result.step, result.steps, detail);
  });
}

void DesktopRunServices::StepStarted(const QString& program_name, int step, int step_count) {
  inhibitor_.Hold("Playing " + program_name);
  progress_.Show(step_count > 0 ? double(step - 1) / step_count : 0.0);
}

void DesktopRunServices::RunProgress(const StepProgress& progress) {
  progress_.Show(RunElapsedFraction(progress));
}

void DesktopRunServices::StepPaused() {
  inhibitor_.Release();
}

void DesktopRunServices::StepResumed(const QString& program_name) {
  // What could not be had was named when the run's first step started.
  inhibitor_.Hold("Playing " + program_name, false);
}

void DesktopRunServices::RunEnded(const QString& program_name, RunOutcome how, int step,
                                  int step_count, const QString& detail) {
  inhibitor_.Release();
  progress_.Hide();
  notifier_.RunEnded(program_name, how, step, step_count, detail);
}
