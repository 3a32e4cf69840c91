// main_window.cpp holds TForm1, the main window: the two program buttons, the "Output signal"
// choice, the progress display, the picture, Information and Exit, with the step timer Timer1
// and the tone generator ToneGen1. The program buttons' click handlers run a treatment run
// (treatment_run.h), which owns each step's sound; this window shows its steps and waits for each
// in the Current frequency window's modal display. Program files are played by the same run; the
// window opens them through "Programs..." under the picture or a file dropped on it.
#pragma once

#include <QPushButton>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>

#include "blocked_close_filter.h"
#include "component.h"
#include "ddfs.h"
#include "step_countdown.h"
#include "tone_gen.h"
#include "treatment_run.h"
#include "ui_main_window.h"

class TForm1 : public QWidget, public Ui::TForm1 {
  Q_OBJECT

 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // The step timer: 180000 ms, precise, running from the window's creation.
  QTimer* Timer1 = nullptr;
  // Owned by the window's component owner; never played here, only stopped.
  TToneGen* ToneGen1 = nullptr;
  // Handle of the latest user stream (0 after a failed creation).
  uint32_t StreamHandle = 0;

  // The DDFS table the "Output signal" choice selects: wsSquare for "Square", wsSine for "Sinus".
  WaveShape GetWaveShape() const;

  // Shows the audio output's failure, with the error code read right after it, in a message box.
  void ShowAudioError(const QString& Message, int Code);

  void Button3Click(QObject* Sender);  // Information
  void Button4Click(QObject* Sender);  // Exit
  void Button5Click(QObject* Sender);  // BX virus program
  void Button6Click(QObject* Sender);  // Zelk general program
  // Timer1's event: the step ends by the timer (TreatmentRun::EndStepByTimer, which the run wires
  // to Timer1 itself).
  void Timer1Timer(QObject* Sender);

  // Ends the program from wherever it stands, a treatment step included: the sound stops, the
  // audio output is released, every event loop (modal ones too) is left and no further step
  // starts. Exit, the close box (during a step too, after asking), Ctrl+Q (likewise), logging out
  // and the quit signals all come here.
  void EndApplication();
  // The user's own end of the program (Ctrl+Q, the close box): during a step it first asks
  // whether to end the whole run, as closing the step window does; then EndApplication.
  void EndApplicationAsked();
  // Asked before the user's own end of the program (Exit, Ctrl+Q, the close box), never before a
  // signal's or a lost display's: false keeps the program running (a program editor's unsaved
  // changes that the user keeps).
  void SetEndCheck(std::function<bool()> check) { end_check_ = std::move(check); }

  // Opens the "Programs" window (programs_window.h); it stands under the picture.
  QPushButton* ButtonPrograms = nullptr;
  // Opens the "Tone generator" window (tone_generator_window.h), beside "Programs..."; Ctrl+T.
  QPushButton* ButtonToneGenerator = nullptr;

  // Plays a program file's program as the program buttons play theirs; the window keeps the
  // program until the run has ended.
  void RunProgramFile(std::shared_ptr<const TreatmentProgram> program);

  // The run behind the program buttons; the Current frequency window's Skip is wired to it.
  TreatmentRun* Treatment() const { return treatment_; }
  // The step and time left while a step plays, shown as ProgressBar1's tooltip and accessible
  // description.
  StepCountdown* Countdown() const { return countdown_; }
  // True from a step's start of sound until its modal display has returned.
  bool StepRunning() const { return treatment_->StepRunning(); }

 signals:
  // A file was dropped on the window, to be opened as a program.
  void ProgramFileDropped(const QString& path);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  // Return and Enter press the focused button.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void RunTreatment(const TreatmentProgram& program);
  void ShowRunEnd(const TreatmentRun::RunResult& result);
  // Label8: the step's status text, or empty with nullptr.
  void ShowStatus(const TreatmentStep* step);
  void LoadPicture();
  void CreateToneGen1();

  std::unique_ptr<TComponent> components_;  // owner of the window's components
  TreatmentRun* treatment_ = nullptr;
  StepCountdown* countdown_ = nullptr;
  std::shared_ptr<const TreatmentProgram> file_program_;  // while it plays
  // The close box during a step, which Qt would drop behind the modal step window.
  std::unique_ptr<BlockedCloseFilter> blocked_close_;
  bool UserMayEnd() const { return !end_check_ || end_check_(); }
  std::function<bool()> end_check_;
};

extern TForm1* Form1;
