// Labels size themselves to their text: the left and top edges stay where the window's stored
// settings put them and the label grows or shrinks to the right.
#pragma once

#include <QLabel>
#include <QString>

void SetCaption(QLabel* label, const QString& text);

// Fits every label of a freshly created window to the text it was created with.
void FitLabelsToText(QWidget* window);

// What a screen reader reads for a label that shows the sounding frequency: "Current frequency",
// then ": " and frequency ("10000HZ") while one sounds.
void NameFrequencyLabel(QLabel* label, const QString& frequency);
