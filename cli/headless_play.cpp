#include "headless_play.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QEventLoop>
#include <QString>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "app_identity.h"
#include "audio_output.h"
#include "clock_text.h"
#include "console_output.h"
#include "ddfs.h"
#include "desktop_run_services.h"
#include "device_name.h"
#include "generator_driver.h"
#include "output_check.h"
#include "output_thread.h"
#include "player_terminal.h"
#include "process_end.h"
#include "program_file.h"
#include "run_engine.h"
#include "run_notifier.h"
#include "signal_watcher.h"
#include "single_instance.h"
#include "step_countdown.h"
#include "step_timer.h"
#include "treatment_run.h"

namespace {

// The run's progress on standard output: on a terminal one line rewritten in place and cut to the
// terminal's width, otherwise one line as each step starts and as it is paused or resumed. A
// message on standard error ends the line on the terminal first, and the line comes back below
// it (StderrAroundStatus); that may happen on any thread, hence the lock. Never waits for the
// reader (console_output.h).
class StatusLine {
 public:
  StatusLine(ConsoleOutput* out, ConsoleOutput* err, const QString& program_name)
      : out_(out), err_(err), terminal_(out->IsTerminal()), program_name_(program_name) {}

  bool IsTerminal() const { return terminal_; }

  // keys: the pause key is read, so the paused line says how to resume.
  void Show(const StepProgress& progress, bool keys) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!terminal_ && progress.step == shown_step_ && progress.paused == shown_paused_) return;
    shown_step_ = progress.step;
    shown_paused_ = progress.paused;
    text_ = Text(progress, keys).toLocal8Bit().toStdString();
    // On a terminal the line is cleared to its end, for a shorter text after a longer one.
    out_->Write(terminal_ ? "\r" + text_ + "\033[K" : text_ + "\n");
    open_ = terminal_;
  }

  // Leaves the terminal at the start of an empty line.
  void End() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (open_) out_->Write("\r\033[K");
    open_ = false;
    text_.clear();
  }

  // Draws the line again where the cursor stands (the terminal went on meanwhile).
  void Redraw() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!terminal_ || text_.empty()) return;
    out_->Write("\r" + text_ + "\033[K");
    open_ = true;
  }

  // Writes a message to standard error with the line out of its way.
  void WriteMessage(std::string_view message) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (open_) out_->Write("\r\033[K");
    err_->Write(message);
    // A whole message line written: the status line again below it.
    open_ = !text_.empty() && !message.empty() && message.back() == '\n';
    if (open_) out_->Write(text_ + "\033[K");
  }

 private:
  QString Text(const StepProgress& progress, bool keys) const {
    const QString what = QString::fromStdString(progress.what->DisplayText);
    const QString step_left = QString::fromStdString(ClockTextRoundedUp(progress.step_left_ms));
    // pattern: %1 the program, %2 the step, %3 the steps, %4 what plays, %5 the step's time left
    const auto step_text = [&](const QString& pattern) {
      return pattern.arg(program_name_).arg(progress.step).arg(progress.steps).arg(what, step_left);
    };
    const QString step = step_text(QStringLiteral("%1: step %2 of %3, %4, %5 left in the step"));
    const QString run = QStringLiteral(", %1 left in the run")
                            .arg(QString::fromStdString(ClockTextRoundedUp(progress.run_left_ms)));
    const QString paused = !progress.paused ? QString()
                           : keys           ? QStringLiteral(", paused (p resumes)")
                                            : QStringLiteral(", paused");
    if (!terminal_) return step + run + paused;
    // A line as wide as the terminal would wrap and add a line at every update: the longest of
    // these that fits, else the shortest cut to the width.
    const QString brief = step_text(QStringLiteral("%1: %2/%3, %4, %5 left"));
    const QString brief_paused = progress.paused ? QStringLiteral(", paused") : QString();
    winsize size{};
    const int width = ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col - 1 : 0;
    if (width <= 0) return step + run + paused;
    for (const QString& line : {step + run + paused, step + paused, brief + paused}) {
      if (line.size() <= width) return line;
    }
    return (brief + brief_paused).left(width);
  }

  ConsoleOutput* out_;
  ConsoleOutput* err_;
  const bool terminal_;
  const QString program_name_;
  std::mutex mutex_;
  bool open_ = false;
  std::string text_;  // the line on the terminal
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
      static_cast<StatusLine*>(cookie)->WriteMessage(std::string_view(data, size));
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

