#include "application.h"

#include <unistd.h>

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QByteArray>
#include <QEvent>
#include <QFont>
#include <QIcon>
#include <QImage>
#include <QImageReader>
#include <QMessageBox>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QSocketNotifier>
#include <QStringList>
#include <QTimer>
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "app_identity.h"
#include "audio_output.h"
#include "current_frequency_window.h"
#include "ddfs.h"
#include "desktop_run_services.h"
#include "device_name.h"
#include "display_start.h"
#include "generator_output.h"
#include "info_window.h"
#include "main_window.h"
#include "output_choice.h"
#include "path_text.h"
#include "process_end.h"
#include "process_signals.h"
#include "program_editor.h"
#include "programs_window.h"
#include "run_engine.h"
#include "single_instance.h"
#include "step_countdown.h"
#include "time_left_hint.h"
#include "tone_generator_window.h"
#include "treatment_run.h"

namespace {

// Files passed on during a run that wait for its end at most: as many as the recent list keeps.
constexpr qsizetype kFilesWaitingAtMost = 20;

// A session manager ends the program with a quit event; it must stop a running step first.
class QuitEventFilter : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == qApp && event->type() == QEvent::Quit && Form1) {
      Form1->EndApplication();
      return true;
    }
    return false;
  }
};

// What lives from CreateWindows to DestroyWindows. Never destroyed by the exit handlers: when the
// process ends through exit() (Qt's own way out when the display goes away), nothing with a
// thread or a bus connection may be torn down after the event loop, and windows without a display
// cannot be; the process ends as it stands.
struct Windows {
  // The process's signal pipe (process_signals.h), read in whatever event loop runs.
  std::unique_ptr<QSocketNotifier> signal_notifier;
  std::unique_ptr<QuitEventFilter> quit_filter;
  // The windows' owners; Form1, Form2 and Form3 only point at them.
  std::unique_ptr<TForm1> main_window;
  std::unique_ptr<TForm2> info_window;
  std::unique_ptr<TForm3> step_window;
  // The run beside them, with the main window's ToneGen1 and Timer1.
  std::unique_ptr<RunEngine> run;
  std::unique_ptr<ProgramsWindow> programs_window;
  std::unique_ptr<ToneGeneratorWindow> tone_generator_window;
  // What the desktop sees of the windows' runs; it reaches D-Bus only at the first step.
  std::unique_ptr<DesktopRunServices> desktop_services;
  // The program files passed on during a step, which open when the run ends (the latest
  // kFilesWaitingAtMost), and the message that says so meanwhile.
  QStringList waiting_files;
  QPointer<QMessageBox> waiting_message;
};

Windows& TheWindows() {
  static Windows* const windows = new Windows;
  return *windows;
}

// The lock of the running window copy, for the end after a lost display.
SingleInstance* running_instance = nullptr;

// The main, Information, Programs and Tone generator windows and the program editor are plain
// widgets, which screen readers would see as a "filler"; they are top-level windows (a frame).
QAccessibleInterface* TopLevelWindowAccessible(const QString& key, QObject* object) {
  if (key != "TForm1" && key != "TForm2" && key != "ProgramsWindow" && key != "ProgramEditor" &&
      key != "ToneGeneratorWindow") {
    return nullptr;
  }
  return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
}

// The windows ask for "MS Sans Serif"; prefer fonts of similar width over the platform's
// general fallback, which is much wider.
void SubstituteWindowFont() {
  QFont::insertSubstitutions("MS Sans Serif", {"Microsoft Sans Serif", "Arial", "Liberation Sans",
                                               "Arimo", "Helvetica", "Nimbus Sans", "DejaVu Sans"});
}

// The display went away (the X server crashed, a logout left the process behind): Qt would end
// the process with exit(), whose handlers would destroy windows without a display and wait on
// threads. Instead the tone stops, the socket goes, and the process ends at once; the kernel
// drops the lock.
// A generator must never be left sounding: silent before anything else on every way out.
void SilenceGenerator() {
  if (const RunEngine* engine = TheWindows().run.get()) {
    if (StepOutput* output = engine->MadeOutput()) output->AllOff();
  }
}

