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
#include "ddfs.h"
#include "desktop_run_services.h"
#include "quit_signals.h"
#include "run_notifier.h"
#include "single_instance.h"
#include "step_countdown.h"
#include "step_timer.h"
#include "tone_gen.h"
#include "treatment_run.h"

namespace {

// The run's progress on standard output: on a terminal one line rewritten in place, otherwise
// one line per step.
class StatusLine {
 public:
  explicit StatusLine(bool terminal) : terminal_(terminal) {}

  void Show(const StepProgress& progress, const QString& program_name) {
    if (!terminal_ && progress.step == shown_step_) return;
    shown_step_ = progress.step;
    const QByteArray text = QStringLiteral(
                                "%1: step %2 of %3, %4, %5 left in the step, %6 left "
                                "in the run")
                                .arg(program_name)
                                .arg(progress.step)
                                .arg(progress.steps)
                                .arg(progress.what->DisplayText, ClockText(progress.step_left_ms),
                                     ClockText(progress.run_left_ms))
                                .toLocal8Bit();
    // On a terminal the line is cleared to its end, for a shorter text after a longer one.
    std::fprintf(stdout, terminal_ ? "\r%s\033[K" : "%s\n", text.constData());
    std::fflush(stdout);
    open_ = terminal_;
  }

  // Leaves the terminal at the start of an empty line.
  void End() {
    if (open_) std::fputs("\r\033[K", stdout);
    std::fflush(stdout);
    open_ = false;
  }

 private:
  bool terminal_;
  bool open_ = false;
  int shown_step_ = 0;
};

}  // namespace

int PlayWithoutWindow(const TreatmentProgram& program, uint8_t shape, int step_ms) {
  SingleInstance instance;
  if (!instance.AcquireOrWarn(false)) {
    std::fprintf(stderr, "%s: another copy is already running\n", kAppName);
    return 1;
  }
  InitDDFS();
  OutputWaveShape.store(shape);
  int argc = 1;
  char name[] = "zelkgen";
  char* argv[] = {name, nullptr};
  QCoreApplication application(argc, argv);
  QCoreApplication::setApplicationName(kAppName);

  // The run stops it and clears its Loop at every step end, as it does the window's ToneGen1.
  TToneGen tone_gen(nullptr);
  const std::unique_ptr<QTimer> step_timer(CreateStepTimer(nullptr, step_ms));
  uint32_t stream_handle = 0;
  TreatmentRun run(&tone_gen, step_timer.get(), &stream_handle);

  StepCountdown countdown(&run);
  DesktopRunServices desktop;
  desktop.Follow(&run, &countdown);

  StatusLine status(::isatty(STDOUT_FILENO) == 1);
  QObject::connect(&countdown, &StepCountdown::TimeLeft,
                   [&](const StepProgress& progress) { status.Show(progress, program.Name); });
  QObject::connect(&run, &TreatmentRun::AudioFailed, [&](const QString& message, int code) {
    status.End();
    std::fprintf(stderr, "%s\n(error code: %d)\n", message.toLocal8Bit().constData(), code);
    if (*AudioErrorAdvice(code) != '\0') std::fprintf(stderr, "%s\n", AudioErrorAdvice(code));
  });
  TreatmentRun::RunResult result;
  QObject::connect(&run, &TreatmentRun::RunEnded, [&](const TreatmentRun::RunResult& ended) {
    result = ended;
    status.End();
    const QString summary =
        RunEndSummary(program.Name, RunOutcomeOf(ended.how), ended.step, ended.steps);
    std::printf("%s\n", summary.toLocal8Bit().constData());
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
  return result.how == TreatmentRun::RunEnd::Failed ? 1 : 0;
}
