// The treatment run behind the program buttons: steps, Skip, the step timer, the audio error
// message and what each way of ending a step leaves behind. Steps are ended from inside the
// modal display instead of waiting three minutes.
#include <sys/stat.h>

#include <QCursor>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QListWidget>
#include <QMimeData>
#include <QRadioButton>
#include <QTest>
#include <QThread>
#include <QToolTip>
#include <QUrl>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app_fixture.h"
#include "audio_output.h"
#include "audio_output_testing.h"
#include "ddfs.h"
#include "program_file.h"
#include "program_timeline.h"
#include "programs_window.h"
#include "scratch_dir.h"
#include "step_sound.h"

namespace {

struct Expected {
  long double frequency;
  int position;
  const char* display;
};

// The programs as the user sees them; the positions are 100 * k / n.
const std::vector<Expected> kZelkGeneral = {{10000.0L, 10, "10000HZ"}, {5000.0L, 20, "5000HZ"},
                                            {1800.0L, 30, "1800HZ"},   {1500.0L, 40, "1500HZ"},
                                            {690.0L, 50, "690HZ"},     {650.0L, 60, "650HZ"},
                                            {600.0L, 70, "600HZ"},     {465.0L, 80, "465HZ"},
                                            {2.165L, 90, "2.165HZ"},   {2.008L, 100, "2.008HZ"}};
const std::vector<Expected> kBXVirus = {{2128.0L, 50, "2128HZ"}, {3713.0L, 100, "3713HZ"}};

void ExpectSteps(const std::vector<StepSeen>& seen, const std::vector<Expected>& expected) {
  ASSERT_EQ(seen.size(), expected.size());
  for (size_t k = 0; k < expected.size(); ++k) {
    SCOPED_TRACE(testing::Message() << "step " << k + 1);
    EXPECT_EQ(seen[k].display, QString(expected[k].display));
    EXPECT_EQ(seen[k].status, QString("Current: ") + expected[k].display);
    EXPECT_EQ(seen[k].position, expected[k].position);
    EXPECT_EQ(seen[k].position, 100 * static_cast<int>(k + 1) / static_cast<int>(expected.size()));
    EXPECT_EQ(seen[k].frequency, expected[k].frequency);
    EXPECT_TRUE(seen[k].main_label1.isEmpty());
    EXPECT_TRUE(seen[k].timer_on);
    // A fresh period starts with every step.
    EXPECT_GT(seen[k].timer_remaining, 179000);
  }
}

void ExpectCompletedRun() {
  EXPECT_EQ(Form1->Label1->text(), "End");
  EXPECT_TRUE(Form1->Label8->text().isEmpty());
  EXPECT_EQ(Form1->ProgressBar1->value(), 0);
  EXPECT_FALSE(Form1->Timer1->isActive());
  EXPECT_FALSE(Form3->isVisible());
  EXPECT_FALSE(WindowsRun()->Treatment()->StepRunning());
}

// The output must have been released: a fresh initialisation succeeds.
void ExpectOutputReleased() {
  EXPECT_NE(BASS_Init(-1, 44100, 0, nullptr, nullptr), 0) << "code " << BASS_ErrorGetCode();
  BASS_Free();
}

using TreatmentRun = WindowsTest;

TEST_F(TreatmentRun, ZelkGeneralWithoutSkipPlaysTenStepsAndEnds) {
  StepDriver driver([](int) { FireTimer1(); });
  Form1->Button6->click();
  ExpectSteps(driver.seen, kZelkGeneral);
  ExpectCompletedRun();
  EXPECT_FALSE(Form1->ToneGen1->Loop());
  ExpectOutputReleased();
}

TEST_F(TreatmentRun, BXVirusMovesTheBarToFiftyThenHundredThenZero) {
  StepDriver driver([](int) { FireTimer1(); });
  Form1->Button5->click();
  ExpectSteps(driver.seen, kBXVirus);
  ExpectCompletedRun();
  ExpectOutputReleased();
}

TEST_F(TreatmentRun, SkipInStepThreeStartsStepFourWithAFullPeriod) {
  StepDriver driver([](int k) { k == 2 ? ClickSkip() : FireTimer1(); });
  Form1->Button6->click();
  ExpectSteps(driver.seen, kZelkGeneral);
  ASSERT_GE(driver.seen.size(), 4u);
  EXPECT_EQ(driver.seen[3].status, "Current: 1500HZ");
  EXPECT_EQ(driver.seen[3].position, 40);
  ExpectCompletedRun();
}

TEST_F(TreatmentRun, SkipInTheLastStepEndsTheRunAtOnce) {
  StepDriver driver([](int) { ClickSkip(); });
  Form1->Button5->click();
  ExpectSteps(driver.seen, kBXVirus);
  ExpectCompletedRun();
  EXPECT_FALSE(Form1->ToneGen1->Loop());
  ExpectOutputReleased();
}

TEST_F(TreatmentRun, ASecondRunClearsEndAtTheClickAndKeepsTheBarUntilTheFirstStep) {
  {
    StepDriver driver([](int) { FireTimer1(); });
    Form1->Button5->click();
  }
  ASSERT_EQ(Form1->Label1->text(), "End");
  StepDriver driver([](int) { FireTimer1(); });
  Form1->Button6->click();
  ASSERT_FALSE(driver.seen.empty());
  EXPECT_TRUE(driver.seen[0].main_label1.isEmpty());
  EXPECT_EQ(driver.seen[0].position, 10);
  ExpectCompletedRun();
}

TEST_F(TreatmentRun, LabelsGrowToTheRightFromTheirStoredLeftEdge) {
  StepDriver driver([](int) {
    EXPECT_EQ(Form1->Label8->x(), 304);
    EXPECT_EQ(Form1->Label8->y(), 144);
    EXPECT_GE(Form1->Label8->width(),
              Form1->Label8->fontMetrics().horizontalAdvance(Form1->Label8->text()));
    EXPECT_EQ(Form3->Label1->x(), 88);
    EXPECT_GE(Form3->Label1->width(),
              Form3->Label1->fontMetrics().horizontalAdvance(Form3->Label1->text()));
    FireTimer1();
  });
  Form1->Button5->click();
  EXPECT_EQ(driver.seen.size(), 2u);
  EXPECT_EQ(Form1->Label1->x(), 320);
  EXPECT_GE(Form1->Label1->width(), Form1->Label1->fontMetrics().horizontalAdvance("End"));
}

// A label that fits the window's width shows whole, moved left only as far as it must; only one
// wider than the window is shortened, with the whole text as its tooltip.
TEST_F(TreatmentRun, TheStepLabelUsesTheWindowsWidthAndIsShortenedOnlyWhereItMust) {
  const QFontMetrics metrics = Form3->Label1->fontMetrics();
  const int right = Form3->width() - 8;
  // Sixteen characters that do not fit from the stored left edge but fit in the window.
  QString sixteen = "Evening calm 7Hz";
  ASSERT_EQ(sixteen.size(), 16);
  ASSERT_GT(88 + metrics.horizontalAdvance(sixteen), right);
  ASSERT_LT(metrics.horizontalAdvance(sixteen), right - 8);
  const struct {
    QString text;
    bool whole;
  } cases[] = {{"2128HZ", true}, {sixteen, true}, {QString(40, 'W'), false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.toStdString());
    QTimer::singleShot(0, Form3, [&] {
      const QLabel* label = Form3->Label1;
      EXPECT_EQ(label->text() == c.text, c.whole) << label->text().toStdString();
      EXPECT_EQ(label->toolTip(), c.whole ? QString() : c.text);
      if (c.text == "2128HZ") {
        EXPECT_EQ(label->x(), 88);
      }
      EXPECT_GE(label->x(), 8);
      EXPECT_LE(label->x() + metrics.horizontalAdvance(label->text()), right);
      if (!c.whole) {
        EXPECT_TRUE(label->text().endsWith(QChar(0x2026)));
      }
      Form3->CloseStepDisplay();
    });
    Form3->ShowStep(c.text, Form1);
  }
}

// The tooltip and accessible description of the bar and of the step window, which must agree.
QString TimeLeftHint() {
  const QString hint = Form1->ProgressBar1->toolTip();
  EXPECT_EQ(Form1->ProgressBar1->accessibleDescription(), hint);
  // The step window names the output besides.
  EXPECT_EQ(Form3->toolTip(), hint.isEmpty() ? hint : hint + "\nOutput: default output");
  EXPECT_EQ(Form3->accessibleDescription(), Form3->toolTip());
  return hint;
}

TEST_F(TreatmentRun, TheBarAndTheStepWindowTellTheStepAndItsTimeLeftSecondBySecond) {
  EXPECT_TRUE(TimeLeftHint().isEmpty());
  std::vector<std::string> a_second_later, tooltip_shown;
  // The pointer rests on the bar, which the step's modal window keeps from any pointer event.
  QCursor::setPos(Form1->ProgressBar1->mapToGlobal(Form1->ProgressBar1->rect().center()));
  StepDriver driver([&](int) {
    // Whenever the hint changes next, a three-minute step has 2:59 left.
    const QString shown = TimeLeftHint();
    QElapsedTimer waited;
    waited.start();
    while (TimeLeftHint() == shown && waited.elapsed() < 10000) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
      QThread::msleep(5);
    }
    a_second_later.push_back(TimeLeftHint().toStdString());
    tooltip_shown.push_back(QToolTip::isVisible() ? QToolTip::text().toStdString() : "");
    FireTimer1();
  });
  const QRect bar = Form1->ProgressBar1->geometry();
  Form1->Button5->click();
  ASSERT_EQ(driver.seen.size(), 2u);
  EXPECT_EQ(driver.seen[0].bar_hint, "Step 1 of 2, 3:00 left");
  EXPECT_EQ(driver.seen[1].bar_hint, "Step 2 of 2, 3:00 left");
  EXPECT_EQ(tooltip_shown, a_second_later);
  EXPECT_EQ(a_second_later,
            (std::vector<std::string>{"Step 1 of 2, 2:59 left", "Step 2 of 2, 2:59 left"}));
  // No step plays: no hint, and the bar stands where it stood.
  EXPECT_TRUE(TimeLeftHint().isEmpty());
  EXPECT_EQ(Form1->ProgressBar1->geometry(), bar);
  QCursor::setPos(0, 0);
}

