// The run's step and time left on a window or control ("Step 3 of 10, 2:41 left"): its tooltip
// and its accessible description, so that both a pointer and a screen reader find it, without
// moving or resizing anything. A tooltip on screen for it follows the text at once. Behind a
// modal window (the main window during a step) Qt shows no tooltips at all, so there the hint is
// shown at the update after the pointer comes to rest on the widget, within a second.
#pragma once

#include <QString>

class QWidget;
class StepCountdown;

// Empty text takes the hint away again.
void ShowTimeLeftHint(QWidget* widget, const QString& text);

// Keeps widget's hint on the countdown's step and time left, and takes it away between steps; with
// name_output, a second line names the output the step plays through ("Output: AmpOut",
// "Output: fy:/dev/ttyUSB0").
// While the output is away and being opened again, kOutputAwayHint follows on a line of its own.
extern const char* const kOutputAwayHint;
void FollowCountdown(const StepCountdown* countdown, QWidget* widget, bool name_output = false);