void EndWithoutDisplay() {
  SilenceGenerator();
  BASS_Stop();
  if (running_instance != nullptr) running_instance->Release();
}

// A way out of exit() that no warning announced: the same end, still before any other handler.
bool loop_returned = false;
void EndAtUnexpectedExit() {
  if (loop_returned) return;
  EndWithoutDisplay();
  std::fputs("zelkgen: ended by the windowing system\n", stderr);
  std::fflush(nullptr);
  std::_Exit(1);
}

// Naming the format and turning detection off keeps Qt from loading every image format plugin
// at start-up to guess what the icon is.
QImage ReadIcon() {
  QImageReader reader(":/zelkgen.png", "png");
  reader.setAutoDetectImageFormat(false);
  return reader.read();
}

// A later copy asked for the running one: the window the user can act on comes to the front,
// the Current frequency window during a step (it is modal), else the Programs window when it is
// open (with the file the later copy passed on), else the main window.
void BringToFront(const QString& activation_token) {
  if (!Form1) return;
  // Where the platform supports it, the launcher's token lets the window take the focus.
  if (!activation_token.isEmpty()) qputenv("XDG_ACTIVATION_TOKEN", activation_token.toUtf8());
  QWidget* front = Form3 && Form3->isVisible() ? static_cast<QWidget*>(Form3) : Form1;
  if (front == Form1 && FormPrograms && FormPrograms->isVisible()) front = FormPrograms;
  for (QWidget* window : {static_cast<QWidget*>(Form1), front}) {
    window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window->raise();
  }
  front->activateWindow();
  if (TheWindows().waiting_message) TheWindows().waiting_message->raise();
}

// Tells at once that a program file passed on during a step waits for the run's end, in a
// message beside the step window: below it (above where the screen ends first), so that the
// frequency stays in sight, and without taking the keys from Skip. The run's end closes it.
void TellFileWaits() {
  Windows& windows = TheWindows();
  QStringList names;
  for (const QString& path : windows.waiting_files) names << ShownPath(FileNameText(path));
  QWidget* beside = Form3 && Form3->isVisible() ? static_cast<QWidget*>(Form3) : Form1;
  if (!windows.waiting_message) {
    auto* message =
        new QMessageBox(QMessageBox::Information, "Programs", QString(), QMessageBox::Ok, beside);
    message->setAttribute(Qt::WA_DeleteOnClose);
    message->setAttribute(Qt::WA_ShowWithoutActivating);
    message->setWindowModality(Qt::NonModal);
    message->setTextFormat(Qt::PlainText);
    windows.waiting_message = message;
  }
  QMessageBox* message = windows.waiting_message;
  message->setText(names.join(", ") + (names.size() == 1 ? " opens" : " open") +
                   " in the Programs window when this run ends.");
  message->adjustSize();
  const QRect step = beside->frameGeometry();
  const QRect screen = beside->screen()->availableGeometry();
  const int below = step.bottom() + 1;
  const int y = below + message->height() <= screen.bottom() + 1
                    ? below
                    : std::max(screen.top(), step.top() - message->height());
  message->move(std::clamp(step.left(), screen.left(),
                           std::max(screen.left(), screen.right() + 1 - message->width())),
                y);
  message->show();
  message->raise();
}

// A program file for the window: opened in the Programs window at once, or after the run that
// plays now (its step window keeps the others from input meanwhile).
void OpenProgramFile(const QString& path) {
  if (!Form1 || !FormPrograms) return;
  Windows& windows = TheWindows();
  if (!windows.run->Treatment()->StepRunning()) {
    FormPrograms->OpenFile(path);
    return;
  }
  // Coalesced and bounded: a file passed on again waits once, and of a flood the latest few wait.
  const bool first = windows.waiting_files.isEmpty();
  windows.waiting_files.removeAll(path);
  windows.waiting_files << path;
  while (windows.waiting_files.size() > kFilesWaitingAtMost) windows.waiting_files.removeFirst();
  TellFileWaits();
  if (!first) return;
  auto* once = new QObject(Form1);
  QObject::connect(windows.run->Treatment(), &TreatmentRun::RunEnded, once, [once] {
    once->deleteLater();
    if (TheWindows().waiting_message) TheWindows().waiting_message->close();
    QTimer::singleShot(0, [] {
      for (const QString& file : std::exchange(TheWindows().waiting_files, {})) {
        OpenProgramFile(file);
      }
    });
  });
}

