// main_window.cpp holds TForm1, the main window: the two program buttons, the "Output signal"
// choice, the progress display, the picture, Information and Exit, with the step timer Timer1
// and the tone generator ToneGen1. The program buttons ask for a treatment run, which is played
// beside the windows (run_engine.h) and owns each step's sound; this window shows the run's steps,
// its end and its audio errors as the run's signals tell them. Program files are played by the
// same run; the window opens them through "Programs..." under the picture or a file dropped on it.
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
  // A failure with no sound system code behind it: its message and what to do.
  void ShowOutputError(const QString& Message, const QString& Advice);

  void Button3Click(QObject* Sender);  // Information
  void Button4Click(QObject* Sender);  // Exit
  void Button5Click(QObject* Sender);  // BX virus program
  void Button6Click(QObject* Sender);  // Zelk general program
  // Timer1's event: the step ends by the timer (StepTimerFired; the run also takes Timer1's
  // timeout itself).
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

  // What the run tells: its start, a step's opened output, its end.
  void ShowRunStart();
  void ShowStepOpened(int step, int steps, const TreatmentStep& what);
  void ShowRunEnd(const TreatmentRun::RunResult& result);

 signals:
  // A program button asks for its program's run; it has ended when the signal returns.
  void RunRequested(const TreatmentProgram& program);
  // Timer1Timer: the step is to end by the timer.
  void StepTimerFired();
  // EndApplication: the run's sound ends for good and no further step starts.
  void EndRequested();
  // A file was dropped on the window, to be opened as a program.
  void ProgramFileDropped(const QString& path);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  // Return and Enter press the focused button.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // Label8: the step's status text, or empty with nullptr.
  void ShowStatus(const TreatmentStep* step);
  void LoadPicture();
  void CreateToneGen1();

  std::unique_ptr<TComponent> components_;  // owner of the window's components
  bool ending_ = false;                     // EndApplication has been called
  // The close box during a step, which Qt would drop behind the modal step window.
  std::unique_ptr<BlockedCloseFilter> blocked_close_;
  bool UserMayEnd() const { return !end_check_ || end_check_(); }
  std::function<bool()> end_check_;
};

extern TForm1* Form1;
