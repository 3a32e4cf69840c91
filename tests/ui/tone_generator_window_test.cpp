// The Tone generator window over the main window's ToneGen1: what the user types reaches the
// component through its setters and the field then shows the value that took effect; while a
// treatment run plays, the Play buttons are disabled and say why.
#include "tone_generator_window.h"

#include <QLineEdit>
#include <QSpinBox>
#include <QTest>
#include <functional>

#include "app_fixture.h"
#include "child_process.h"
#include "scratch_dir.h"

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

}  // namespace

using ToneGeneratorWindowTest = WindowsTest;

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