// The absolute form of a path given on the command line, as bytes (path_text.h).
std::string AbsolutePath(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  std::string folder(PATH_MAX, '\0');
  if (getcwd(folder.data(), folder.size()) == nullptr) return path;
  folder.resize(std::strlen(folder.c_str()));
  return folder + (folder.back() == '/' ? "" : "/") + path;
}

// Before anything else: a second copy hands over to the first and ends. False when this process
// must end (result in *exit_code); true when it goes on, as the only copy or unguarded.
bool TakeSingleInstance(SingleInstance& instance, const std::string& program_file, int* exit_code) {
  if (instance.AcquireOrWarn(true)) return true;
  const std::string absolute = AbsolutePath(program_file);
  bool answered = false;
  if (SingleInstance::RequestRaise(absolute, 1000, &answered)) {
    if (answered) {
      *exit_code = 0;
      return false;
    }
    // A copy holds the lock but does not answer: hung, or stopped (Ctrl+Z, SIGSTOP).
    const int holder = SingleInstance::HolderProcess();
    const std::string who = holder > 0 ? " (process " + std::to_string(holder) + ")" : "";
    const std::string how = holder > 0 ? "; end it with 'kill " + std::to_string(holder) + "'" : "";
    std::fprintf(stderr, "%s: another copy%s holds the lock but does not answer%s\n", kAppName,
                 who.c_str(), how.c_str());
    *exit_code = 1;
    return false;
  }
  // Nothing listened: the holder may have ended meanwhile, or it plays without a window.
  std::string why;
  if (instance.Acquire(true, &why) == SingleInstance::Lock::Owned) return true;
  std::fprintf(stderr, "%s: %s\n", kAppName, kAnotherCopyMessage);
  *exit_code = 1;
  return false;
}

}  // namespace

// The resources live in a static library; the macro declares its initialiser globally.
static void InitResources() {
  Q_INIT_RESOURCE(main_window);
}

