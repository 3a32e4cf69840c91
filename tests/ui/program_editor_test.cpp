// The Programs window and the program editor, as a new user goes: a program file selected shows
// its steps, Edit opens it, a wrong frequency is marked with the parser's message and blocks
// Save, undo takes it back, a right one is saved touching only its line, a pasted list becomes
// steps, and closing with unsaved changes asks.
#include "program_editor.h"

#include <QAbstractItemModel>
#include <QClipboard>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QTableView>
#include <QTest>
#include <QUndoStack>
#include <QWheelEvent>
#include <csignal>
#include <fstream>
#include <sstream>
#include <tuple>

#include "app_fixture.h"
#include "editor_cells.h"
#include "program_file.h"
#include "program_steps_model.h"
#include "program_timeline.h"
#include "programs_window.h"
#include "radio_group.h"
#include "scratch_dir.h"

namespace {

class ProgramsAndEditor : public WindowsTest {};

// How often the timeline's most highlighted row changes between the line's colour and another:
// twice for an unbroken line, many times for a broken one.
int LineBreaks(ProgramTimeline* timeline) {
  const QImage image = timeline->grab().toImage();
  const QRgb line = timeline->LineColour().rgb();
  int best_row = 0, best_count = -1;
  for (int y = 0; y < image.height(); ++y) {
    int count = 0;
    for (int x = 0; x < image.width(); ++x) count += image.pixel(x, y) == line;
    if (count > best_count) std::tie(best_row, best_count) = std::pair{y, count};
  }
  int breaks = 0;
  for (int x = 1; x < image.width(); ++x)
    breaks += (image.pixel(x, best_row) == line) != (image.pixel(x - 1, best_row) == line);
  return breaks;
}

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST_F(ProgramsAndEditor, AProgramIsSeenEditedCheckedAndSavedWithItsCommentsKept) {
  const ScratchXdgFolders scratch("zelkgen-editor-");
  ASSERT_TRUE(scratch.Created());
  const std::filesystem::path folder = scratch.Path() / "data" / "zelkgen" / "programs";
  std::filesystem::create_directories(folder);
  const std::filesystem::path file = folder / "evening.zelkgen";
  const std::string text =
      "zelkgen program: Evening\n# my notes\n728      # first\n432.125  90s\n\n7.83 1:30 \"S\"\n";
  // Every step of this one has its shape, so "Output signal" has nothing to choose for it.
  std::ofstream(folder / "shaped.zelkgen")
      << "zelkgen program: Shaped\nshape sine\n440 gate 7.83 on 25%\n";
  std::ofstream(file, std::ios::binary) << text;

  FormPrograms->ShowPrograms();
  ASSERT_EQ(FormPrograms->List()->count(), 4);  // the files and the two built-ins
  EXPECT_EQ(FormPrograms->List()->currentItem()->text(), "Evening");
  const QAbstractItemModel* steps = FormPrograms->Steps()->model();
  ASSERT_EQ(steps->rowCount(), 3);
  EXPECT_EQ(steps->index(2, 1).data().toString(), "4:30");  // 3:00 and 90 s before it
  EXPECT_EQ(steps->index(2, 6).data().toString(), "S");
  EXPECT_TRUE(FormPrograms->Summary()->text().contains("3 steps, 6:00"));
  EXPECT_TRUE(Form1->RadioGroup1->isEnabled());
  FormPrograms->List()->setCurrentRow(1);
  EXPECT_EQ(FormPrograms->List()->currentItem()->text(), "Shaped");
  EXPECT_EQ(steps->index(0, 4).data().toString(), "sine, gate 7.83 Hz on 25%");
  // The gated step is a broken line on the timeline, the other program's steps unbroken ones.
  EXPECT_GT(LineBreaks(FormPrograms->Timeline()), 20);
  EXPECT_FALSE(Form1->RadioGroup1->isEnabled());
  // A file deleted on disk leaves the list.
  std::filesystem::remove(folder / "shaped.zelkgen");
  EXPECT_TRUE(QTest::qWaitFor([] { return FormPrograms->List()->count() == 3; }, 5000));
  EXPECT_TRUE(Form1->RadioGroup1->isEnabled());
  FormPrograms->List()->setCurrentRow(0);
  EXPECT_LE(LineBreaks(FormPrograms->Timeline()), 4);

  FormPrograms->EditButton()->click();
  ProgramEditor* editor = FormPrograms->Editor();
  ASSERT_NE(editor, nullptr);
  ASSERT_TRUE(editor->isVisible());
  QAbstractItemModel* cells = editor->Steps()->model();
  ASSERT_EQ(cells->rowCount(), 3);
  ASSERT_TRUE(cells->setData(cells->index(1, 0), "0"));
  EXPECT_TRUE(editor->Message()->text().contains("Step 2, Frequency: a frequency is above 0 Hz"))
      << editor->Message()->text().toStdString();
  EXPECT_TRUE(cells->index(1, 0).data(Qt::BackgroundRole).isValid());
  EXPECT_FALSE(cells->index(1, 2).data(Qt::BackgroundRole).isValid());
  EXPECT_FALSE(editor->SaveButton()->isEnabled());
  editor->Undo()->undo();
  EXPECT_TRUE(editor->Message()->text().isEmpty());
  EXPECT_TRUE(editor->SaveButton()->isEnabled());

  ASSERT_TRUE(cells->setData(cells->index(1, 0), "433"));
  editor->SaveButton()->click();
  EXPECT_EQ(
      ReadAll(file),
      "zelkgen program: Evening\n# my notes\n728      # first\n433  90s\n\n7.83 1:30 \"S\"\n");
  EXPECT_EQ(FormPrograms->Steps()->model()->index(1, 2).data().toString(), "433 Hz");

  QApplication::clipboard()->setText("440, 528 90s");
  editor->Steps()->setCurrentIndex(cells->index(2, 0));
  editor->PasteList();
  ASSERT_EQ(cells->rowCount(), 5);
  EXPECT_EQ(cells->index(3, 0).data().toString(), "440");
  EXPECT_EQ(cells->index(4, 2).data().toString(), "90s");
  {
    // Exit asks about the unsaved changes first; Cancel keeps the program and the editor.
    MessageBoxCatcher box("Cancel");
    Form1->Button4->click();
    EXPECT_EQ(box.count, 1);
  }
  EXPECT_FALSE(WindowsRun()->Treatment()->Ending());
  EXPECT_TRUE(editor->isVisible());
  {
    MessageBoxCatcher box("Discard");
    editor->close();
    EXPECT_EQ(box.count, 1);
  }
  EXPECT_FALSE(editor->isVisible());
  EXPECT_EQ(
      ReadAll(file),
      "zelkgen program: Evening\n# my notes\n728      # first\n433  90s\n\n7.83 1:30 \"S\"\n");
}

}  // namespace