// Opens the generator, checks the program against what it can play and closes it again for the
// run to open. 0 with *made when the program can play on it; else 1 after the messages.
int CheckedGenerator(const PlayGenerator& generator, const TreatmentProgram& program,
                     std::unique_ptr<GeneratorOutput>* made) {
  DeviceName name;
  std::string error;
  if (!ParseDeviceName(generator.Device, &name, &error)) {
    std::fprintf(stderr, "%s: %s\n", kAppName, error.c_str());
    return 1;
  }
  auto output = std::make_unique<GeneratorOutput>(GeneratorDriver::Make(name), generator.Settings);
  if (!output->Open()) {
    const StepOutputError& failed = output->LastError();
    std::fprintf(stderr, "%s: %s\n", kAppName, failed.Message.c_str());
    if (!failed.Advice.empty()) std::fprintf(stderr, "%s\n", failed.Advice.c_str());
    return 1;
  }
  const OutputLimits limits = output->Limits();
  output->Close();
  std::vector<std::string> problems;
  if (!generator.ProgramFile.empty()) {
    std::string text;
    if (!ReadProgramFileText(generator.ProgramFile, &text, &error)) {
      problems.push_back(error);
    } else {
      problems = CheckProgramForOutput(text, generator.ProgramFile, limits);
    }
  } else {
    for (size_t i = 0; i < program.Steps.size(); ++i) {
      for (const StepProblem& problem : StepProblems(program.Steps[i], limits)) {
        problems.push_back(program.Name + ": step " + std::to_string(i + 1) + ": " +
                           problem.Message);
      }
    }
  }
  for (const std::string& problem : problems) std::fprintf(stderr, "%s\n", problem.c_str());
  if (!problems.empty()) return 1;
  *made = std::move(output);
  return 0;
}

}  // namespace