void CreateWindows() {
  InitResources();
  SubstituteWindowFont();
  QApplication::setWindowIcon(QIcon(QPixmap::fromImage(ReadIcon())));
  QAccessible::installFactory(TopLevelWindowAccessible);
  Windows& windows = TheWindows();
  windows.main_window = std::make_unique<TForm1>();
  Form1 = windows.main_window.get();
  windows.info_window = std::make_unique<TForm2>();
  Form2 = windows.info_window.get();
  windows.step_window = std::make_unique<TForm3>();
  Form3 = windows.step_window.get();
  windows.run = std::make_unique<RunEngine>(
      Form1->Timer1, &Form1->StreamHandle, [] { return reinterpret_cast<void*>(Form1->winId()); },
      [](const TreatmentStep& step) {
        return Form3->ShowStep(QString::fromStdString(step.DisplayText), Form1);
      });
  RunEngine* engine = windows.run.get();
  // Each run plays on the generator chosen in "Output:" when there is one, else on the sound card.
  engine->UseOutput([]() -> std::unique_ptr<StepOutput> {
    std::string device, why;
    GeneratorSettings settings;
    DeviceName name;
    if (!ChosenGenerator(&device, &settings) || !ParseDeviceName(device, &name, &why)) return {};
    return std::make_unique<GeneratorOutput>(GeneratorDriver::Make(name), settings);
  });
  const TreatmentRun* run = engine->Treatment();
  // The run's step ends stop ToneGen1 and clear its Loop, in the run's order.
  QObject::connect(run, &TreatmentRun::ToneGenStopNeeded, Form1, [] { Form1->ToneGen1->Stop(); });
  QObject::connect(run, &TreatmentRun::ToneGenLoopClearNeeded, Form1,
                   [] { Form1->ToneGen1->SetLoop(false); });
  // The main window first: it shows a step before the other windows hear of it.
  QObject::connect(Form1, &TForm1::RunRequested, engine, &RunEngine::Play);
  QObject::connect(Form1, &TForm1::StepTimerFired, engine, &RunEngine::EndStepByTimer);
  QObject::connect(Form1, &TForm1::EndRequested, engine, &RunEngine::EndProgram);
  QObject::connect(run, &TreatmentRun::RunStarted, Form1, &TForm1::ShowRunStart);
  QObject::connect(run, &TreatmentRun::StepOpened, Form1, &TForm1::ShowStepOpened);
  QObject::connect(run, &TreatmentRun::AudioFailed, Form1, [run](const QString& message, int code) {
    // A generator's failure has no sound system's code: its own advice goes under the message.
    const StepOutputError& error = run->OutputError();
    if (code == 0 && !error.Advice.empty()) {
      Form1->ShowOutputError(message, QString::fromStdString(error.Advice));
    } else {
      Form1->ShowAudioError(message, code);
    }
  });
  QObject::connect(run, &TreatmentRun::RunEnded, Form1, &TForm1::ShowRunEnd);
  FollowCountdown(engine->Countdown(), Form1->ProgressBar1);
  QObject::connect(Form3, &TForm3::SkipClicked, engine, &RunEngine::EndStepBySkip);
  QObject::connect(Form3, &TForm3::PauseClicked, engine, &RunEngine::TogglePause);
  QObject::connect(Form3, &TForm3::QuitRequested, Form1, &TForm1::EndApplicationAsked);
  QObject::connect(run, &TreatmentRun::StepEnded, Form3, &TForm3::CloseStepDisplay);
  FollowCountdown(engine->Countdown(), Form3, true);
  windows.programs_window = std::make_unique<ProgramsWindow>(Form1);
  FormPrograms = windows.programs_window.get();
  // The user's own end of the program does not throw away an edited program unasked.
  Form1->SetEndCheck([] {
    return FormPrograms == nullptr || FormPrograms->Editor() == nullptr ||
           FormPrograms->Editor()->MaySet();
  });
  QObject::connect(Form1->ButtonPrograms, &QPushButton::clicked, FormPrograms,
                   &ProgramsWindow::ShowPrograms);
  QObject::connect(Form1, &TForm1::ProgramFileDropped, &OpenProgramFile);
  QObject::connect(FormPrograms, &ProgramsWindow::StartRequested, engine, &RunEngine::PlayFile,
                   Qt::QueuedConnection);
  QObject::connect(FormPrograms, &ProgramsWindow::FileDropped, &OpenProgramFile);
  // "Output signal" claims no shape for a program that gives every step its own.
  QObject::connect(FormPrograms, &ProgramsWindow::ShapeChoiceTaken, Form1, [](bool taken) {
    Form1->RadioGroup1->setEnabled(!taken);
    Form1->RadioGroup1->setToolTip(taken ? "The selected program sets the shape of every step."
                                         : QString());
  });
  QObject::connect(run, &TreatmentRun::RunStarted, FormPrograms,
                   [](const TreatmentProgram& program) { FormPrograms->FollowRun(&program); });
  QObject::connect(run, &TreatmentRun::RunEnded, FormPrograms,
                   [] { FormPrograms->FollowRun(nullptr); });
  QObject::connect(engine->Countdown(), &StepCountdown::TimeLeft, FormPrograms,
                   [](const StepProgress& progress) {
                     FormPrograms->ShowRunElapsed(progress.run_ms - progress.run_left_ms);
                   });
  QObject::connect(engine->Countdown(), &StepCountdown::TimeLeft, Form3, &TForm3::ShowTimeLeft);
  QObject::connect(engine->Countdown(), &StepCountdown::Cleared, Form3, &TForm3::ClearTimeLeft);
  windows.tone_generator_window =
      std::make_unique<ToneGeneratorWindow>(Form1->ToneGen1, Form1->font());
  FormToneGenerator = windows.tone_generator_window.get();
  QObject::connect(Form1->ButtonToneGenerator, &QPushButton::clicked, FormToneGenerator,
                   &ToneGeneratorWindow::ShowWindow);
  QObject::connect(run, &TreatmentRun::RunStarted, FormToneGenerator,
                   &ToneGeneratorWindow::RunStarted);
  QObject::connect(run, &TreatmentRun::RunEnded, FormToneGenerator, &ToneGeneratorWindow::RunEnded);
  windows.desktop_services = std::make_unique<DesktopRunServices>();
  windows.desktop_services->Follow(run, engine->Countdown());
}