namespace {

// New and Duplicate go to the user's program folder, named after the title; rows added, moved
// and removed are undone back to the very text they started from, and redone.
TEST_F(ProgramsAndEditor, NewAndDuplicatedProgramsGoToTheUsersFolderAndRowChangesUndo) {
  const ScratchXdgFolders scratch("zelkgen-editor-");
  ASSERT_TRUE(scratch.Created());
  const std::filesystem::path folder = scratch.Path() / "data" / "zelkgen" / "programs";
  FormPrograms->ShowPrograms();
  ASSERT_EQ(FormPrograms->List()->count(), 2);  // the built-ins alone
  EXPECT_EQ(FormPrograms->List()->currentItem()->text(), "Zelk general (built in)");
  EXPECT_FALSE(FormPrograms->EditButton()->isEnabled());
  const QAbstractItemModel* steps = FormPrograms->Steps()->model();
  ASSERT_EQ(steps->rowCount(), 10);
  // The tenth step starts after nine of three minutes; a built-in step has no label of its own
  // and plays the "Output signal" choice.
  EXPECT_EQ(steps->index(9, 1).data().toString(), "27:00");
  EXPECT_EQ(steps->index(9, 2).data().toString(), "2.008 Hz");
  EXPECT_EQ(steps->index(9, 4).data().toString(), "Output signal");
  EXPECT_EQ(steps->index(9, 6).data().toString(), "");
  EXPECT_TRUE(FormPrograms->Summary()->text().contains("10 steps, 30:00"));

  FormPrograms->DuplicateButton()->click();
  ProgramEditor* editor = FormPrograms->Editor();
  ASSERT_NE(editor, nullptr);
  ASSERT_TRUE(editor->SaveButton()->isEnabled());
  editor->SaveButton()->click();
  TreatmentProgram copy;
  std::vector<std::string> errors;
  ASSERT_TRUE(LoadProgramFile((folder / "zelk-general-copy.zelkgen").string(), &copy, &errors));
  EXPECT_EQ(copy.Name, "Zelk general copy");
  EXPECT_EQ(copy.Steps.size(), 10u);
  EXPECT_EQ(FormPrograms->List()->currentItem()->text(), "Zelk general copy");

  FormPrograms->NewButton()->click();
  const std::string start = editor->Document().Text();
  QAbstractItemModel* cells = editor->Steps()->model();
  ASSERT_EQ(cells->rowCount(), 1);
  editor->Steps()->setCurrentIndex(cells->index(0, 0));
  for (QPushButton* button : editor->findChildren<QPushButton*>()) {
    if (button->text() == "Add step") button->click();
  }
  ASSERT_TRUE(cells->setData(cells->index(1, 0), "440"));
  for (const char* name : {"Move up", "Remove"}) {
    for (QPushButton* button : editor->findChildren<QPushButton*>()) {
      if (button->text() == name) button->click();
    }
  }
  ASSERT_EQ(cells->rowCount(), 1);
  EXPECT_EQ(cells->index(0, 0).data().toString(), "728");  // 440 moved up, then removed
  const std::string end = editor->Document().Text();
  while (editor->Undo()->canUndo()) editor->Undo()->undo();
  EXPECT_EQ(editor->Document().Text(), start);
  while (editor->Undo()->canRedo()) editor->Undo()->redo();
  EXPECT_EQ(editor->Document().Text(), end);
  editor->SaveButton()->click();
  EXPECT_TRUE(std::filesystem::exists(folder / "new-program.zelkgen"));
}

}  // namespace

