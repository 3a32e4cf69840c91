// A quit signal (SIGTERM, SIGINT, a logout's SIGHUP) ends the program in order whichever window
// is open and whatever is being typed in it: the event loop ends with 0 and the windows are then
// destroyed as at the program's end. In the sanitized build a window that reaches a destroyed
// object on its way out (a field losing its focus as it goes) stops the test there.
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>

#include "app_fixture.h"
#include "editor_cells.h"
#include "programs_window.h"
#include "tone_generator_window.h"

namespace {

class QuitSignal : public WindowsTest {};

void Click(QAbstractButton* button) {
  QTest::mouseClick(button, Qt::LeftButton);
}

// Shows window as the active one, where the focus and typed keys go.
bool Activate(QWidget* window) {
  window->activateWindow();
  return QTest::qWaitForWindowActive(window);
}

// Types text into the program editor's title, as after New or Duplicate; false when there is no
// editor or title to type into.
bool TypeTitle(ProgramEditor* editor, const char* text) {
  if (editor == nullptr || !Activate(editor)) return false;
  for (QLineEdit* line : editor->findChildren<QLineEdit*>()) {
    if (line->accessibleName() != "Title") continue;
    line->setFocus();
    QTest::keyClicks(line, text);
    return true;
  }
  return false;
}

TEST_F(QuitSignal, EndsTheProgramInOrderWithEachWindowOpen) {
  const struct {
    const char* window;
    // Opens the window from the event loop as a user does, leaving something half typed; true
    // when it got there.
    std::function<bool()> open;
    // A window with a modal loop of its own (a run's step) is open while this is true; the
    // others once open has returned.
    std::function<bool()> during;
  } kWindows[] = {
      {"main window", [] { return Activate(Form1); }, nullptr},
      {"Programs window",
       [] {
         Click(Form1->ButtonPrograms);
         return FormPrograms->isVisible();
       },
       nullptr},
      {"program editor with a cell being typed",
       [] {
         Click(Form1->ButtonPrograms);
         Click(FormPrograms->EditButton());
         ProgramEditor* editor = FormPrograms->Editor();
         if (editor == nullptr || !Activate(editor)) return false;
         QWidget* cell = OpenCell(editor, 0, 1);
         if (cell == nullptr) return false;
         QTest::keyClicks(cell, "2:00");
         return true;
       },
       nullptr},
      {"New",
       [] {
         Click(Form1->ButtonPrograms);
         Click(FormPrograms->NewButton());
         return TypeTitle(FormPrograms->Editor(), "Evening");
       },
       nullptr},
      {"Duplicate",
       [] {
         Click(Form1->ButtonPrograms);
         Click(FormPrograms->DuplicateButton());
         return TypeTitle(FormPrograms->Editor(), " copy");
       },
       nullptr},
      {"Tone generator window with a frequency being typed",
       [] {
         Click(Form1->ButtonToneGenerator);
         if (!Activate(FormToneGenerator)) return false;
         QSpinBox* field = FormToneGenerator->frequencyBox;
         field->setFocus();
         QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
         QTest::keyClicks(field, "1234");
         return field->hasFocus();
       },
       nullptr},
      {"Current frequency window during a run",
       [] {
         Click(Form1->Button5);
         return true;
       },
       [] { return Form3->isVisible() && Form1->Timer1->isActive(); }},
  };
  // A run's sound goes nowhere, whatever file an earlier test of this process pointed it at.
  setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
  for (const auto& w : kWindows) {
    for (const int signal_number : {SIGTERM, SIGINT, SIGHUP}) {
      SCOPED_TRACE(testing::Message() << w.window << ", signal " << signal_number);
      const ScratchXdgFolders scratch("zelkgen-quit-");
      ASSERT_TRUE(scratch.Created());
      const std::filesystem::path folder = scratch.Path() / "data" / "zelkgen" / "programs";
      std::filesystem::create_directories(folder);
      std::ofstream(folder / "evening.zelkgen") << "zelkgen program: Evening\n528 3:00\n";
      bool opened = false;
      bool raised = false;
      QTimer poll;
      poll.setInterval(5);
      QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!raised && (w.during ? w.during() : opened)) raised = std::raise(signal_number) == 0;
      });
      poll.start();
      QTimer::singleShot(0, Form1, [&] { opened = w.open(); });
      EXPECT_EQ(RunEventLoopUntilEnd(5000), 0);
      EXPECT_TRUE(raised) << "the window did not open";
      poll.stop();
      TearDown();
      SetUp();
    }
  }
}

}  // namespace
