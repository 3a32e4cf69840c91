// The Tone generator window over the main window's ToneGen1: what the user types reaches the
// component through its setters and the field then shows the value that took effect; while a
// treatment run plays, the Play buttons are disabled and say why.
#include "tone_generator_window.h"

#include <QApplication>
#include <QLineEdit>
#include <QSpinBox>
#include <QTest>
#include <QWheelEvent>
#include <functional>

#include "app_fixture.h"
#include "child_process.h"
#include "scratch_dir.h"
#include "signal_analysis.h"

namespace {

// Selects the field's value, types text over it and presses Enter, as a user does.
void TypeInto(QWidget* field, const QString& text) {
  field->setFocus();
  QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClicks(field, text);
  QTest::keyClick(field, Qt::Key_Return);
}

// Moves a drop-down list down by steps items, as the arrow key does.
void ChooseBelow(QComboBox* box, int steps) {
  box->setFocus();
  for (int i = 0; i < steps; ++i) QTest::keyClick(box, Qt::Key_Down);
}

// Shows the window as the active one, where focus is real (Tab leaves a field, a click takes it).
void ShowActive(ToneGeneratorWindow* window) {
  window->ShowWindow();
  QApplication::setActiveWindow(window);
  ASSERT_TRUE(QTest::qWaitForWindowActive(window));
}

// One notch of a mouse wheel turned towards the user (a value down, a list's next item), over the
// middle of the widget.
void TurnWheelOver(QWidget* widget) {
  const QPointF middle = QRectF(widget->rect()).center();
  QWheelEvent wheel(middle, widget->mapToGlobal(middle), QPoint(), QPoint(0, -120), Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(widget, &wheel);
}

}  // namespace

using ToneGeneratorWindowTest = WindowsTest;

TEST_F(ToneGeneratorWindowTest, TheWheelChangesAFieldOnlyOnceItHasFocus) {
  ToneGeneratorWindow* window = FormToneGenerator;
  ShowActive(window);
  window->playButton->setFocus();
  const struct {
    const char* what;
    QWidget* field;
    std::function<int()> shown;
  } cases[] = {
      {"hold", window->holdBox, [window] { return window->holdBox->value(); }},
      {"right volume", window->rightVolumeBox,
       [window] { return window->rightVolumeBox->value(); }},
      {"waveform", window->waveformBox, [window] { return window->waveformBox->currentIndex(); }},
      {"duration", window->durationBox, [window] { return window->durationBox->value(); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const int before = c.shown();
    TurnWheelOver(c.field);
    EXPECT_EQ(c.shown(), before) << "changed without focus";
    EXPECT_FALSE(c.field->hasFocus());
    QTest::mouseClick(c.field, Qt::LeftButton, Qt::NoModifier, QPoint(4, 4));
    // A click on a list opens it; Escape closes it and leaves the focus on the list.
    if (QWidget* popup = QApplication::activePopupWidget()) QTest::keyClick(popup, Qt::Key_Escape);
    ASSERT_TRUE(c.field->hasFocus());
    const int clicked = c.shown();
    TurnWheelOver(c.field);
    EXPECT_NE(c.shown(), clicked) << "unchanged with focus";
    window->playButton->setFocus();
  }
}

TEST_F(ToneGeneratorWindowTest, TheStatusSaysWhatTheLastEditDidAndRefusesWhatTheCommandRefuses) {
  ToneGeneratorWindow* window = FormToneGenerator;
  TToneGen* gen = Form1->ToneGen1;
  ShowActive(window);
  struct Case {
    const char* what;
    QWidget* field;
    QString typed;
    QString status_starts;  // empty: no status line at all
  };
  const Case cases[] = {
      {"a bad note left with Tab", window->noteEdit, "H\t", "\"H\" is not a note"},
      {"a frequency after it clears that", window->frequencyBox, "20000\n", ""},
      {"an extra tone at 1.5 x 20000 Hz", window->LevelValueBox(0), "1.5\n",
       "Extra tone 1 stays as it was: 1.5 would sound at 30000 Hz; allowed are factors from "
       "0.001 to 1 at 20000 Hz."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.field->setFocus();
    QTest::keyClick(c.field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(c.field, c.typed.chopped(1));
    QTest::keyClick(c.field, c.typed.endsWith('\t') ? Qt::Key_Tab : Qt::Key_Return);
    if (c.status_starts.isEmpty()) {
      EXPECT_TRUE(window->statusLabel->isHidden()) << window->statusLabel->text().toStdString();
    } else {
      EXPECT_TRUE(window->statusLabel->text().startsWith(c.status_starts))
          << window->statusLabel->text().toStdString();
    }
  }
  EXPECT_EQ(gen->Settings().FAMFrequencies[0], 0.5f);
  EXPECT_EQ(window->LevelValueBox(0)->value(), 0.5);
}

TEST_F(ToneGeneratorWindowTest, PlayLeavesTheExportsEnvelopeChoiceAlone) {
  ToneGeneratorWindow* window = FormToneGenerator;
  window->ShowWindow();
  window->loopBox->setChecked(false);
  for (const bool with_envelope : {true, false}) {
    window->exportEnvelopeBox->setChecked(with_envelope);
    QTest::mouseClick(window->playButton, Qt::LeftButton);
    QTest::mouseClick(window->playEnvelopeButton, Qt::LeftButton);
    EXPECT_EQ(window->exportEnvelopeBox->isChecked(), with_envelope);
    QTest::mouseClick(window->stopButton, Qt::LeftButton);
  }
}

TEST_F(ToneGeneratorWindowTest, ALoopFollowsAFrequencyTypedWhileItPlays) {
  ScratchDir folder;
  ASSERT_TRUE(folder.Created());
  const std::string recording = (folder.Path() / "played.raw").string();
  setenv("SDL_DISKAUDIOFILE", recording.c_str(), 1);
  ToneGeneratorWindow* window = FormToneGenerator;
  window->ShowWindow();
  window->loopBox->setChecked(true);
  TypeInto(window->frequencyBox, "440");
  TypeInto(window->durationBox, "50");
  QTest::mouseClick(window->playButton, Qt::LeftButton);
  // Past the device's first buffer, and then long enough for the changed tone to be written.
  QTest::qWait(400);
  TypeInto(window->frequencyBox, "880");
  EXPECT_EQ(window->statusLabel->text(), "Playing the changed tone until Stop.");
  QTest::qWait(800);
  QTest::mouseClick(window->stopButton, Qt::LeftButton);
  setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);

  const std::vector<StereoFrame> frames = ReadRawStereo(recording);
  ASSERT_GT(frames.size(), 96000u * 6 / 10);
  // The first tenth of a second, and the last before Stop.
  EXPECT_NEAR(MeasureFrequency(frames, 0, 9600, 96000.0), 440.0, 5.0);
  EXPECT_NEAR(MeasureFrequency(frames, frames.size() - 9600, frames.size(), 96000.0), 880.0, 5.0);
}

TEST_F(ToneGeneratorWindowTest, TypedValuesAreClampedByTheSettersAndTheFieldsShowWhatTookEffect) {
  ToneGeneratorWindow* window = FormToneGenerator;
  TToneGen* gen = Form1->ToneGen1;
  window->ShowWindow();
  struct Case {
    const char* what;
    QWidget* field;
    QString typed;
    QSpinBox* shown_in;
    int expected;
    std::function<int()> property;
  };
  const Case cases[] = {
      {"frequency below", window->frequencyBox, "5", window->frequencyBox, 20,
       [gen] { return gen->Frequency(); }},
      {"frequency above", window->frequencyBox, "25000", window->frequencyBox, 20000,
       [gen] { return gen->Frequency(); }},
      {"duration", window->durationBox, "-1", window->durationBox, 10,
       [gen] { return gen->Duration(); }},
      {"attack", window->attackBox, "150", window->attackBox, 100, [gen] { return gen->Attack(); }},
      {"left volume", window->leftVolumeBox, "-3", window->leftVolumeBox, 0,
       [gen] { return gen->LeftVolume(); }},
      {"extra tone 3", window->AmplitudeBox(2), "150", window->AmplitudeBox(2), 100,
       [gen] { return gen->Settings().FAMAmplitudes[2]; }},
      // One octave up from the fourth, where octaves begin at A: the C above 1000 Hz.
      {"note up an octave", window->noteEdit, ">C", window->frequencyBox, 1047,
       [gen] { return gen->Frequency(); }},
      // Above 20000 Hz: nothing changes.
      {"note out of range", window->noteEdit, "O9E", window->frequencyBox, 1047,
       [gen] { return gen->Frequency(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TypeInto(c.field, c.typed);
    EXPECT_EQ(c.property(), c.expected);
    EXPECT_EQ(c.shown_in->value(), c.expected);
  }
  // E of the fourth octave (659 Hz) as a multiple of the 1047 Hz tone.
  TypeInto(window->LevelNoteEdit(0), "E");
  EXPECT_EQ(gen->Settings().FAMFrequencies[0], 659.0f / 1047.0f);
}

TEST_F(ToneGeneratorWindowTest, PlayWithoutAnOutputSaysSoInsteadOfPlaying) {
  ToneGeneratorWindow* window = FormToneGenerator;
  window->ShowWindow();
  window->loopBox->setChecked(false);
  const struct {
    const char* driver;
    QPushButton* button;
    QString status_starts;
  } cases[] = {
      {"no-such-driver", window->playButton, "The tone could not be played: no sound output"},
      {"no-such-driver", window->playEnvelopeButton,
       "The tone could not be played: no sound output"},
      {"disk", window->playButton, "Playing the tone."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.status_starts.toStdString());
    setenv("SDL_AUDIODRIVER", c.driver, 1);
    QTest::mouseClick(c.button, Qt::LeftButton);
    EXPECT_TRUE(window->statusLabel->text().startsWith(c.status_starts))
        << window->statusLabel->text().toStdString();
    window->stopButton->click();
  }
  setenv("SDL_AUDIODRIVER", "disk", 1);
}

TEST_F(ToneGeneratorWindowTest, ARunStopsTheLoopAndDisablesPlayUntilItEnds) {
  ToneGeneratorWindow* window = FormToneGenerator;
  window->ShowWindow();
  ASSERT_TRUE(Form1->ToneGen1->Loop());  // as stored with the main window
  struct Seen {
    bool play = true, play_envelope = true, loop = true, loop_box = true;
    QString hint;
  } seen;
  StepDriver driver([&](int) {
    seen = {window->playButton->isEnabled(), window->playEnvelopeButton->isEnabled(),
            Form1->ToneGen1->Loop(), window->loopBox->isChecked(), window->playButton->toolTip()};
    ClickSkip();
  });
  Form1->Button5->click();
  ASSERT_EQ(driver.seen.size(), 2u);
  EXPECT_FALSE(seen.play);
  EXPECT_FALSE(seen.play_envelope);
  EXPECT_FALSE(seen.loop);
  EXPECT_FALSE(seen.loop_box);
  EXPECT_EQ(seen.hint, ToneGeneratorWindow::kRunPlayingHint);
  EXPECT_TRUE(window->playButton->isEnabled());
  EXPECT_TRUE(window->playEnvelopeButton->isEnabled());
  EXPECT_TRUE(window->playButton->toolTip().isEmpty());
}

TEST_F(ToneGeneratorWindowTest, ItsExportHoldsTheBytesZelkgenToneExportsForTheSameProperties) {
  ScratchDir folder;
  ASSERT_TRUE(folder.Created());
  ToneGeneratorWindow* window = FormToneGenerator;
  window->ShowWindow();
  // A triangle with a square a fifth above, stereo, low quality, with its envelope.
  TypeInto(window->frequencyBox, "330");
  TypeInto(window->durationBox, "250");
  ChooseBelow(window->waveformBox, 2);  // from Sine to Triangle
  ChooseBelow(window->qualityBox, 1);
  ChooseBelow(window->channelsBox, 1);
  TypeInto(window->AmplitudeBox(1), "30");
  ChooseBelow(window->LevelWaveformBox(1), 1);  // from Sine to Square
  TypeInto(window->LevelValueBox(1), "1.5");
  window->exportEnvelopeBox->setChecked(true);
  const std::filesystem::path from_window = folder.Path() / "window.wav";
  ASSERT_TRUE(window->ExportTo(QString::fromStdString(from_window.string())));

  const std::filesystem::path from_command = folder.Path() / "command.wav";
  const ProgramRun run =
      RunProgram({ZELKGEN_PROGRAM, "tone", "--frequency", "330", "--duration", "250", "--waveform",
                  "triangle", "--am", "2,30,square,1.5", "--stereo", "--quality", "low",
                  "--envelope", "--export", from_command.string()},
                 {"DISPLAY=", "WAYLAND_DISPLAY="}, folder.Path().string());
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string window_bytes = ReadFile(from_window);
  // 250 ms of 16-bit stereo at 44100 frames per second, the header and the guard bytes.
  EXPECT_EQ(window_bytes.size(), 250u * 441 / 10 * 4 + 44 + 32);
  EXPECT_TRUE(window_bytes == ReadFile(from_command));
}

TEST_F(ToneGeneratorWindowTest, TheCleanToneBoxChoosesTheContinuousPhaseRendering) {
  ToneGeneratorWindow* window = FormToneGenerator;
  TToneGen* gen = Form1->ToneGen1;
  ShowActive(window);
  TypeInto(window->frequencyBox, "997");
  for (const bool clean : {true, false}) {
    QTest::mouseClick(window->cleanBox, Qt::LeftButton, Qt::NoModifier, QPoint(4, 4));
    EXPECT_EQ(window->cleanBox->isChecked(), clean);
    ASSERT_EQ(gen->Clean(), clean);
    ASSERT_TRUE(gen->Prepare());
    // 997 Hz at 96000 frames a second: frame 96 of the clean tone lies at 96 x 997 / 96000
    // cycles, while the restarting one begins its second period there, at angle 0.
    const uint8_t* samples = gen->GetDataBuffer() + 44;
    const auto at = [samples](int frame) {
      return static_cast<int16_t>(samples[2 * frame] | (samples[2 * frame + 1] << 8));
    };
    const double cycles = 96.0 * 997.0 / 96000.0;
    const double expected = clean ? std::nearbyint(32767.0 * std::sin(2.0 * M_PI * cycles)) : 0.0;
    EXPECT_EQ(at(96), expected) << (clean ? "clean" : "restarting");
  }
}