namespace {

// The program file written with text and opened in the Programs window.
bool OpenProgram(const std::filesystem::path& file, const std::string& text) {
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << text;
  return FormPrograms->OpenFile(QString::fromStdString(file.string()));
}

// The same, then opened in the editor with Edit.
ProgramEditor* EditFile(const std::filesystem::path& file, const std::string& text) {
  if (!OpenProgram(file, text)) return nullptr;
  FormPrograms->EditButton()->click();
  return FormPrograms->Editor();
}

// Every kind of cell takes what is typed into it, keystroke by keystroke, while the live check
// runs; Return or Tab commits it, and Save writes only the words the change touched.
TEST_F(ProgramsAndEditor, WhatIsTypedIntoEachCellIsWhatIsSaved) {
  const ScratchXdgFolders scratch("zelkgen-editor-");
  ASSERT_TRUE(scratch.Created());
  const std::filesystem::path file = scratch.Path() / "data" / "zelkgen" / "programs" / "t.zelkgen";
  const std::string before = "zelkgen program: T\n528 3:00   # keep\n";
  const struct {
    int column;
    const char* typed;
    Qt::Key commit;
    const char* shown;  // the cell afterwards
    const char* line;   // the step's line in the saved file
  } kCases[] = {
      {0, "529", Qt::Key_Return, "529", "529 3:00   # keep"},
      {1, "500", Qt::Key_Tab, "500", "528 -> 500 3:00   # keep"},
      {2, "90s", Qt::Key_Return, "90s", "528 90s   # keep"},
      {3, "sq", Qt::Key_Return, "square", "528 3:00 square   # keep"},
      {4, "50", Qt::Key_Return, "50%", "528 3:00 50%   # keep"},
      {5, "7.83 on 25%", Qt::Key_Return, "7.83 on 25%", "528 3:00 gate 7.83 on 25%   # keep"},
      {6, "25%", Qt::Key_Tab, "25%", "528 3:00 duty 25%   # keep"},
      {7, "Calm", Qt::Key_Return, "Calm", "528 3:00 \"Calm\"   # keep"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.typed);
    ProgramEditor* editor = EditFile(file, before);
    ASSERT_NE(editor, nullptr);
    QWidget* cell = OpenCell(editor, 0, c.column);
    ASSERT_NE(cell, nullptr);
    if (qobject_cast<QLineEdit*>(cell) != nullptr || c.column == 4) {
      QTest::keyClick(cell, Qt::Key_A, Qt::ControlModifier);
    }
    QTest::keyClicks(cell, c.typed);
    const QPointer<QWidget> open = cell;
    QTest::keyClick(cell, c.commit);
    // Return commits from the event loop, Tab at once; either way the cell's editor goes.
    EXPECT_TRUE(QTest::qWaitFor([&open] { return open.isNull(); }, 2000));
    const std::string saved = std::string("zelkgen program: T\n") + c.line + "\n";
    EXPECT_EQ(editor->Document().Text(), saved);
    EXPECT_EQ(editor->Steps()->model()->index(0, c.column).data().toString(), c.shown);
    EXPECT_TRUE(editor->Message()->text().isEmpty()) << editor->Message()->text().toStdString();
    editor->SaveButton()->click();
    EXPECT_EQ(ReadAll(file), saved);
  }
}

// A mistake marks the cell of its own field, and its message names the step and the field; one
// message a mistake. Escape from a cell typed wrong gives the cell back, unmarked, with Save.
TEST_F(ProgramsAndEditor, AMistakeMarksItsOwnCellAndEscapeTakesItBack) {
  const ScratchXdgFolders scratch("zelkgen-editor-");
  ASSERT_TRUE(scratch.Created());
  const std::filesystem::path file = scratch.Path() / "data" / "zelkgen" / "programs" / "m.zelkgen";
  const struct {
    int column;
    const char* typed;
    int marked;
    const char* message;
  } kCases[] = {
      {3, "si", 6, "Step 2, Duty: a duty is for square steps, and this one is sine"},
      {5, "300", 5,
       "Step 2, Gate: a gate's rate is below 264 Hz, half the step's lowest frequency"},
      {1, "0", 1, "Step 2, Glide to: a frequency is above 0 Hz"},
      {6, "150%", 6, "Step 2, Duty: a duty is 1% to 99%"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.typed);
    ProgramEditor* editor = EditFile(file, "zelkgen program: M\n440 1:00\n528 3:00 duty 25%\n");
    ASSERT_NE(editor, nullptr);
    QWidget* cell = OpenCell(editor, 1, c.column);
    ASSERT_NE(cell, nullptr);
    if (qobject_cast<QLineEdit*>(cell) != nullptr) {
      QTest::keyClick(cell, Qt::Key_A, Qt::ControlModifier);
    }
    QTest::keyClicks(cell, c.typed);
    QTest::keyClick(cell, Qt::Key_Tab);
    const QAbstractItemModel* cells = editor->Steps()->model();
    for (int column = 0; column < cells->columnCount(); ++column) {
      EXPECT_EQ(cells->index(1, column).data(Qt::BackgroundRole).isValid(), column == c.marked)
          << column;
    }
    EXPECT_EQ(editor->Message()->text().toStdString(), c.message);
    EXPECT_FALSE(editor->SaveButton()->isEnabled());
    editor->Undo()->undo();
  }

  ProgramEditor* editor = EditFile(file, "zelkgen program: M\n528 3:00\n");
  ASSERT_NE(editor, nullptr);
  QWidget* cell = OpenCell(editor, 0, 0);
  ASSERT_NE(cell, nullptr);
  QTest::keyClick(cell, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClicks(cell, "0");
  EXPECT_EQ(qobject_cast<QLineEdit*>(cell)->text(), "0");
  // The cell being typed in is marked too, right of its text.
  const QImage typed = cell->grab().toImage();
  EXPECT_EQ(typed.pixelColor(typed.width() - 4, typed.height() / 2), QColor(0xF4, 0xC7, 0xC3));
  EXPECT_EQ(editor->Message()->text(), "Step 1, Frequency: a frequency is above 0 Hz");
  EXPECT_FALSE(editor->SaveButton()->isEnabled());
  QTest::keyClick(cell, Qt::Key_Escape);
  // A gate half typed names its step and field while it is typed.
  cell = OpenCell(editor, 0, 5);
  ASSERT_NE(cell, nullptr);
  QTest::keyClicks(cell, "7.83 o");
  EXPECT_EQ(editor->Message()->text().toStdString(),
            "Step 1, Gate: a gate is its rate, or its rate, 'on' and a share: 7.83 or 7.83 on 25%");
  QTest::keyClick(cell, Qt::Key_Escape);
  const QModelIndex frequency = editor->Steps()->model()->index(0, 0);
  EXPECT_EQ(frequency.data().toString(), "528");
  EXPECT_FALSE(frequency.data(Qt::BackgroundRole).isValid());
  EXPECT_TRUE(editor->Message()->text().isEmpty());
  EXPECT_TRUE(editor->SaveButton()->isEnabled());
  EXPECT_TRUE(editor->isVisible());  // the Escape was the cell's, not the window's

  // Escape in the title likewise gives back the title before the edit, the window left open.
  QLineEdit* title = nullptr;
  for (QLineEdit* line : editor->findChildren<QLineEdit*>()) {
    if (line->accessibleName() == "Title") title = line;
  }
  ASSERT_NE(title, nullptr);
  for (const char* typed : {"Evening", ""}) {
    SCOPED_TRACE(typed);
    title->setFocus();
    QTest::keyClick(title, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(title, Qt::Key_Delete);
    QTest::keyClicks(title, typed);
    QTest::keyClick(title, Qt::Key_Escape);
    EXPECT_EQ(title->text(), "M");
    EXPECT_TRUE(editor->Message()->text().isEmpty());
    EXPECT_TRUE(editor->isVisible());
    title->clearFocus();  // leaving the field commits nothing after the Escape
    EXPECT_EQ(editor->Document().Title(), "M");
  }
}

// A file another program wrote while it was open is not written over unasked: the editor says
// so, Save asks, Cancel keeps the other's text and Overwrite writes ours; a saved file says so.
// A list pasted with Ctrl+V while a cell is selected becomes steps after it.
TEST_F(ProgramsAndEditor, SaveAsksBeforeWritingOverAnOutsideChangeAndPasteGoesAfterTheCell) {
  const ScratchXdgFolders scratch("zelkgen-editor-");
  ASSERT_TRUE(scratch.Created());
  const std::filesystem::path file = scratch.Path() / "data" / "zelkgen" / "programs" / "o.zelkgen";
  ProgramEditor* editor = EditFile(file, "zelkgen program: O\n528 3:00\n");
  ASSERT_NE(editor, nullptr);
  editor->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(editor));
  QApplication::clipboard()->setText("440\n432 90s\n");
  const QModelIndex first = editor->Steps()->model()->index(0, 1);
  QTest::mouseClick(editor->Steps()->viewport(), Qt::LeftButton, {},
                    editor->Steps()->visualRect(first).center());
  QTest::keyClick(editor->Steps(), Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(editor->Document().Text(), "zelkgen program: O\n528 3:00\n440\n432 90s\n");

  const std::string theirs = "zelkgen program: O\n111 3:00\n";
  std::ofstream(file, std::ios::binary | std::ios::trunc) << theirs;
  EXPECT_TRUE(QTest::qWaitFor(
      [editor] { return editor->Status()->text().contains("changed on disk"); }, 5000));
  for (const char* answer : {"Cancel", "Overwrite"}) {
    MessageBoxCatcher box(answer);
    editor->SaveButton()->click();
    EXPECT_EQ(box.count, 1) << answer;
    EXPECT_TRUE(box.text.contains("changed on disk")) << box.text.toStdString();
  }
  EXPECT_EQ(ReadAll(file), "zelkgen program: O\n528 3:00\n440\n432 90s\n");
  EXPECT_TRUE(editor->Status()->text().startsWith("Saved o.zelkgen"));
  EXPECT_FALSE(editor->isWindowModified());
}

// A glide is drawn as it sounds: 20 -> 20000 Hz linear in hertz is at 10 010 Hz halfway, nine
// tenths of the way up the log axis's three decades (a straight slope would be at half). In a dark
// palette whose highlight hardly shows, the line takes the palette's link colour.
TEST_F(ProgramsAndEditor, TheTimelineDrawsAGlideAsItSoundsInAColourThatStandsOut) {
  const ScratchXdgFolders scratch("zelkgen-editor-");
  ASSERT_TRUE(scratch.Created());
  const std::filesystem::path file = scratch.Path() / "g.zelkgen";
  std::ofstream(file) << "zelkgen program: G\n20 -> 20000 2m\n";
  QPalette dark = FormPrograms->palette();
  dark.setColor(QPalette::Base, QColor(0x20, 0x20, 0x20));
  dark.setColor(QPalette::Highlight, QColor(0x2a, 0x4d, 0x69));  // 1.9:1 on that base
  dark.setColor(QPalette::Link, QColor(0x4f, 0xa3, 0xff));       // 6.6:1
  FormPrograms->setPalette(dark);
  ASSERT_TRUE(FormPrograms->OpenFile(QString::fromStdString(file.string())));
  ProgramTimeline* timeline = FormPrograms->Timeline();
  EXPECT_EQ(timeline->LineColour(), QColor(0x4f, 0xa3, 0xff));
  const QImage image = timeline->grab().toImage();
  const QRgb line = timeline->LineColour().rgb();
  // The middle of the line's pixels in column x; -1 where it has none.
  const auto line_y = [&](int x) {
    int sum = 0, count = 0;
    for (int y = 0; y < image.height(); ++y) {
      if (image.pixel(x, y) == line) sum += y, ++count;
    }
    return count == 0 ? -1.0 : static_cast<double>(sum) / count;
  };
  int first = -1, last = -1;
  for (int x = 0; x < image.width(); ++x) {
    if (line_y(x) >= 0) (first < 0 ? first : last) = x;
  }
  ASSERT_GT(last - first, 100);
  const double start = line_y(first + 2), end = line_y(last - 2),
               middle = line_y((first + last) / 2);
  ASSERT_GT(start - end, 50);
  EXPECT_NEAR((start - middle) / (start - end), 0.9, 0.05);
}

// A step's label stands clear of its own line, a steep glide too, with the large text of a
// screen scaled by two: drawn in a colour of its own, no pixel of the line lies in its box.
TEST_F(ProgramsAndEditor, ATimelineLabelNeverCrossesItsLine) {
  QPalette colours;
  colours.setColor(QPalette::Base, Qt::black);
  colours.setColor(QPalette::Text, QColor(0, 255, 0));         // the labels and the axes' texts
  colours.setColor(QPalette::Highlight, QColor(255, 0, 255));  // the line, 6.7:1 on black
  colours.setColor(QPalette::Mid, QColor(0, 0, 200));          // the plot's frame and ticks
  colours.setColor(QPalette::Midlight, QColor(0, 0, 90));      // the grid
  const struct {
    const char* step;
    int width, height;
  } kCases[] = {{"20 ~> 20000 2m \"Rise\"", 420, 170},  // steep all along, from the bottom
                {"20000 ~> 20 2m \"Fall\"", 420, 170},  // steep all along, from the top
                {"300 -> 3000 2m \"Rise\"", 300, 140}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.step);
    const ParsedProgram parsed = ParseProgramText(std::string("zelkgen program: P\n") + c.step);
    auto program = std::make_shared<const TreatmentProgram>(parsed.program);
    ProgramTimeline timeline;
    timeline.setPalette(colours);
    QFont large = timeline.font();
    large.setPixelSize(26);
    timeline.setFont(large);
    timeline.resize(c.width, c.height);
    timeline.SetProgram(program, StepStartsMs(*program));
    const QImage image = timeline.grab().toImage();
    const auto box = [&image](const QRect& within, auto is) {
      QRect found;
      for (int y = within.top(); y <= within.bottom(); ++y) {
        for (int x = within.left(); x <= within.right(); ++x)
          if (is(image.pixelColor(x, y))) found |= QRect(x, y, 1, 1);
      }
      return found;
    };
    // The plot is the frame's box; inside it, green is label and red is line.
    const QRect plot = box(image.rect(), [](QColor p) { return p == QColor(0, 0, 200); });
    const QRect label = box(plot.adjusted(1, 1, -1, -1),
                            [](QColor p) { return p.green() > 60 && p.green() > p.red(); });
    ASSERT_GT(label.width(), 20) << "no label drawn";
    EXPECT_TRUE(box(label, [](QColor p) { return p.red() > 60; }).isEmpty())
        << label.x() << "," << label.y() << " " << label.width() << "x" << label.height();
  }
}

// Ctrl with the wheel zooms the time axis around the pointer, a notch showing four fifths of the
// span; the wheel alone is left to the window; a double click and Ctrl+0 show the whole again.
TEST_F(ProgramsAndEditor, TheTimelineZoomsAroundThePointerAndComesBackWhole) {
  const ScratchXdgFolders scratch("zelkgen-editor-");
  ASSERT_TRUE(scratch.Created());
  ASSERT_TRUE(OpenProgram(scratch.Path() / "z.zelkgen",
                          "zelkgen program: Z\n100 1m\n300 1m\n1000 1m\n3000 1m\n"));
  ProgramTimeline* timeline = FormPrograms->Timeline();
  const auto wheel = [timeline](double x, int delta, Qt::KeyboardModifiers modifiers) {
    const QPointF at(x, timeline->height() / 2.0);
    QWheelEvent event(at, timeline->mapToGlobal(at), {}, {0, delta}, Qt::NoButton, modifiers,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(timeline, &event);
    return event.isAccepted();
  };
  const double left = 0, right = timeline->width() - 1;
  const struct {
    double x;
    int delta;
    Qt::KeyboardModifiers modifiers;
    bool accepted;
    qint64 from, to;
  } kCases[] = {
      {left, 120, Qt::ControlModifier, true, 0, 192000},
      {right, 120, Qt::ControlModifier, true, 48000, 240000},
      {right, 240, Qt::ControlModifier, true, 86400, 240000},
      {left, 120, Qt::NoModifier, false, 0, 240000},
      {left, -120, Qt::ControlModifier, true, 0, 240000},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.x << " " << c.delta);
    QTest::mouseDClick(timeline, Qt::LeftButton, {}, timeline->rect().center());
    EXPECT_EQ(wheel(c.x, c.delta, c.modifiers), c.accepted);
    EXPECT_EQ(timeline->ShownFrom(), c.from);
    EXPECT_EQ(timeline->ShownTo(), c.to);
  }

  // Inside the plot the time under the pointer stays put: at share s of the plot, the span's
  // start moves to s * 48 000 ms after one notch and s * 86 400 ms after two.
  QTest::keyClick(timeline, Qt::Key_0, Qt::ControlModifier);
  ASSERT_TRUE(wheel(timeline->width() / 2.0, 120, Qt::ControlModifier));
  const qint64 first = timeline->ShownFrom();
  ASSERT_TRUE(wheel(timeline->width() / 2.0, 120, Qt::ControlModifier));
  EXPECT_GT(first, 10000);
  EXPECT_LT(first, 38000);
  EXPECT_NEAR(static_cast<double>(timeline->ShownFrom()) / first, 1.8, 0.001);

  // Zoomed into the first minute the plot shows 100 Hz alone: one height of line.
  const auto line_height = [timeline] {
    const QImage image = timeline->grab().toImage();
    const QRgb line = timeline->LineColour().rgb();
    int top = image.height(), bottom = -1;
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) {
        if (image.pixel(x, y) == line) top = std::min(top, y), bottom = std::max(bottom, y);
      }
    }
    return bottom - top;
  };
  QTest::keyClick(timeline, Qt::Key_0, Qt::ControlModifier);
  EXPECT_EQ(timeline->ShownTo(), 240000);
  EXPECT_GT(line_height(), 10);
  ASSERT_TRUE(wheel(left, 120 * 7, Qt::ControlModifier));  // 0.8^7 of 4 minutes: 50 s
  EXPECT_LT(timeline->ShownTo(), 60000);
  EXPECT_LE(line_height(), 2);
}

