// The Programs window and the program editor, as a new user goes: a program file selected shows
// its steps, Edit opens it, a wrong frequency is marked with the parser's message and blocks
// Save, undo takes it back, a right one is saved touching only its line, a pasted list becomes
// steps, and closing with unsaved changes asks.
#include "program_editor.h"

#include <QAbstractItemModel>
#include <QClipboard>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QUndoStack>
#include <fstream>
#include <sstream>
#include <tuple>

#include "app_fixture.h"
#include "program_file.h"
#include "program_timeline.h"
#include "programs_window.h"
#include "radio_group.h"
#include "scratch_dir.h"

namespace {

class ProgramsAndEditor : public WindowsTest {};

// How often the timeline's most highlighted row changes between the line's colour and another:
// twice for an unbroken line, many times for a broken one.
int LineBreaks(QWidget* timeline) {
  const QImage image = timeline->grab().toImage();
  const QRgb line = timeline->palette().color(QPalette::Highlight).rgb();
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
  EXPECT_TRUE(editor->Message()->text().contains("Line 4, column 1: a frequency is above 0 Hz"))
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
