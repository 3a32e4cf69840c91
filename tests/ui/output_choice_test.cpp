// The Programs window's "Output:" as a user works it: a choice clicked in its list is remembered
// in a state folder that stays private (so the recent list and the one-copy lock keep working),
// and a remembered name of any length never widens the window.
#include "output_choice.h"

#include <sys/stat.h>

#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListView>
#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "app_fixture.h"
#include "audio_output.h"
#include "child_process.h"
#include "generator_dialog.h"
#include "generator_emulator.h"
#include "private_folder.h"
#include "private_pulse.h"
#include "programs_window.h"

namespace {

using OutputChoiceTest = WindowsTest;

mode_t ModeOf(const std::filesystem::path& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) return 0;
  return info.st_mode & 07777;
}

// Opens the combo's list with a click, goes down or up to the row and takes it with Return.
void ChooseRow(QComboBox* box, int row) {
  QTest::mouseClick(box, Qt::LeftButton);
  QAbstractItemView* view = box->view();
  QTRY_VERIFY(view->isVisible());
  for (int k = box->currentIndex(); k < row; ++k) QTest::keyClick(view, Qt::Key_Down);
  for (int k = box->currentIndex(); k > row; --k) QTest::keyClick(view, Qt::Key_Up);
  QTest::keyClick(view, Qt::Key_Return);
}

// The windows made anew, as at the next start, with the Programs window up.
void StartAgain() {
  DestroyWindows();
  CreateWindows();
  InstallEndHandlers();
  FormPrograms->show();
}

TEST_F(OutputChoiceTest, AChoiceOnAFreshAccountKeepsTheStateFolderPrivate) {
  const ScratchXdgFolders scratch("zelkgen-output-");
  ASSERT_TRUE(scratch.Created());
  FormPrograms->show();
  auto* box = FormPrograms->findChild<QComboBox*>("OutputBox");
  ASSERT_NE(box, nullptr);
  QTest::qWait(300);  // the outputs are asked off the window's thread
  ChooseRow(box, 0);
  const std::filesystem::path state = scratch.Path() / "state";
  EXPECT_EQ(ModeOf(state), 0700u);
  EXPECT_EQ(ModeOf(state / "zelkgen"), 0700u);
  EXPECT_EQ(ModeOf(state / "zelkgen" / "output"), 0600u);
  EXPECT_EQ(ReadFile(state / "zelkgen" / "output"), "\n");
  std::string why;
  EXPECT_FALSE(PrivateStateFolder(false, &why).empty()) << why;
}

TEST_F(OutputChoiceTest, ARememberedNameOfAnyLengthLeavesTheWindowsWidth) {
  const ScratchXdgFolders scratch("zelkgen-output-");
  ASSERT_TRUE(scratch.Created());
  const auto width_with = [](const std::string& name) {
    std::string why;
    EXPECT_TRUE(WriteStateFile("output", name + "\n", &why)) << why;
    StartAgain();
    QTest::qWait(100);
    return FormPrograms->frameGeometry().width();
  };
  const int short_name = width_with("Amp");
  EXPECT_EQ(width_with(std::string(300, 'w')), short_name);
  EXPECT_EQ(width_with(std::string(4000, 'w')), short_name);
}

// Two outputs with one description, told apart by SDL as "Twin" and "Twin (2)" in the order the
// server lists them: the one chosen is found again by its own name after both were loaded anew
// in the other order (their places in the list swapped), at the next start.
TEST_F(OutputChoiceTest, AChosenTwinIsFoundAgainAfterTheTwinsSwappedPlaces) {
  PrivatePulse pulse;
  std::string why;
  if (!pulse.StartForSdl(&why) || !pulse.LoadSink("twin_a", "Twin") ||
      !pulse.LoadSink("twin_b", "Twin")) {
    setenv("SDL_AUDIODRIVER", "disk", 1);
    GTEST_SKIP() << "no private PulseAudio with twin sinks: " << why;
  }
  const ScratchXdgFolders scratch("zelkgen-output-");
  ASSERT_TRUE(scratch.Created());
  // A start of the windows, once the outputs are listed in Output:.
  QComboBox* box = nullptr;
  const auto start = [&box] {
    StartAgain();
    box = FormPrograms->findChild<QComboBox*>("OutputBox");
    // Listed: both twins beside the default (a remembered output alone makes two items).
    QTRY_VERIFY_WITH_TIMEOUT(box->findText("Twin") >= 0 && box->findText("Twin (2)") >= 0, 10000);
  };
  start();
  ChooseRow(box, box->findText("Twin (2)"));
  EXPECT_EQ(AudioOutputChosenDevice(), "Twin (2)");
  ASSERT_TRUE(pulse.UnloadSinks());
  ASSERT_TRUE(pulse.LoadSink("twin_b", "Twin") && pulse.LoadSink("twin_a", "Twin"));
  start();
  EXPECT_EQ(AudioOutputChosenDevice(), "Twin");
  EXPECT_EQ(box->currentText(), "Twin");
  setenv("SDL_AUDIODRIVER", "disk", 1);
}

// Replaces what a field holds, typed as a user does.
void TypeInto(QLineEdit* field, const QString& text) {
  QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClicks(field, text);
}