// --- Failures of the audio output -------------------------------------------------------------

TEST_F(TreatmentRun, InitFailingInTheFirstStepShowsTheCodeAndLeavesTheBarAlone) {
  Form1->ProgressBar1->setValue(30);
  MessageBoxCatcher box;
  StepDriver driver([](int) { FireTimer1(); });
  AudioOutputFailNextForTesting(AudioCall::Init, 77);
  Form1->Button6->click();
  EXPECT_EQ(box.count, 1);
  EXPECT_EQ(box.text, "BASS.dll error!\r\n(error code: 77)");
  EXPECT_EQ(box.icon, QMessageBox::NoIcon);
  EXPECT_EQ(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
  EXPECT_EQ(box.parent, Form1);
  EXPECT_EQ(box.title, QGuiApplication::applicationDisplayName());
  EXPECT_TRUE(driver.seen.empty());
  EXPECT_TRUE(Form1->Label8->text().isEmpty());
  EXPECT_TRUE(Form1->Label1->text().isEmpty());
  EXPECT_EQ(Form1->ProgressBar1->value(), 30);
  EXPECT_FALSE(Form1->Timer1->isActive());
  ExpectOutputReleased();
}

TEST_F(TreatmentRun, ANegativeCodeIsShownWithItsSign) {
  MessageBoxCatcher box;
  AudioOutputFailNextForTesting(AudioCall::Init, -1);
  Form1->Button5->click();
  EXPECT_EQ(box.text, "BASS.dll error!\r\n(error code: -1)");
}

TEST_F(TreatmentRun, StreamCreateFailingInStepTwoOfBXVirusKeepsThatStepsTexts) {
  MessageBoxCatcher box;
  {
    StepDriver driver([](int) {
      AudioOutputFailNextForTesting(AudioCall::StreamCreate, 5);
      FireTimer1();
    });
    Form1->Button5->click();
    EXPECT_EQ(driver.seen.size(), 1u);
  }
  EXPECT_EQ(box.count, 1);
  EXPECT_EQ(box.text, "User-Stream kann nicht angelegt werden!\r\n(error code: 5)");
  EXPECT_EQ(Form1->Label8->text(), "Current: 3713HZ");
  EXPECT_EQ(Form1->ProgressBar1->value(), 100);
  EXPECT_TRUE(Form1->Label1->text().isEmpty());
  EXPECT_FALSE(Form1->Timer1->isActive());
  EXPECT_EQ(Form1->StreamHandle, 0u);
  EXPECT_FALSE(Form3->isVisible());
  // The failed step's output was released, so a new run starts and plays at once.
  StepDriver again([](int) { FireTimer1(); });
  Form1->Button5->click();
  EXPECT_EQ(again.seen.size(), 2u);
  ExpectCompletedRun();
}

TEST_F(TreatmentRun, ChannelPlayFailingInTheFirstStepEndsTheRunAndANewRunPlays) {
  MessageBoxCatcher box;
  StepDriver driver([](int) { FireTimer1(); });
  AudioOutputFailNextForTesting(AudioCall::ChannelPlay, 2);
  Form1->Button6->click();
  EXPECT_EQ(box.count, 1);
  // Below the message and code of an output that could not be had, what to check.
  EXPECT_EQ(box.text,
            "Wiedergabe kann nicht gestartet werden.\r\n(error code: 2)\r\n\r\nNo sound "
            "output could be opened. Check that a sound server is running, that an "
            "output device is connected and switched on, and that it is not muted in "
            "the mixer.");
  EXPECT_TRUE(driver.seen.empty());
  EXPECT_EQ(Form1->Label8->text(), "Current: 10000HZ");
  EXPECT_EQ(Form1->ProgressBar1->value(), 10);
  EXPECT_TRUE(Form1->Label1->text().isEmpty());
  EXPECT_FALSE(Form1->Timer1->isActive());
  ExpectOutputReleased();
  Form1->Button6->click();
  EXPECT_EQ(driver.seen.size(), 10u);
  ExpectCompletedRun();
}

TEST_F(TreatmentRun, WithoutAnyDeviceTheFirstStepFailsAndTheNextRunPlaysOnceOneIsThere) {
  // No driver of this name exists, so SDL reaches no device at all.
  setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  MessageBoxCatcher box;
  StepDriver driver([](int) { FireTimer1(); });
  Form1->Button5->click();
  EXPECT_EQ(box.count, 1);
  EXPECT_TRUE(box.text.startsWith("BASS.dll error!\r\n(error code: ")) << box.text.toStdString();
  EXPECT_FALSE(box.text.endsWith("(error code: 0)"));
  EXPECT_TRUE(driver.seen.empty());
  EXPECT_TRUE(Form1->isEnabled());
  setenv("SDL_AUDIODRIVER", "disk", 1);
  Form1->Button5->click();
  EXPECT_EQ(box.count, 1);
  EXPECT_EQ(driver.seen.size(), 2u);
  ExpectCompletedRun();
}

// --- Closing the Current frequency window -----------------------------------------------------

TEST_F(TreatmentRun, TheCloseBoxEndsTheRunInSilenceOnceConfirmed) {
  MessageBoxCatcher answer(TForm3::kEndRunButton);
  StepDriver driver([](int k) { k == 1 ? void(Form3->close()) : FireTimer1(); });
  Form1->Button6->click();
  EXPECT_EQ(answer.count, 1);
  EXPECT_EQ(answer.text, TForm3::kEndRunQuestion);
  EXPECT_EQ(driver.seen.size(), 2u);  // no further step
  EXPECT_TRUE(Form1->Label8->text().isEmpty());
  EXPECT_TRUE(Form1->Label1->text().isEmpty());
  EXPECT_EQ(Form1->ProgressBar1->value(), 0);
  EXPECT_FALSE(Form1->Timer1->isActive());
  EXPECT_FALSE(Form3->isVisible());
  ExpectOutputReleased();
}

TEST_F(TreatmentRun, EscapeEndsTheRunLikeTheCloseBox) {
  MessageBoxCatcher answer(TForm3::kEndRunButton);
  StepDriver driver([](int) {
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(Form3, &escape);
  });
  Form1->Button5->click();
  EXPECT_EQ(driver.seen.size(), 1u);
  EXPECT_TRUE(Form1->Label8->text().isEmpty());
  EXPECT_EQ(Form1->ProgressBar1->value(), 0);
  EXPECT_FALSE(Form1->Timer1->isActive());
  ExpectOutputReleased();
}

TEST_F(TreatmentRun, ClosingAsksWithContinueTheDefaultAndTheStepPlaysOnMeanwhile) {
  MessageBoxCatcher answer(TForm3::kContinueButton);
  StepDriver driver([](int k) {
    if (k == 0) Form3->close();
    FireTimer1();
  });
  Form1->Button5->click();
  EXPECT_EQ(answer.count, 1);
  EXPECT_TRUE(answer.step_timer_on);
  EXPECT_EQ(answer.default_button, TForm3::kContinueButton);
  EXPECT_EQ(driver.seen.size(), 2u);
  ExpectCompletedRun();
}

// --- Pausing a step ----------------------------------------------------------------------------

TEST_F(TreatmentRun, PauseAndResumeByButtonKeyAndReturnSayPausedInTheWindow) {
  const auto press = [](QWidget* to, Qt::Key key) {
    QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(to, &down);
    QElapsedTimer clicked;  // the button's animated click comes 100 ms later
    for (clicked.start(); clicked.elapsed() < 200; QThread::msleep(5)) {
      QCoreApplication::processEvents();
    }
  };
  const std::function<void()> ways[] = {[] { Form3->Button2->click(); },
                                        [&] { press(Form3, Qt::Key_P); },
                                        [&] {
                                          Form3->Button2->setFocus();
                                          press(Form3->Button2, Qt::Key_Return);
                                        }};
  for (const auto& toggle : ways) {
    StepDriver driver([&](int k) {
      if (k == 0) {
        toggle();
        EXPECT_TRUE(WindowsRun()->Treatment()->Paused());
        EXPECT_EQ(Form3->Button2->text(), "Resume");
        EXPECT_TRUE(Form3->Label2->text().endsWith(" left \u00b7 paused"));
        EXPECT_TRUE(TimeLeftHint().endsWith(" left, paused"));
        toggle();
        EXPECT_FALSE(WindowsRun()->Treatment()->Paused());
        EXPECT_EQ(Form3->Button2->text(), "Pause");
        EXPECT_TRUE(Form3->Label2->text().startsWith("Step 1 of 2 \u00b7 "));
      }
      FireTimer1();
    });
    Form1->Button5->click();
    EXPECT_EQ(driver.seen.size(), 2u);
    ExpectCompletedRun();
    EXPECT_TRUE(Form3->Label2->text().isEmpty());
  }
}

// --- Keys and frame of the Current frequency window --------------------------------------------

TEST_F(TreatmentRun, EnterKeypadEnterAndSpacePressSkip) {
  const struct {
    const char* name;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
  } keys[] = {{"Space", Qt::Key_Space, Qt::NoModifier},
              {"Enter", Qt::Key_Return, Qt::NoModifier},
              {"keypad Enter", Qt::Key_Enter, Qt::KeypadModifier}};
  for (const auto& k : keys) {
    SCOPED_TRACE(k.name);
    StepDriver driver([&](int step) {
      if (step > 0) {
        FireTimer1();
        return;
      }
      // The key goes where the user's would: to Skip, the window's only focusable control.
      QKeyEvent press(QEvent::KeyPress, k.key, k.modifiers, " ");
      QKeyEvent release(QEvent::KeyRelease, k.key, k.modifiers, " ");
      QApplication::sendEvent(Form3->Button1, &press);
      QApplication::sendEvent(Form3->Button1, &release);
      // A key that does nothing would leave the step waiting for its three minutes.
      QTimer::singleShot(3000, Form3, [&driver] {
        if (driver.seen.size() == 1) Form3->reject();
      });
    });
    Form1->Button5->click();
    // Skip goes on to the second step; the run then completes, which closing never does.
    EXPECT_EQ(driver.seen.size(), 2u);
    ExpectCompletedRun();
    ExpectOutputReleased();
  }
}

TEST_F(TreatmentRun, TheStepWindowIsADialogOfTheMainWindowWithOnlyItsCloseBox) {
  StepDriver driver([](int) {
    const Qt::WindowFlags flags = Form3->windowHandle()->flags();
    EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Dialog);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(flags & Qt::WindowTitleHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    // Window managers minimise and restore a dialog together with the window it belongs to.
    EXPECT_EQ(Form3->windowHandle()->transientParent(), Form1->windowHandle());
    ClickSkip();
  });
  Form1->Button5->click();
  EXPECT_EQ(driver.seen.size(), 2u);
}

// --- The step timer outside a run -------------------------------------------------------------

TEST_F(TreatmentRun, TheTimerBetweenRunsChangesNothingVisibleButClearsLoop) {
  ASSERT_TRUE(Form1->ToneGen1->Loop());
  Form1->ProgressBar1->setValue(0);
  FireTimer1();
  EXPECT_FALSE(Form1->ToneGen1->Loop());
  EXPECT_FALSE(Form3->isVisible());
  EXPECT_TRUE(Form1->Label8->text().isEmpty());
  EXPECT_TRUE(Form1->Label1->text().isEmpty());
  EXPECT_TRUE(Form1->Timer1->isActive());
  ExpectOutputReleased();
}

// --- The "Output signal" choice ---------------------------------------------------------------

// Samples that SDL's disk driver wrote while one step played, without the silence SDL writes
// before the stream starts.
struct Recorded {
  int nonzero = 0;
  int square_level = 0;  // exactly +-26000, the square table's only values
  int antiphase_misses = 0;
};

Recorded ReadStep(const std::string& path) {
  Recorded r;
  std::ifstream in(path, std::ios::binary);
  int16_t frame[2];
  while (in.read(reinterpret_cast<char*>(frame), sizeof frame)) {
    for (int16_t sample : frame) {
      if (sample == 0) continue;
      ++r.nonzero;
      if (std::abs(sample) == 26000) ++r.square_level;
    }
    if (frame[0] != 0 && std::abs(frame[0] + frame[1]) > 1100) ++r.antiphase_misses;
  }
  return r;
}

// Each step writes to its own file; the driver opens it when the step's output is initialised.
class StepFiles {
 public:
  explicit StepFiles(const std::string& name) {
    dir_ = std::filesystem::temp_directory_path() /
           ("zelkgen-" + name + "-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir_);
    Point(0);
  }
  ~StepFiles() { std::filesystem::remove_all(dir_); }
  std::string Path(int k) const { return (dir_ / ("step" + std::to_string(k) + ".raw")).string(); }
  void Point(int k) const { setenv("SDL_DISKAUDIOFILE", Path(k).c_str(), 1); }
  // Waits in the modal loop until the step's file holds some audio.
  bool WaitForAudio(int k) const {
    for (int i = 0; i < 400; ++i) {
      std::error_code ec;
      if (std::filesystem::file_size(Path(k), ec) >= 32768 && !ec) return true;
      QApplication::processEvents(QEventLoop::AllEvents, 5);
      QThread::msleep(5);
    }
    return false;
  }

 private:
  std::filesystem::path dir_;
};

TEST_F(TreatmentRun, SinusChosenBetweenRunsGivesSineInEveryStepOfTheNextRun) {
  setenv("SDL_AUDIODRIVER", "disk", 1);
  const StepFiles square_files("square");
  {
    StepDriver driver([&](int k) {
      EXPECT_TRUE(square_files.WaitForAudio(k)) << "step " << k + 1;
      square_files.Point(k + 1);
      FireTimer1();
    });
    Form1->Button5->click();
    ASSERT_EQ(driver.seen.size(), 2u);
  }
  for (int k = 0; k < 2; ++k) {
    const Recorded r = ReadStep(square_files.Path(k));
    EXPECT_GT(r.nonzero, 1000);
    EXPECT_EQ(r.square_level, r.nonzero) << "square step " << k + 1;
  }

  // Choosing with the mouse, as the user does between runs.
  auto buttons = Form1->RadioGroup1->findChildren<QRadioButton*>();
  ASSERT_EQ(buttons.size(), 2);
  buttons[1]->click();
  EXPECT_EQ(Form1->RadioGroup1->ItemIndex(), 1);
  EXPECT_EQ(Form1->GetWaveShape(), 0);

  const StepFiles sine_files("sine");
  StepDriver driver([&](int k) {
    EXPECT_EQ(OutputWaveShape.load(), 0);
    EXPECT_TRUE(sine_files.WaitForAudio(k)) << "step " << k + 1;
    sine_files.Point(k + 1);
    FireTimer1();
  });
  Form1->Button6->click();
  ASSERT_EQ(driver.seen.size(), 10u);
  for (int k = 0; k < 10; ++k) {
    SCOPED_TRACE(testing::Message() << "sine step " << k + 1);
    const Recorded r = ReadStep(sine_files.Path(k));
    EXPECT_GT(r.nonzero, 1000);
    // A sine rarely lands on the square's level; a square never leaves it.
    EXPECT_LT(r.square_level * 100, r.nonzero);
    EXPECT_EQ(r.antiphase_misses, 0);
  }
}

// Drops file on a window as a file manager does.
void DropFile(const std::filesystem::path& file, QWidget* on = Form1) {
  QMimeData data;
  // As a file manager sends it: the name's bytes percent-encoded, whether UTF-8 or not.
  data.setUrls({QUrl::fromEncoded("file://" + QByteArray(file.c_str()).toPercentEncoding("/"))});
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(on, &enter);
  QDropEvent event(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(on, &event);
  QApplication::processEvents();
}

// A program file dropped on the main window comes up in the Programs window ready to start; one
// click on Start runs it as the program buttons run theirs, each step as long as the file says.
// A file with errors shows them, with their line numbers, and plays nothing.
TEST_F(TreatmentRun, AProgramFileDroppedOnTheWindowStartsWithOneClickAndRunsLikeABuiltIn) {
  const ScratchXdgFolders scratch("zelkgen-programs-");
  ASSERT_TRUE(scratch.Created());
  // Whatever file an earlier test pointed the disk driver at may be gone.
  setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
  const std::filesystem::path bad = scratch.Path() / "bad.zelkgen";
  std::ofstream(bad) << "zelkgen program: Bad\n0\n440 9\n";
  // Each file with errors updates the one errors view, which waits for nothing.
  const std::filesystem::path pipe = scratch.Path() / "pipe.zelkgen";
  mkfifo(pipe.c_str(), 0600);
  for (const std::filesystem::path& file : {pipe, bad}) DropFile(file);
  int views = 0;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    views += qobject_cast<QMessageBox*>(widget) != nullptr && widget->isVisible();
  }
  EXPECT_EQ(views, 1);
  ASSERT_NE(FormPrograms->ErrorsView(), nullptr);
  const QString text = FormPrograms->ErrorsView()->text();
  EXPECT_TRUE(
      text.contains(QString::fromStdString(bad.string()) + ":2:1: a frequency is above 0 Hz\n" +
                    QString::fromStdString(bad.string()) + ":3:5: a duration needs its unit"))
      << text.toStdString();
  FormPrograms->ErrorsView()->close();
  const std::filesystem::path good = scratch.Path() / "mine\xff.zelkgen";
  std::ofstream(good) << "zelkgen program: Mine\n528 1s \"Love\"\n7.83 -> 8 2s\n";
  DropFile(good);
  ASSERT_TRUE(FormPrograms->isVisible());
  EXPECT_EQ(FormPrograms->List()->currentItem()->text(), "Mine");

  std::vector<qint64> marked;  // where the timeline's marker stood as each step began
  std::vector<int> playing;    // the table's playing row then
  StepDriver driver([&marked, &playing](int) {
    marked.push_back(FormPrograms->Timeline()->RunPosition());
    playing.push_back(FormPrograms->PlayingRow());
    FireTimer1();
  });
  FormPrograms->StartButton()->click();
  QApplication::processEvents();
  ASSERT_EQ(driver.seen.size(), 2u);
  // At the start of each step: 0, then the first step's 1000 ms (less what the deadline lost).
  ASSERT_EQ(marked.size(), 2u);
  EXPECT_GE(marked[0], 0);
  EXPECT_LT(marked[0], 100);
  EXPECT_GE(marked[1], 1000);
  EXPECT_LT(marked[1], 1100);
  EXPECT_EQ(playing, (std::vector<int>{0, 1}));
  // The window stays up, its timeline marking where the run is.
  EXPECT_TRUE(FormPrograms->isVisible());
  const Expected expected[] = {{528.0L, 50, "Love"}, {7.83L, 100, "7.83\u21928HZ"}};
  const int periods[] = {1000, 2000};
  for (size_t k = 0; k < 2; ++k) {
    SCOPED_TRACE(testing::Message() << "step " << k + 1);
    EXPECT_EQ(driver.seen[k].display, QString::fromUtf8(expected[k].display));
    EXPECT_EQ(driver.seen[k].status, "Current: " + QString::fromUtf8(expected[k].display));
    EXPECT_EQ(driver.seen[k].position, expected[k].position);
    EXPECT_EQ(driver.seen[k].frequency, expected[k].frequency);
    EXPECT_LE(driver.seen[k].timer_remaining, periods[k]);
    EXPECT_GT(driver.seen[k].timer_remaining, periods[k] - 500);
  }
  ExpectCompletedRun();
  // The built-in programs' steps last the step timer's own period again.
  EXPECT_EQ(Form1->Timer1->interval(), 180000);
  // A file dropped on the Programs window comes up the same way.
  const std::filesystem::path other = scratch.Path() / "other.zelkgen";
  std::ofstream(other) << "zelkgen program: Other\n440 1s\n";
  DropFile(other, FormPrograms);
  EXPECT_EQ(FormPrograms->List()->currentItem()->text(), "Other");
}

// A program file passed on during a step (a second start, a drop) is said to wait at once; it
// opens in the Programs window when the run ends.
TEST_F(TreatmentRun, AFileOpenedDuringAStepIsSaidToWaitAndOpensWhenTheRunEnds) {
  const ScratchXdgFolders scratch("zelkgen-programs-");
  ASSERT_TRUE(scratch.Created());
  const std::filesystem::path file = scratch.Path() / "waiting.zelkgen";
  std::ofstream(file) << "zelkgen program: Waiting\n440\n";
  QString said;
  bool programs_shown = true;
  StepDriver driver([&](int k) {
    if (k == 0) {
      // As a drop or a later copy passes it on.
      emit Form1->ProgramFileDropped(QString::fromStdString(file.string()));
      for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (box != nullptr && box->isVisible()) said = box->text();
      }
      programs_shown = FormPrograms->isVisible();
    }
    FireTimer1();
  });
  Form1->Button5->click();
  QApplication::processEvents();
  EXPECT_EQ(said, "waiting.zelkgen opens in the Programs window when this run ends.");
  EXPECT_FALSE(programs_shown);
  EXPECT_EQ(driver.seen.size(), 2u);
  ASSERT_TRUE(FormPrograms->isVisible());
  EXPECT_EQ(FormPrograms->List()->currentItem()->text(), "Waiting");
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    EXPECT_FALSE(qobject_cast<QMessageBox*>(widget) != nullptr && widget->isVisible());
  }
}