// The plot is saved as a PNG of its size, over an older file whole; a file that cannot be written
// says why and leaves nothing behind.
TEST_F(ProgramsAndEditor, ThePlotIsSavedAsPngWholeOrNotAtAll) {
  const ScratchXdgFolders scratch("zelkgen-editor-");
  ASSERT_TRUE(scratch.Created());
  ASSERT_TRUE(OpenProgram(scratch.Path() / "p.zelkgen", "zelkgen program: P\n440 1m\n528 1m\n"));
  ProgramTimeline* timeline = FormPrograms->Timeline();
  std::ofstream(scratch.Path() / "old.png") << "older bytes";
  std::filesystem::create_directory(scratch.Path() / "folder.png");
  const struct {
    const char* name;
    bool saved;
  } kCases[] = {
      {"new.png", true},
      {"old.png", true},
      {"missing/plot.png", false},
      {"folder.png", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::filesystem::path path = scratch.Path() / c.name;
    const QString error = timeline->SavePlot(QString::fromStdString(path.string()));
    EXPECT_EQ(error.isEmpty(), c.saved) << error.toStdString();
    const QImage image(QString::fromStdString(path.string()));
    if (c.saved) {
      EXPECT_EQ(image.size(), timeline->size() * timeline->devicePixelRatio());
      int line_pixels = 0;
      for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
          line_pixels += image.pixel(x, y) == timeline->LineColour().rgb();
      }
      EXPECT_GT(line_pixels, 100);
    } else {
      EXPECT_TRUE(image.isNull());
      EXPECT_TRUE(error.contains(c.name)) << error.toStdString();
    }
  }
  EXPECT_FALSE(std::filesystem::exists(scratch.Path() / "missing"));
  EXPECT_TRUE(std::filesystem::is_empty(scratch.Path() / "folder.png"));
}

