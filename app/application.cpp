#include "application.h"

#include <QApplication>
#include <QEvent>
#include <QFont>
#include <QIcon>
#include <QImage>
#include <QImageReader>
#include <QPixmap>
#include <cstdlib>
#include <memory>

#include "command_line.h"
#include "current_frequency_window.h"
#include "ddfs.h"
#include "display_start.h"
#include "info_window.h"
#include "main_window.h"
#include "quit_signals.h"
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

}  // namespace

// The resources live in a static library; the macro declares its initialiser globally.
static void InitResources() {
  Q_INIT_RESOURCE(main_window);
}

void CreateWindows() {
  InitResources();
  SubstituteWindowFont();
  QApplication::setWindowIcon(QIcon(QPixmap::fromImage(ReadIcon())));
  main_window = std::make_unique<TForm1>();
  Form1 = main_window.get();
  info_window = std::make_unique<TForm2>();
  Form2 = info_window.get();
  step_window = std::make_unique<TForm3>();
  Form3 = step_window.get();
  TreatmentRun* run = Form1->Treatment();
  QObject::connect(Form3, &TForm3::SkipClicked, run, &TreatmentRun::EndStepBySkip);
  QObject::connect(run, &TreatmentRun::StepEnded, Form3, &TForm3::CloseStepDisplay);
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
  InitDDFS();
  // Qt takes its own options (-platform, -style) out of the arguments.
  HoldStartMessages();
  QApplication application(argc, argv);
  PassStartMessages();
  std::atexit(ReleaseAudioOutputAtExit);
  QApplication::setApplicationName("zelkgen");
  CreateWindows();
  InstallEndHandlers();
  Form1->show();
  const int result = QApplication::exec();
  DestroyWindows();
  return result;
}
