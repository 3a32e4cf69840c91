// current_frequency_window.cpp holds TForm3, the Current frequency window: the sounding
// frequency of a treatment step in large blue text, the step and its time left on a line below
// it, Skip and Pause. It is shown only modally, once per step, and its modal display is where the
// treatment run waits for the step to end. It must never get out of the user's reach while the
// main window waits behind it: like a dialog it offers only its close box, and it belongs to the
// main window, so that window managers which offer minimising anyway minimise and restore the two
// together. It knows no run: Skip, Pause and Ctrl+Q are signals, and the run's StepEnded closes
// the display (all wired at start-up).
//
// Closing it (the close box, Escape) asks first whether to end the whole run; the tone plays on
// while it asks, and continuing is the default. Ending the program during a step (Ctrl+Q, the
// main window's close box) asks the same. Skip ends the step at once.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>

#include "ui_current_frequency_window.h"

class QMessageBox;
struct StepProgress;

class TForm3 : public QDialog, public Ui::TForm3 {
  Q_OBJECT

 public:
  explicit TForm3(QWidget* parent = nullptr);

  void Button1Click(QObject* Sender);  // Skip: tells the run through SkipClicked
  void Button2Click(QObject* Sender);  // Pause or Resume: tells the run through PauseClicked

  // Shows the step's display text and waits in the modal display. True when the step ended by
  // Skip or the step timer; false when the user closed the window (close box or Escape) and
  // confirmed ending the run. When the whole program ends meanwhile, the caller knows it and
  // starts no further step. Owner is the window this one belongs to while it is shown (the main
  // window).
  bool ShowStep(const QString& DisplayText, QWidget* Owner);

  // Ends the modal display as a step end; a hidden window stays as it is. A question whether to
  // end the run goes away unanswered.
  void CloseStepDisplay();

  // The step and its time left ("Step 3 of 10 · 2:41 left"), and Pause or Resume to match.
  void ShowTimeLeft(const StepProgress& progress);
  void ClearTimeLeft();

  // Asks whether to end the whole run before the window closes.
  void reject() override;

  // Before the user's end of the program (Ctrl+Q, the main window's close box): true when no
  // step is shown, or when the question whether to end the whole run was answered with End run.
  bool ConfirmEndProgram();

  // The question's texts.
  static const char* const kEndRunQuestion;
  static const char* const kEndRunButton;
  static const char* const kContinueButton;

 protected:
  // Enter and keypad Enter press the focused button, Skip when none has the focus, as Space
  // does; P presses Pause (or Resume).
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 signals:
  void SkipClicked();
  void PauseClicked();
  void QuitRequested();

 private:
  // Asks whether to end the whole run; true for End run. False at once while asking already.
  bool AskEndRun(const char* consequence);
  // Label1 shows the display text within the window's width.
  void FitDisplayText();

  QString display_text_;
  int stored_label_left_ = 0;
  QPointer<QMessageBox> question_;
};

extern TForm3* Form3;
