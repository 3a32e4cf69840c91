// Labels size themselves to their text: the left and top edges stay where the window's stored
// settings put them and the label grows or shrinks to the right.
#pragma once

#include <QLabel>
#include <QString>

void SetCaption(QLabel* label, const QString& text);

// SetCaption for a text that may be longer than the window has room for (a program file's
// label): where it would reach past right (in the parent's coordinates) it ends in "..." there,
// and the whole text is the label's tooltip. A text that fits is set as SetCaption sets it.
void SetCaptionWithin(QLabel* label, const QString& text, int right);

// Fits every label of a freshly created window to the text it was created with.
void FitLabelsToText(QWidget* window);

// What a screen reader reads for a label that shows the sounding frequency: "Current frequency",
// then ": " and frequency ("10000HZ") while one sounds.
void NameFrequencyLabel(QLabel* label, const QString& frequency);