int PlayWithoutWindow(const TreatmentProgram& program, WaveShape shape, int step_ms,
                      const PlayGenerator* generator) {
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

  std::unique_ptr<GeneratorOutput> checked_generator;
  if (generator != nullptr) {
    if (const int status = CheckedGenerator(*generator, program, &checked_generator); status != 0) {
      return EndProcess(status);
    }
  }

  const std::unique_ptr<QTimer> step_timer(CreateStepTimer(nullptr, step_ms));
  uint32_t stream_handle = 0;
  // Each step waits in an event loop of its own until it ends.
  const TreatmentRun* followed = nullptr;
  RunEngine engine(step_timer.get(), &stream_handle, nullptr, [&followed](const TreatmentStep&) {
    QEventLoop step;
    QObject::connect(followed, &TreatmentRun::StepEnded, &step, &QEventLoop::quit);
    step.exec();
    return true;
  });
  const TreatmentRun& run = *engine.Treatment();
  followed = &run;
  if (checked_generator) {
    engine.UseOutput([&checked_generator]() -> std::unique_ptr<StepOutput> {
      return std::move(checked_generator);
    });
  }
  const StepCountdown& countdown = *engine.Countdown();
  auto desktop = std::make_unique<DesktopRunServices>();
  desktop->Follow(&run, &countdown);

  const QString program_name = QString::fromStdString(program.Name);
  ConsoleOutput out(STDOUT_FILENO), err(STDERR_FILENO);
  PlayerTerminal terminal;
  StatusLine status(&out, &err, program_name);
  std::optional<StderrAroundStatus> stderr_around_status;
  if (status.IsTerminal()) stderr_around_status.emplace(&status);
  QObject::connect(&countdown, &StepCountdown::TimeLeft, [&](const StepProgress& progress) {
    status.Show(progress, terminal.KeysRead());
  });
  QObject::connect(&run, &TreatmentRun::AudioFailed, [&](const QString& message, int code) {
    status.End();
    if (engine.MadeOutput() != nullptr) {
      // A generator's message names it; its advice says what to check.
      const std::string advice = run.OutputError().Advice;
      err.Write(message.toLocal8Bit().toStdString() + "\n" + (advice.empty() ? "" : advice + "\n"));
      return;
    }
    std::string text =
        (message + "\n").toLocal8Bit().toStdString() + AudioErrorCodeLine(code) + "\n";
    const std::string advice = AudioErrorAdvice(code);
    if (!advice.empty()) text += advice + "\n";
    err.Write(text);
  });
  TreatmentRun::RunResult result;
  QObject::connect(&run, &TreatmentRun::RunEnded, [&](const TreatmentRun::RunResult& ended) {
    result = ended;
    status.End();
    const QString summary =
        RunEndSummary(program_name, RunOutcomeOf(ended.how), ended.step, ended.steps);
    out.Write((summary + "\n").toLocal8Bit().toStdString());
  });

  SignalWatcher caught_signals;
  QObject::connect(&caught_signals, &SignalWatcher::QuitRequested, &engine, [&engine] {
    // A generator goes silent first, whatever the run is doing.
    if (StepOutput* output = engine.MadeOutput()) output->AllOff();
    engine.EndProgram();
  });
  QObject::connect(&caught_signals, &SignalWatcher::JobSignal, &terminal,
                   &PlayerTerminal::JobSignal);

  // p or space pause and resume. Ctrl+Z pauses the step and stops the process once its output
  // is released; fg or bg resume what Ctrl+Z paused.
  QObject::connect(&terminal, &PlayerTerminal::PauseKey, &engine, &RunEngine::TogglePause);
  // n skips to the next step, as the window's Skip; q ends the run, as Ctrl+C does.
  QObject::connect(&terminal, &PlayerTerminal::NextKey, &engine, [&] {
    if (run.StepRunning()) engine.EndStepBySkip();
  });
  QObject::connect(&terminal, &PlayerTerminal::EndKey, &engine, &RunEngine::EndProgram);
  bool paused_by_stop = false;
  bool stop_pending = false;  // until the paused output has been released
  // The release closes the device on the output thread, which a stopped process would hold with
  // the stream still in the sound server; a frozen server is not waited for beyond the limit.
  const auto stop_now = [&] {
    WaitForOutputThread(std::chrono::milliseconds(500));
    terminal.StopNow();
  };
  QObject::connect(&terminal, &PlayerTerminal::StopRequested, &engine, [&] {
    if (engine.PauseStep()) paused_by_stop = true;
    stop_pending = run.Paused() && !run.PauseSettled();
    if (!stop_pending) stop_now();
  });
  const auto stop_if_pending = [&] {
    if (!stop_pending) return;
    stop_pending = false;
    stop_now();
  };
  QObject::connect(&run, &TreatmentRun::PausedOutputReleased, &terminal, stop_if_pending);
  QObject::connect(&run, &TreatmentRun::StepEnded, &terminal, stop_if_pending);
  QObject::connect(&terminal, &PlayerTerminal::Continued, &engine, [&] {
    // Paused by the key before: the line shows that again, below the shell's lines.
    if (!paused_by_stop || !engine.ResumeStep()) status.Redraw();
    paused_by_stop = false;
  });

  engine.Play(program);
  // What the desktop holds is given back, on its own thread, while the application still exists.
  desktop.reset();
  return EndProcess(result.how == TreatmentRun::RunEnd::Failed ? 1 : 0);
}
