// The Programs window's "Output:" as a user works it: a choice clicked in its list is remembered
// in a state folder that stays private (so the recent list and the one-copy lock keep working),
// and a remembered name of any length never widens the window.
#include <sys/stat.h>

#include <QComboBox>
#include <QListView>
#include <QTest>
#include <string>

#include "app_fixture.h"
#include "audio_output.h"
#include "child_process.h"
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

// Opens the combo's list with a click, goes down to the row and takes it with Return.
void ChooseRow(QComboBox* box, int row) {
  QTest::mouseClick(box, Qt::LeftButton);
  QAbstractItemView* view = box->view();
  QTRY_VERIFY(view->isVisible());
  for (int k = box->currentIndex(); k < row; ++k) QTest::keyClick(view, Qt::Key_Down);
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

}  // namespace
