#include "application.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QByteArray>
#include <QEvent>
#include <QFont>
#include <QIcon>
#include <QImage>
#include <QImageReader>
#include <QPixmap>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "app_identity.h"
#include "command_line.h"
#include "current_frequency_window.h"
#include "ddfs.h"
#include "desktop_run_services.h"
#include "display_start.h"
#include "info_window.h"
#include "main_window.h"
#include "quit_signals.h"
#include "single_instance.h"
#include "step_countdown.h"
#include "time_left_hint.h"
#include "treatment_run.h"

namespace {

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

std::unique_ptr<QuitSignalWatcher> signal_watcher;
std::unique_ptr<QuitEventFilter> quit_filter;

// The windows' owners; Form1, Form2 and Form3 only point at them.
std::unique_ptr<TForm1> main_window;
std::unique_ptr<TForm2> info_window;
std::unique_ptr<TForm3> step_window;
// What the desktop sees of the windows' runs; it reaches D-Bus only at the first step.
std::unique_ptr<DesktopRunServices> desktop_services;

// The main and Information windows are plain widgets, which screen readers would see as a
// "filler"; they are top-level windows (a frame).
QAccessibleInterface* TopLevelWindowAccessible(const QString& key, QObject* object) {
  if (key != "TForm1" && key != "TForm2") return nullptr;
  return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
}

// The windows ask for "MS Sans Serif"; prefer fonts of similar width over the platform's
// general fallback, which is much wider.
void SubstituteWindowFont() {
  QFont::insertSubstitutions("MS Sans Serif", {"Microsoft Sans Serif", "Arial", "Liberation Sans",
                                               "Arimo", "Helvetica", "Nimbus Sans", "DejaVu Sans"});
}

// Qt ends the process with exit() when the X server goes away (a logout without a session
// manager): the tone must not outlive the window thread even then. Harmless when nothing is open.
void ReleaseAudioOutputAtExit() {
  TreatmentRun::ReleaseOutput();
}

// Naming the format and turning detection off keeps Qt from loading every image format plugin
// at start-up to guess what the icon is.
QImage ReadIcon() {
  QImageReader reader(":/zelkgen.png", "png");
  reader.setAutoDetectImageFormat(false);
  return reader.read();
}

// A later copy asked for the running one: the window the user can act on comes to the front,
// the Current frequency window during a step (it is modal), else the main window.
void BringToFront(const QString& activation_token) {
  if (!Form1) return;
  // Where the platform supports it, the launcher's token lets the window take the focus.
  if (!activation_token.isEmpty()) qputenv("XDG_ACTIVATION_TOKEN", activation_token.toUtf8());
  QWidget* front = Form3 && Form3->isVisible() ? static_cast<QWidget*>(Form3) : Form1;
  for (QWidget* window : {static_cast<QWidget*>(Form1), front}) {
    window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window->raise();
  }
  front->activateWindow();
}

// Before anything else: a second copy hands over to the first and ends. False when this process
// must end (result in *exit_code); true when it goes on, as the only copy or unguarded.
bool TakeSingleInstance(SingleInstance& instance, int* exit_code) {
  if (instance.AcquireOrWarn(true)) return true;
  if (SingleInstance::RequestRaise()) {
    *exit_code = 0;
    return false;
  }
  // Nothing listened: the holder may have ended meanwhile, or it plays without a window.
  std::string why;
  if (instance.Acquire(true, &why) == SingleInstance::Lock::Owned) return true;
  std::fprintf(stderr, "%s: another copy is already playing\n", kAppName);
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
  main_window = std::make_unique<TForm1>();
  Form1 = main_window.get();
  info_window = std::make_unique<TForm2>();
  Form2 = info_window.get();
  step_window = std::make_unique<TForm3>();
  Form3 = step_window.get();
  TreatmentRun* run = Form1->Treatment();
  QObject::connect(Form3, &TForm3::SkipClicked, run, &TreatmentRun::EndStepBySkip);
  QObject::connect(Form3, &TForm3::PauseClicked, run,
                   [run] { run->Paused() ? run->ResumeStep() : run->PauseStep(); });
  QObject::connect(Form3, &TForm3::QuitRequested, Form1, &TForm1::EndApplication);
  QObject::connect(run, &TreatmentRun::StepEnded, Form3, &TForm3::CloseStepDisplay);
  FollowCountdown(Form1->Countdown(), Form3);
  QObject::connect(Form1->Countdown(), &StepCountdown::TimeLeft, Form3, &TForm3::ShowTimeLeft);
  QObject::connect(Form1->Countdown(), &StepCountdown::Cleared, Form3, &TForm3::ClearTimeLeft);
  desktop_services = std::make_unique<DesktopRunServices>();
  desktop_services->Follow(run, Form1->Countdown());
}

void InstallEndHandlers() {
  signal_watcher = std::make_unique<QuitSignalWatcher>();
  QObject::connect(signal_watcher.get(), &QuitSignalWatcher::QuitRequested, [] {
    if (Form1) Form1->EndApplication();
  });
  quit_filter = std::make_unique<QuitEventFilter>();
  qApp->installEventFilter(quit_filter.get());
}

void DestroyWindows() {
  quit_filter.reset();
  signal_watcher.reset();
  // Last created, first destroyed.
  desktop_services.reset();
  step_window.reset();
  Form3 = nullptr;
  info_window.reset();
  Form2 = nullptr;
  main_window.reset();
  Form1 = nullptr;
}

int RunZelkgen(int argc, char** argv) {
  const CommandLine command = ParseCommandLine(argc, argv);
  if (command.mode != CommandLine::Mode::Window) return RunWithoutWindow(command);
  auto single_instance = std::make_unique<SingleInstance>();
  int exit_code = 0;
  if (!TakeSingleInstance(*single_instance, &exit_code)) return exit_code;
  InitDDFS();
  // Qt takes its own options (-platform, -style) out of the arguments.
  HoldStartMessages();
  QApplication application(argc, argv);
  PassStartMessages();
  std::atexit(ReleaseAudioOutputAtExit);
  QApplication::setApplicationName(kAppName);
  QGuiApplication::setDesktopFileName(kAppId);
  CreateWindows();
  InstallEndHandlers();
  QObject::connect(single_instance.get(), &SingleInstance::RaiseRequested, BringToFront);
  single_instance->WatchForRaise();
  Form1->show();
  const int result = QApplication::exec();
  DestroyWindows();
  // Its socket notifier must go before the application object.
  single_instance.reset();
  return result;
}
