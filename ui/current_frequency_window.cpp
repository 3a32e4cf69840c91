// current_frequency_window.cpp holds TForm3, the Current frequency window.
#include "current_frequency_window.h"

#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QWindow>
#include <algorithm>

#include "auto_size_label.h"
#include "outer_geometry.h"
#include "readable_blue.h"
#include "step_countdown.h"

TForm3* Form3 = nullptr;

const char* const TForm3::kEndRunQuestion = "End the whole run?";
const char* const TForm3::kEndRunButton = "End run";
const char* const TForm3::kContinueButton = "Continue";

TForm3::TForm3(QWidget* parent) : QDialog(parent) {
  setupUi(this);
  // Only the close box, whatever a platform gives dialogs by default.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  // 19 pixels at the 96 dpi the window is designed for; a point size keeps it scaling.
  QFont big = Label1->font();
  big.setPointSizeF(19.0 * 72.0 / 96.0);
  Label1->setFont(big);
  KeepBlueReadable(Label1);
  KeepStoredOuterGeometry(this);
  FitLabelsToText(this);
  stored_label_left_ = Label1->x();
  // The time-left line spans the window below the frequency, above the buttons.
  Label2->setGeometry(0, 41, width(), 14);
  setModal(true);
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(Button1); });
  connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(Button2); });
  // The main window's Ctrl+Q cannot be reached while this window is modal.
  auto* quit = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), this);
  connect(quit, &QShortcut::activated, this, &TForm3::QuitRequested);
}

void TForm3::Button1Click(QObject*) {
  emit SkipClicked();
}

void TForm3::Button2Click(QObject*) {
  emit PauseClicked();
}

void TForm3::keyPressEvent(QKeyEvent* event) {
  const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (enter && plain) {
    auto* focused = qobject_cast<QPushButton*>(focusWidget());
    (focused != nullptr ? focused : Button1)->animateClick();
    return;
  }
  // Also where the shortcut is not matched: the key reached this window all the same.
  if (event->key() == Qt::Key_Q &&
      (event->modifiers() & ~Qt::KeypadModifier) == Qt::ControlModifier) {
    emit QuitRequested();
    return;
  }
  if (event->key() == Qt::Key_P && plain) {
    Button2->animateClick();
    return;
  }
  QDialog::keyPressEvent(event);
}

namespace {

// The margin a label keeps from the window's edges when a long text is moved or shortened.
constexpr int kMargin = 8;

}  // namespace

void TForm3::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  // The time-left line is centred across the window, whatever the frame leaves of it.
  Label2->resize(width(), Label2->height());
  if (isVisible()) FitDisplayText();
}

void TForm3::FitDisplayText() {
  // The built-ins' texts fit from the stored left edge. A program file's longer label moves left
  // just as far as it needs, and only a text wider than the window ends in "..." (with the whole
  // text as its tooltip).
  const int right = width() - kMargin;
  Label1->move(stored_label_left_, Label1->y());
  SetCaption(Label1, display_text_);
  if (Label1->x() + Label1->width() > right) {
    Label1->move(std::max(kMargin, right - Label1->width()), Label1->y());
  }
  SetCaptionWithin(Label1, display_text_, right);
}

bool TForm3::ShowStep(const QString& DisplayText, QWidget* Owner) {
  display_text_ = DisplayText;
  FitDisplayText();
  NameFrequencyLabel(Label1, DisplayText);
  ClearTimeLeft();
  // A dialog of the main window, not of the whole program: window managers then keep it above
  // that window and minimise and restore the two together.
  create();
  windowHandle()->setTransientParent(Owner != nullptr ? Owner->windowHandle() : nullptr);
  Button1->setFocus();
  const int result = exec();
  // When the whole program ends, exit() may leave the loop with the window still up.
  if (isVisible()) hide();
  return result == QDialog::Accepted;
}

void TForm3::CloseStepDisplay() {
  if (question_) question_->reject();
  if (isVisible()) done(QDialog::Accepted);
}

void TForm3::ShowTimeLeft(const StepProgress& progress) {
  Label2->setText(StepTimeLeftLine(progress));
  Button2->setText(progress.paused ? "Resume" : "Pause");
}

void TForm3::ClearTimeLeft() {
  Label2->clear();
  Button2->setText("Pause");
}

void TForm3::reject() {
  if (question_) return;  // asking already
  if (!isVisible()) {
    QDialog::reject();
    return;
  }
  // The step may have ended while the question was up; the display is then over already.
  if (AskEndRun("Continue goes back to the step; Skip ends only this frequency.") && isVisible()) {
    QDialog::reject();
  }
}

bool TForm3::ConfirmEndProgram() {
  // Between steps no tone plays that the user could lose by a slip.
  if (!isVisible()) return true;
  return AskEndRun("End run also closes the program.");
}

bool TForm3::AskEndRun(const char* consequence) {
  if (question_) return false;
  QMessageBox box(QMessageBox::Question, windowTitle(), kEndRunQuestion, QMessageBox::NoButton,
                  this);
  box.setInformativeText(consequence);
  QPushButton* keep = box.addButton(kContinueButton, QMessageBox::RejectRole);
  QPushButton* end = box.addButton(kEndRunButton, QMessageBox::DestructiveRole);
  box.setDefaultButton(keep);
  box.setEscapeButton(keep);
  question_ = &box;
  box.exec();
  question_ = nullptr;
  return box.clickedButton() == end;
}
