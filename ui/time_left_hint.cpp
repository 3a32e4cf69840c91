#include "time_left_hint.h"

#include <QApplication>
#include <QCursor>
#include <QToolTip>
#include <QWidget>

#include "output_choice.h"
#include "step_countdown.h"

namespace {

// True while a modal window other than the widget's own takes the input: the widget's window
// then gets no pointer events, so Qt never shows its tooltip on its own.
bool BehindAModalWindow(const QWidget* widget) {
  const QWidget* modal = QApplication::activeModalWidget();
  return modal != nullptr && modal->window() != widget->window();
}

}  // namespace

const char* const kOutputAwayHint =
    "The sound output went away; trying to open it again for up to 10 seconds.\n"
    "The step's time stands still until its tone is back, so the step still sounds for its whole "
    "time.";

void ShowTimeLeftHint(QWidget* widget, const QString& text) {
  const QString before = widget->toolTip();
  if (before == text) return;
  widget->setToolTip(text);
  widget->setAccessibleDescription(text);
  const bool showing_before =
      !before.isEmpty() && QToolTip::isVisible() && QToolTip::text() == before;
  // On the widget or on a child of it that has no tooltip of its own (a window's controls).
  const QWidget* at = QApplication::widgetAt(QCursor::pos());
  const bool pointed_at = widget->isVisible() && at != nullptr &&
                          (at == widget || (widget->isAncestorOf(at) && at->toolTip().isEmpty()));
  if (!text.isEmpty() && pointed_at && (showing_before || BehindAModalWindow(widget))) {
    // A tooltip keeps the text it was shown with; behind a modal window it is shown from here,
    // while the pointer rests on the widget, at each update.
    QToolTip::showText(QCursor::pos(), text, widget, widget->rect());
  } else if (showing_before) {
    QToolTip::hideText();
  }
}

void FollowCountdown(const StepCountdown* countdown, QWidget* widget, bool name_output) {
  QObject::connect(countdown, &StepCountdown::TimeLeft, widget,
                   [widget, name_output](const StepProgress& p) {
                     QString text = StepTimeLeftText(p);
                     if (p.output_away) text += QStringLiteral("\n") + kOutputAwayHint;
                     if (name_output) text += "\nOutput: " + ChosenOutputText();
                     ShowTimeLeftHint(widget, text);
                   });
  QObject::connect(countdown, &StepCountdown::Cleared, widget,
                   [widget] { ShowTimeLeftHint(widget, {}); });
}
