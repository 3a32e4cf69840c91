// current_frequency_window.cpp holds TForm3, the Current frequency window: the sounding
// frequency of a treatment step in large blue text, and Skip. It is shown only modally, once per
// step, and its modal display is where the treatment run waits for the step to end. It must
// never get out of the user's reach while the main window waits behind it: like a dialog it
// offers only its close box, and it belongs to the main window, so that window managers which
// offer minimising anyway minimise and restore the two together. It knows no run: Skip is a
// signal, and the run's StepEnded closes the display (both wired at start-up).
#pragma once

#include <QDialog>
#include <QString>

#include "ui_current_frequency_window.h"

class TForm3 : public QDialog, public Ui::TForm3 {
  Q_OBJECT

 public:
  explicit TForm3(QWidget* parent = nullptr);

  void Button1Click(QObject* Sender);  // Skip: tells the run through SkipClicked

  // Shows the step's display text and waits in the modal display. True when the step ended by
  // Skip or the step timer; false when the user closed the window (close box or Escape). When
  // the whole program ends meanwhile, the caller knows it and starts no further step. Owner is
  // the window this one belongs to while it is shown (the main window).
  bool ShowStep(const QString& DisplayText, QWidget* Owner);

  // Ends the modal display as a step end; a hidden window stays as it is.
  void CloseStepDisplay();

 protected:
  // Enter and keypad Enter press Skip, as Space does.
  void keyPressEvent(QKeyEvent* event) override;

 signals:
  void SkipClicked();
};

extern TForm3* Form3;
