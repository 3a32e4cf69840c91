// info_window.cpp holds TForm2, the Information window.
#include "info_window.h"

#include <QKeyEvent>

#include "outer_geometry.h"

TForm2* Form2 = nullptr;

TForm2::TForm2(QWidget* parent) : QWidget(parent) {
  setupUi(this);
  KeepStoredOuterGeometry(this);
}

void TForm2::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}
