#include "headless_play.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QEventLoop>
#include <QString>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "app_identity.h"
#include "audio_output.h"
#include "ddfs.h"
#include "desktop_run_services.h"
#include "player_terminal.h"
#include "quit_signals.h"
#include "run_notifier.h"
#include "single_instance.h"
#include "step_countdown.h"
#include "step_timer.h"
#include "tone_gen.h"
#include "treatment_run.h"

namespace {

// The run's progress on standard output: on a terminal one line rewritten in place and cut to the
// terminal's width, otherwise one line as each step starts and as it is paused or resumed. A
// message on standard error ends the line on the terminal first, and the line comes back below
// it (StderrAroundStatus); that may happen on any thread, hence the lock.
class StatusLine {
 public:
  StatusLine(bool terminal, const char* program_name)
      : terminal_(terminal), program_name_(program_name) {}

  // keys: the pause key is read, so the paused line says how to resume.
  void Show(const StepProgress& progress, bool keys) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!terminal_ && progress.step == shown_step_ && progress.paused == shown_paused_) return;
    shown_step_ = progress.step;
    shown_paused_ = progress.paused;
    text_ = Text(progress, keys).toLocal8Bit();
    // On a terminal the line is cleared to its end, for a shorter text after a longer one.
    std::fprintf(stdout, terminal_ ? "\r%s\033[K" : "%s\n", text_.constData());
    std::fflush(stdout);
    open_ = terminal_;
  }

  // Leaves the terminal at the start of an empty line.
  void End() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (open_) std::fputs("\r\033[K", stdout);
    std::fflush(stdout);
    open_ = false;
    text_.clear();
  }

  // Draws the line again where the cursor stands (the terminal went on meanwhile).
  void Redraw() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!terminal_ || text_.isEmpty()) return;
    std::fprintf(stdout, "\r%s\033[K", text_.constData());
    std::fflush(stdout);
    open_ = true;
  }

  // Writes size bytes of a message to standard error with the line out of its way.
  void WriteMessage(const char* data, size_t size) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (open_) WriteAll(STDOUT_FILENO, "\r\033[K", 4);
    WriteAll(STDERR_FILENO, data, size);
    // A whole message line written: the status line again below it.
    open_ = !text_.isEmpty() && size > 0 && data[size - 1] == '\n';
    if (open_) {
      WriteAll(STDOUT_FILENO, text_.constData(), size_t(text_.size()));
      WriteAll(STDOUT_FILENO, "\033[K", 3);
    }
  }

 private:
  QString Text(const StepProgress& progress, bool keys) const {
    const QString step = QStringLiteral("%1: step %2 of %3, %4, %5 left in the step")
                             .arg(program_name_)
                             .arg(progress.step)
                             .arg(progress.steps)
                             .arg(progress.what->DisplayText, ClockText(progress.step_left_ms));
    const QString run = QStringLiteral(", %1 left in the run").arg(ClockText(progress.run_left_ms));
    const QString paused = !progress.paused ? QString()
                           : keys           ? QStringLiteral(", paused (p resumes)")
                                            : QStringLiteral(", paused");
    if (!terminal_) return step + run + paused;
    // A line as wide as the terminal would wrap and add a line at every update: the longest of
    // these that fits, else the shortest cut to the width.
    const QString brief = QStringLiteral("%1: %2/%3, %4, %5 left")
                              .arg(program_name_)
                              .arg(progress.step)
                              .arg(progress.steps)
                              .arg(progress.what->DisplayText, ClockText(progress.step_left_ms));
    const QString brief_paused = progress.paused ? QStringLiteral(", paused") : QString();
    winsize size{};
    const int width = ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col - 1 : 0;
    if (width <= 0) return step + run + paused;
    for (const QString& line : {step + run + paused, step + paused, brief + paused}) {
      if (line.size() <= width) return line;
    }
    return (brief + brief_paused).left(width);
  }

  static void WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
      const ssize_t written = write(fd, data, size);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) return;
      data += written;
      size -= size_t(written);
    }
  }

  const bool terminal_;
  const QString program_name_;
  std::mutex mutex_;
  bool open_ = false;
  QByteArray text_;  // the line on the terminal
  int shown_step_ = 0;
  bool shown_paused_ = false;
};

// While it exists, whatever the process writes through stderr (its own messages, the desktop
// services', a library's) goes through the status line's WriteMessage.
class StderrAroundStatus {
 public:
  explicit StderrAroundStatus(StatusLine* status) {
    cookie_io_functions_t io{};
    io.write = [](void* cookie, const char* data, size_t size) -> ssize_t {
      static_cast<StatusLine*>(cookie)->WriteMessage(data, size);
      return ssize_t(size);
    };
    FILE* stream = fopencookie(status, "w", io);
    if (stream == nullptr) return;
    setvbuf(stream, nullptr, _IONBF, 0);
    original_ = stderr;
    stderr = stream;
  }
  ~StderrAroundStatus() {
    if (original_ == nullptr) return;
    FILE* stream = stderr;
    stderr = original_;
    std::fclose(stream);
  }

 private:
  FILE* original_ = nullptr;
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

  PlayerTerminal terminal;
  const bool on_terminal = ::isatty(STDOUT_FILENO) == 1;
  StatusLine status(on_terminal, program.Name);
  std::optional<StderrAroundStatus> stderr_around_status;
  if (on_terminal) stderr_around_status.emplace(&status);
  QObject::connect(&countdown, &StepCountdown::TimeLeft, [&](const StepProgress& progress) {
    status.Show(progress, terminal.KeysRead());
  });
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

  // p or space pause and resume. Ctrl+Z pauses the step and stops the process once its output
  // is released; fg or bg resume what Ctrl+Z paused.
  QObject::connect(&terminal, &PlayerTerminal::PauseKey, &run,
                   [&run] { run.Paused() ? run.ResumeStep() : run.PauseStep(); });
  bool paused_by_stop = false;
  bool stop_pending = false;  // until the paused output has been released
  QObject::connect(&terminal, &PlayerTerminal::StopRequested, &run, [&] {
    if (run.PauseStep()) paused_by_stop = true;
    stop_pending = run.Paused() && !run.PauseSettled();
    if (!stop_pending) terminal.StopNow();
  });
  const auto stop_if_pending = [&] {
    if (!stop_pending) return;
    stop_pending = false;
    terminal.StopNow();
  };
  QObject::connect(&run, &TreatmentRun::PausedOutputReleased, &terminal, stop_if_pending);
  QObject::connect(&run, &TreatmentRun::StepEnded, &terminal, stop_if_pending);
  QObject::connect(&terminal, &PlayerTerminal::Continued, &run, [&] {
    // Paused by the key before: the line shows that again, below the shell's lines.
    if (!paused_by_stop || !run.ResumeStep()) status.Redraw();
    paused_by_stop = false;
  });

  run.Run(program, [&run](const TreatmentStep&) {
    QEventLoop step;
    QObject::connect(&run, &TreatmentRun::StepEnded, &step, &QEventLoop::quit);
    step.exec();
    return true;
  });
  return result.how == TreatmentRun::RunEnd::Failed ? 1 : 0;
}
