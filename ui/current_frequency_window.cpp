// current_frequency_window.cpp holds TForm3, the Current frequency window.
#include "current_frequency_window.h"

#include <QKeyEvent>
#include <QWindow>

#include "auto_size_label.h"
#include "outer_geometry.h"
#include "readable_blue.h"

TForm3* Form3 = nullptr;

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
  setModal(true);
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(Button1); });
}

void TForm3::Button1Click(QObject*) {
  emit SkipClicked();
}

void TForm3::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
    Button1->animateClick();
    return;
  }
  QDialog::keyPressEvent(event);
}

namespace {

// The margin a label keeps from the window's right edge when a long text is shortened.
constexpr int kRightMargin = 8;

}  // namespace

bool TForm3::ShowStep(const QString& DisplayText, QWidget* Owner) {
  // A program file's label may be longer than the window is wide; the built-ins' texts fit.
  SetCaptionWithin(Label1, DisplayText, width() - kRightMargin);
  // A dialog of the main window, not of the whole program: window managers then keep it above
  // that window and minimise and restore the two together.
  create();
  windowHandle()->setTransientParent(Owner != nullptr ? Owner->windowHandle() : nullptr);
  const int result = exec();
  // When the whole program ends, exit() may leave the loop with the window still up.
  if (isVisible()) hide();
  return result == QDialog::Accepted;
}

void TForm3::CloseStepDisplay() {
  if (isVisible()) done(QDialog::Accepted);
}