// At the size the Programs window takes on a 1024 x 768 screen, a gated step's long shape text
// is cut short rather than pushing the Label column out of view.
TEST_F(ProgramsAndEditor, TheLabelColumnStaysInViewBesideALongShape) {
  const ScratchXdgFolders scratch("zelkgen-editor-");
  ASSERT_TRUE(scratch.Created());
  FormPrograms->resize(588, 535);
  ASSERT_TRUE(
      OpenProgram(scratch.Path() / "l.zelkgen",
                  "zelkgen program: L\n440 3m square gate 7.83 on 25% duty 10% \"Calm\"\n"));
  QTableView* table = FormPrograms->Steps();
  const int label = table->model()->columnCount() - 1;
  EXPECT_LE(table->columnViewportPosition(label) + 40, table->viewport()->width());
}

// Every column but the label's is as wide as its header's text and the text it usually holds
// (the program's shape, a gate with its share), in fonts whose letters are wide beside digits
// or whose digits are a few pixels wide.
TEST_F(ProgramsAndEditor, EveryHeaderAndUsualCellTextFitsItsColumn) {
  const ScratchXdgFolders scratch("zelkgen-editor-");
  ASSERT_TRUE(scratch.Created());
  ProgramEditor* editor = EditFile(scratch.Path() / "h.zelkgen",
                                   "zelkgen program: H\n528 -> 2000 3:00 50% gate 7.83 on 25%\n");
  ASSERT_NE(editor, nullptr);
  QHeaderView* header = editor->Steps()->horizontalHeader();
  QStyle* style = header->style();
  for (const QFont& font : {QFont("DejaVu Sans Mono", 10), QFont("DejaVu Sans", 7)}) {
    SCOPED_TRACE(font.family().toStdString());
    editor->setFont(font);
    const QFontMetrics metrics(header->font());
    // A header's margins, and a cell's beside its grid line.
    const int header_margins = 2 * style->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
    const int cell_margins = 2 * (style->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1) + 1;
    for (int column = 0; column < header->count() - 1; ++column) {
      const QString title = header->model()->headerData(column, Qt::Horizontal).toString();
      const QString cell = header->model()->index(0, column).data().toString();
      EXPECT_GE(header->sectionSize(column), metrics.horizontalAdvance(title) + header_margins)
          << title.toStdString();
      EXPECT_GE(header->sectionSize(column), metrics.horizontalAdvance(cell) + cell_margins)
          << cell.toStdString();
    }
  }
}