const RunEngine* WindowsRun() {
  return TheWindows().run.get();
}

void InstallEndHandlers() {
  Windows& windows = TheWindows();
  CatchQuitSignals();
  if (CaughtSignalsFd() >= 0) {
    windows.signal_notifier =
        std::make_unique<QSocketNotifier>(CaughtSignalsFd(), QSocketNotifier::Read);
    QObject::connect(windows.signal_notifier.get(), &QSocketNotifier::activated, [] {
      bool quit = false;
      while (NextCaughtSignal() != 0) quit = true;  // only the quit signals are caught here
      if (!quit) return;
      SilenceGenerator();
      if (Form1) Form1->EndApplication();
    });
  }
  windows.quit_filter = std::make_unique<QuitEventFilter>();
  qApp->installEventFilter(windows.quit_filter.get());
}

void DestroyWindows() {
  Windows& windows = TheWindows();
  windows.quit_filter.reset();
  // A signal in the last moments of the program (its windows are gone) ends it at once.
  ReleaseQuitSignals();
  windows.signal_notifier.reset();
  // Last created, first destroyed.
  windows.desktop_services.reset();
  windows.tone_generator_window.reset();
  FormToneGenerator = nullptr;
  windows.programs_window.reset();
  FormPrograms = nullptr;
  // The run before the windows whose timer and tone generator it uses.
  windows.run.reset();
  windows.step_window.reset();
  Form3 = nullptr;
  windows.info_window.reset();
  Form2 = nullptr;
  windows.main_window.reset();
  Form1 = nullptr;
}

int RunWindows(int argc, char** argv, const std::string& program_file) {
  // Normally caught already (app/main.cpp), so that a quit signal at any moment of the start ends
  // the program in order.
  CatchQuitSignals();
  auto single_instance = std::make_unique<SingleInstance>();
  int exit_code = 0;
  if (!TakeSingleInstance(*single_instance, program_file, &exit_code)) return exit_code;
  InitDDFS();
  // Qt takes its own options (-platform, -style) out of the arguments.
  HoldStartMessages();
  QApplication application(argc, argv);
  PassStartMessages();
  running_instance = single_instance.get();
  EndWhenDisplayIsLost(EndWithoutDisplay);
  std::atexit(EndAtUnexpectedExit);
  QApplication::setApplicationName(kAppName);
  QGuiApplication::setDesktopFileName(kAppId);
  CreateWindows();
  InstallEndHandlers();
  QObject::connect(single_instance.get(), &SingleInstance::OpenRequested, &OpenProgramFile);
  QObject::connect(single_instance.get(), &SingleInstance::RaiseRequested, BringToFront);
  single_instance->WatchForRaise();
  Form1->show();
  // From the event loop, as every later file: a quit at any moment, while the file's errors are
  // shown too, ends that loop.
  if (!program_file.empty()) {
    QTimer::singleShot(0, [file = PathText(AbsolutePath(program_file))] { OpenProgramFile(file); });
  }
  const int result = QApplication::exec();
  loop_returned = true;
  DestroyWindows();
  // Its socket notifier must go before the application object.
  running_instance = nullptr;
  single_instance.reset();
  return EndProcess(result);
}