// A generator added through "Add a generator…": every entry OK refuses says why and leaves the
// dialog up; the one it takes is chosen, named in the step window, remembered after the sound
// output's two lines (which the file held from before and still gives), chosen again at the next
// start though its port is gone, and given up for a sound output chosen after it.
TEST_F(OutputChoiceTest, AnAddedGeneratorIsCheckedChosenAndRememberedBesideTheSoundOutput) {
  const ScratchXdgFolders scratch("zelkgen-output-");
  ASSERT_TRUE(scratch.Created());
  const std::filesystem::path file = scratch.Path() / "state" / "zelkgen" / "output";
  std::string why;
  ASSERT_TRUE(WriteStateFile("output", "Speakers\nalsa_output.speakers\n", &why)) << why;
  auto emulator = std::make_unique<FyEmulator>(EmulatorBehaviour{});
  const QString name = QString::fromStdString(emulator->Name());
  const QString port = name.mid(3);  // typed without its family's prefix
  StartAgain();
  auto* box = FormPrograms->findChild<QComboBox*>("OutputBox");
  ASSERT_NE(box, nullptr);
  QTest::qWait(300);  // the outputs are asked off the window's thread
  ChooseRow(box, box->findText("Add a generator\u2026"));
  GeneratorDialog* dialog = nullptr;
  QTRY_VERIFY((dialog = FormPrograms->findChild<GeneratorDialog*>()) && dialog->isVisible());
  const struct {
    int family;  // FY6x00, JDS6600, SCPI
    QString address, amplitude, offset;
    QString problem;
  } entries[] = {
      {0, "ttyUSB0", "1", "0",
       "'fy:ttyUSB0': a serial generator is named by its port's path (/dev/ttyUSB0)."},
      {1, "scpi:192.0.2.10", "1", "0", "'scpi:192.0.2.10' is not a name of the JDS6600 family."},
      {0, port, "1,5", "0", "'1,5' is not an amplitude in volts (1.5)."},
      {0, port, "25", "0",
       "An amplitude of 25.000 V peak to peak is above the 20.000 V FY6x00 allows."},
      {0, port, "4", "nan", "'nan' is not an offset in volts (0, -0.5)."},
      {0, port, "4", "8.5",
       "An offset of 8.500 V with 4.000 V peak to peak goes beyond the FY6x00's range of "
       "+-10.000 V."},
      {0, port, "2.5", "-1", ""},
  };
  for (const auto& entry : entries) {
    SCOPED_TRACE(entry.problem.toStdString());
    ChooseRow(dialog->familyBox, entry.family);
    TypeInto(dialog->addressEdit, entry.address);
    TypeInto(dialog->amplitudeEdit, entry.amplitude);
    TypeInto(dialog->offsetEdit, entry.offset);
    QTest::mouseClick(dialog->buttonBox->button(QDialogButtonBox::Ok), Qt::LeftButton);
    EXPECT_EQ(dialog->problemLabel->text(), entry.problem);
    EXPECT_EQ(dialog->isVisible(), !entry.problem.isEmpty());
  }
  EXPECT_EQ(box->currentText(), name);
  const std::string lines = "generator 2.5 -1 " + name.toStdString() + "\n";
  const std::string chosen_line = "chosen " + name.toStdString() + "\n";
  EXPECT_EQ(ReadFile(file), "Speakers\nalsa_output.speakers\n" + lines + chosen_line);
  EXPECT_EQ(RememberedOutput(), "Speakers");
  // A sound output chosen gives the generator up but keeps it in the list.
  std::string chosen;
  GeneratorSettings settings;
  ChooseRow(box, 0);
  EXPECT_FALSE(ChosenGenerator(&chosen, &settings));
  EXPECT_EQ(ReadFile(file), "\n\n" + lines);
  ChooseRow(box, box->findText(name));
  EXPECT_EQ(ReadFile(file), "\n\n" + lines + chosen_line);
  // The step window's tooltip names the generator.
  QString tooltip;
  StepDriver driver([&](int) {
    QElapsedTimer waited;
    waited.start();
    while (Form3->toolTip().isEmpty() && waited.elapsed() < 5000) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    if (tooltip.isEmpty()) tooltip = Form3->toolTip();
    ClickSkip();
  });
  Form1->Button5->click();
  EXPECT_TRUE(tooltip.endsWith("\nOutput: " + name)) << tooltip.toStdString();
  // The run played on the generator, each step's frequency to the microhertz, and left it off.
  std::vector<std::string> frequencies, switches;
  for (const std::string& command : emulator->Commands()) {
    if (command.rfind("WMF", 0) == 0) frequencies.push_back(command);
    if (command.rfind("WMN", 0) == 0) switches.push_back(command);
  }
  EXPECT_EQ(frequencies, (std::vector<std::string>{"WMF00002128000000", "WMF00003713000000"}));
  ASSERT_FALSE(switches.empty());
  EXPECT_EQ(switches.back(), "WMN0");
  // The next start chooses it again, its port gone, with its volts.
  emulator.reset();
  StartAgain();
  box = FormPrograms->findChild<QComboBox*>("OutputBox");
  QTest::qWait(300);
  EXPECT_EQ(box->currentText(), name + " (not found)");
  ASSERT_TRUE(ChosenGenerator(&chosen, &settings));
  EXPECT_EQ(chosen, name.toStdString());
  EXPECT_EQ(settings.AmplitudeVpp, 2.5);
  EXPECT_EQ(settings.OffsetVolts, -1.0);
}

}  // namespace
