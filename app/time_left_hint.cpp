#include "time_left_hint.h"

#include <QCursor>
#include <QToolTip>
#include <QWidget>

void ShowTimeLeftHint(QWidget* widget, const QString& text) {
  const QString before = widget->toolTip();
  if (before == text) return;
  widget->setToolTip(text);
  widget->setAccessibleDescription(text);
  // A tooltip keeps the text it was shown with; the one showing this widget's hint is replaced.
  if (!before.isEmpty() && QToolTip::isVisible() && QToolTip::text() == before) {
    if (text.isEmpty()) {
      QToolTip::hideText();
    } else {
      QToolTip::showText(QCursor::pos(), text, widget);
    }
  }
}