// A quit signal while a new or duplicated program is being typed (in its title or in a cell)
// ends the program in order; the unsaved program is not written.
TEST_F(ProgramsAndEditor, AQuitSignalWhileANewProgramIsTypedEndsCleanly) {
  const struct {
    int signal_number;
    bool duplicate;
    bool in_cell;
  } kCases[] = {
      {SIGTERM, false, false}, {SIGHUP, false, true}, {SIGINT, true, false}, {SIGTERM, true, true}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.signal_number << " " << c.duplicate << c.in_cell);
    const ScratchXdgFolders scratch("zelkgen-editor-");
    ASSERT_TRUE(scratch.Created());
    FormPrograms->ShowPrograms();
    (c.duplicate ? FormPrograms->DuplicateButton() : FormPrograms->NewButton())->click();
    ProgramEditor* editor = FormPrograms->Editor();
    ASSERT_NE(editor, nullptr);
    editor->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(editor));
    QWidget* typing = nullptr;
    if (c.in_cell) {
      typing = OpenCell(editor, 0, 7);
    } else {
      for (QLineEdit* line : editor->findChildren<QLineEdit*>()) {
        if (line->accessibleName() == "Title") typing = line;
      }
    }
    ASSERT_NE(typing, nullptr);
    typing->setFocus();
    QTest::keyClicks(typing, "Evening");
    bool ended = false;
    QObject::connect(Form1, &TForm1::EndRequested, [&ended] { ended = true; });
    ASSERT_EQ(std::raise(c.signal_number), 0);
    ASSERT_TRUE(QTest::qWaitFor([&ended] { return ended; }, 5000));
    DestroyWindows();
    EXPECT_FALSE(std::filesystem::exists(scratch.Path() / "data" / "zelkgen" / "programs"));
    CreateWindows();
    InstallEndHandlers();
    Form1->show();
  }
}

}  // namespace
