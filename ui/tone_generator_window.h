// tone_generator_window.cpp holds ToneGeneratorWindow, the "Tone generator" window: it edits the
// main window's ToneGen1 through the component's property setters (every field shows the value
// that took effect, so out-of-range input reads back clamped), plays, loops and stops it, exports
// its tone as WAV, opens and saves its settings as *.tonegen text, and draws the tone's start and
// its envelope (tone_picture.h), redrawn as values change.
//
// While a loop it started plays, every change goes on sounding: the component renders the new
// tone and the loop continues with it from the next period of the one playing. A Play that
// cannot sound says why in the status line (no output, and what to check). Spin boxes and
// drop-down lists take the mouse wheel only once they have focus, so scrolling the window never
// edits a value; the window opens large enough to show every control where the screen allows.
//
// A treatment run and the tone generator never sound at once: when a run starts, the component is
// stopped and its Loop cleared, as the run does at every step's end, and the Play buttons stay
// disabled, with a tooltip saying why, until the run has ended.
//
// The window holds controls and wiring; what it does to the component beyond one setter lives in
// tone_gen_editing.h, what it draws is worked out in tone_preview.h.
#pragma once

#include <QFont>
#include <QString>
#include <QWidget>
#include <array>

#include "tone_gen.h"
#include "ui_tone_generator_window.h"

class QComboBox;
class QDoubleSpinBox;
class QLineEdit;
class QSpinBox;

class ToneGeneratorWindow : public QWidget, public Ui::ToneGeneratorWindow {
  Q_OBJECT

 public:
  // gen is not owned and must outlive the window. A window of its own, not kept above the main
  // window (which it would cover on most screens); font: the main window's.
  ToneGeneratorWindow(TToneGen* gen, const QFont& font);
  ~ToneGeneratorWindow() override;

  // Shows the component's current settings and brings the window to the front.
  void ShowWindow();
  // A treatment run starts: the component stops and the Play buttons are disabled.
  void RunStarted();
  // The run has ended: the Play buttons play again.
  void RunEnded();

  // The fields of one extra tone (0..7), for the tests.
  QSpinBox* AmplitudeBox(int level) const { return levels_[level].amplitude; }
  QComboBox* LevelWaveformBox(int level) const { return levels_[level].waveform; }
  QDoubleSpinBox* LevelValueBox(int level) const { return levels_[level].value; }
  QLineEdit* LevelNoteEdit(int level) const { return levels_[level].note; }

  // The tooltip of the Play buttons while a run plays.
  static const char* const kRunPlayingHint;

  // Writes the tone the settings give (plain, or enveloped when "with envelope" is checked) to
  // path; a message says how it went. The Export button asks for path first.
  bool ExportTo(const QString& path);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct LevelFields {
    QSpinBox* amplitude = nullptr;
    QComboBox* waveform = nullptr;
    QDoubleSpinBox* value = nullptr;
    QLineEdit* note = nullptr;
  };

  void CreateLevelRows();
  void SizeToShowEveryControl();
  // Spin boxes and drop-down lists take the wheel only once they have focus.
  void WheelOnlyWithFocus();
  void WireFields();
  void WireButtons();
  // Every field from the component (without echoing back into it), and the picture.
  void ShowProperties();
  void ShowPicture();
  // After a setter: the fields and the picture show what took effect.
  void Changed();
  void SetNoteFromField();
  void SetLevelNote(int level);
  // False, with the field shown back and the status saying why, when an extra tone's value would
  // put it outside 20 to 20000 Hz.
  bool ExtraToneInRange(int level, double value);
  void Zoom(int steps);
  void ChooseExportFile();
  void OpenSettings();
  void SaveSettings();
  void Tell(const QString& text);
  // After Play or PlayADSR: says in the status why nothing sounds; false when it sounds.
  bool TellPlayFailure();

  TToneGen* gen_;
  std::array<LevelFields, kAMLevelCount> levels_{};
  bool run_playing_ = false;
  bool looping_ = false;  // a loop started here plays, and follows every change
  QString folder_;        // where the last file was chosen
};

extern ToneGeneratorWindow* FormToneGenerator;