// Two runs of a program file in one window, each step left to its own timer: the device receives
// the export's frames both times, the second run starting where the first did, and the two glides
// joined with no frame missing or added.
TEST_F(TreatmentRun, TwoRunsOfAProgramFileInOneWindowBothEqualItsExport) {
  const ScratchXdgFolders scratch("zelkgen-twice-");
  ASSERT_TRUE(scratch.Created());
  setenv("SDL_AUDIODRIVER", "disk", 1);
  const std::string text = "zelkgen program: Twice\n100 -> 250 1s sine\n250 -> 150 1s sine 70%\n";
  const std::filesystem::path file = scratch.Path() / "twice.zelkgen";
  std::ofstream(file) << text;
  TreatmentProgram program;
  std::vector<std::string> messages;
  ASSERT_TRUE(ProgramFromText(text, file.string(), &program, &messages));
  // The export: one oscillator from its start, each step's tone set at the step's first frame.
  std::vector<int16_t> exported;
  ExactOscillator oscillator;
  for (const TreatmentStep& step : program.Steps) {
    const StepSound sound = PrepareStepSound(step, 44100, oscillator);
    const size_t at = exported.size();
    exported.resize(at + 2 * 44100);
    sound.proc(0, exported.data() + at, 44100 * 4, sound.user);
  }
  DropFile(file);
  ASSERT_TRUE(FormPrograms->isVisible());
  for (int run = 1; run <= 2; ++run) {
    SCOPED_TRACE(testing::Message() << "run " << run);
    const std::filesystem::path played = scratch.Path() / ("run" + std::to_string(run) + ".raw");
    setenv("SDL_DISKAUDIOFILE", played.c_str(), 1);
    StepDriver driver([](int) {});
    QTest::mouseClick(FormPrograms->StartButton(), Qt::LeftButton);
    QApplication::processEvents();
    ASSERT_EQ(driver.seen.size(), 2u);
    std::ifstream in(played, std::ios::binary);
    std::vector<int16_t> samples;
    for (int16_t sample; in.read(reinterpret_cast<char*>(&sample), 2);) samples.push_back(sample);
    // Both the export and the device begin with the sine's zero.
    const auto first = std::find_if(samples.begin(), samples.end(), [](int16_t v) { return v; });
    ASSERT_NE(first, samples.end()) << "nothing played";
    const size_t start = static_cast<size_t>(first - samples.begin()) - 2;
    ASSERT_GE(samples.size(), start + exported.size());
    const std::vector<int16_t> heard(
        samples.begin() + static_cast<ptrdiff_t>(start),
        samples.begin() + static_cast<ptrdiff_t>(start + exported.size()));
    const auto differ = std::mismatch(heard.begin(), heard.end(), exported.begin());
    EXPECT_TRUE(differ.first == heard.end()) << "frame " << (differ.first - heard.begin()) / 2;
    EXPECT_TRUE(std::all_of(samples.begin() + static_cast<ptrdiff_t>(start + exported.size()),
                            samples.end(), [](int16_t v) { return v == 0; }))
        << "sound after the export's end";
  }
}

}  // namespace
