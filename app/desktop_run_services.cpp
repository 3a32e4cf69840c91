#include "desktop_run_services.h"

DesktopRunServices::DesktopRunServices(QObject* parent) : QObject(parent) {}

DesktopRunServices::~DesktopRunServices() = default;

void DesktopRunServices::StepStarted(const QString& program_name, int step, int step_count) {
  inhibitor_.Hold("Playing " + program_name);
  progress_.Show(step_count > 0 ? double(step) / step_count : 0.0);
}

void DesktopRunServices::RunEnded(const QString& program_name, RunOutcome how, int step,
                                  int step_count, const QString& detail) {
  inhibitor_.Release();
  progress_.Hide();
  notifier_.RunEnded(program_name, how, step, step_count, detail);
}
