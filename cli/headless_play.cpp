#include "headless_play.h"

#include <unistd.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QEventLoop>
#include <QString>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <string>

#include "app_identity.h"
#include "audio_output.h"
#include "console_output.h"
#include "ddfs.h"
#include "desktop_run_services.h"
#include "process_end.h"
#include "quit_signals.h"
#include "run_notifier.h"
#include "single_instance.h"
#include "step_countdown.h"
#include "step_timer.h"
#include "tone_gen.h"
#include "treatment_run.h"

namespace {

// The run's progress on standard output: on a terminal one line rewritten in place, otherwise
// one line per step. Never waits for the reader (console_output.h).
class StatusLine {
 public:
  explicit StatusLine(ConsoleOutput* out) : out_(out), terminal_(out->IsTerminal()) {}

  void Show(const StepProgress& progress, const QString& program_name) {
    if (!terminal_ && progress.step == shown_step_) return;
    shown_step_ = progress.step;
    const QByteArray text =
        QStringLiteral(
            "%1: step %2 of %3, %4, %5 left in the step, %6 left "
            "in the run")
            .arg(program_name)
            .arg(progress.step)
            .arg(progress.steps)
            .arg(QString::fromStdString(progress.what->DisplayText),
                 ClockText(progress.step_left_ms), ClockText(progress.run_left_ms))
            .toLocal8Bit();
    // On a terminal the line is cleared to its end, for a shorter text after a longer one.
    out_->Write(terminal_ ? "\r" + text.toStdString() + "\033[K" : text.toStdString() + "\n");
    open_ = terminal_;
  }

  // Leaves the terminal at the start of an empty line.
  void End() {
    if (open_) out_->Write("\r\033[K");
    open_ = false;
  }

 private:
  ConsoleOutput* out_;
  bool terminal_;
  bool open_ = false;
  int shown_step_ = 0;
};

}  // namespace

int PlayWithoutWindow(const TreatmentProgram& program, WaveShape shape, int step_ms) {
  SingleInstance instance;
  if (!instance.AcquireOrWarn(false)) {
    std::fprintf(stderr, "%s: %s\n", kAppName, kAnotherCopyMessage);
    return 1;
  }
  InitDDFS();
  OutputWaveShape.store(shape);
  int argc = 1;
  std::string name = kAppName;
  char* argv[] = {name.data(), nullptr};
  QCoreApplication application(argc, argv);
  QCoreApplication::setApplicationName(kAppName);

  // The run stops it and clears its Loop at every step end, as it does the window's ToneGen1.
  TToneGen tone_gen(nullptr);
  const std::unique_ptr<QTimer> step_timer(CreateStepTimer(nullptr, step_ms));
  uint32_t stream_handle = 0;
  TreatmentRun run(&tone_gen, step_timer.get(), &stream_handle);
  QObject::connect(step_timer.get(), &QTimer::timeout, &run, &TreatmentRun::EndStepByTimer);

  auto desktop = std::make_unique<DesktopRunServices>();
  desktop->Follow(&run);

  const QString program_name = QString::fromStdString(program.Name);
  ConsoleOutput out(STDOUT_FILENO), err(STDERR_FILENO);
  StatusLine status(&out);
  StepCountdown countdown(&run, step_timer.get());
  QObject::connect(&countdown, &StepCountdown::TimeLeft,
                   [&](const StepProgress& progress) { status.Show(progress, program_name); });
  QObject::connect(&run, &TreatmentRun::AudioFailed, [&](const QString& message, int code) {
    status.End();
    err.Write((message + "\n" + QString::fromStdString(AudioErrorCodeLine(code)) + "\n")
                  .toLocal8Bit()
                  .toStdString());
  });
  TreatmentRun::RunResult result;
  QObject::connect(&run, &TreatmentRun::RunEnded, [&](const TreatmentRun::RunResult& ended) {
    result = ended;
    status.End();
    const QString summary =
        RunEndSummary(program_name, RunOutcomeOf(ended.how), ended.step, ended.steps);
    out.Write((summary + "\n").toLocal8Bit().toStdString());
  });

  QuitSignalWatcher quit_signals;
  QObject::connect(&quit_signals, &QuitSignalWatcher::QuitRequested, &run,
                   &TreatmentRun::EndProgram);

  run.Run(program, [&run](const TreatmentStep&) {
    QEventLoop step;
    QObject::connect(&run, &TreatmentRun::StepEnded, &step, &QEventLoop::quit);
    step.exec();
    return true;
  });
  // What the desktop holds is given back, on its own thread, while the application still exists.
  desktop.reset();
  return EndProcess(result.how == TreatmentRun::RunEnd::Failed ? 1 : 0);
}
