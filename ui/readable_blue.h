// The blue of the frequency and "End" labels, kept readable whatever the desktop's palette. On a
// light palette it is exactly the stored pure blue; on a dark one (window text lighter than the
// window) the same hue is lifted towards white just far enough to stand out from the window
// background by a contrast ratio of 4.5 : 1 (relative luminance as the WCAG define it). The
// label follows palette changes while the program runs.
#pragma once

#include <QColor>
#include <QLabel>

// Relative luminance of an sRGB colour, 0 for black to 1 for white.
double RelativeLuminance(const QColor& colour);

// (lighter + 0.05) / (darker + 0.05): 1 for equal colours, 21 for black on white.
double ContrastRatio(const QColor& a, const QColor& b);

// The blue for text in colour text_colour's place on a background of colour background.
QColor ReadableBlue(const QColor& background, const QColor& text_colour);

// Gives the label that blue now and again whenever its palette or the application's changes.
void KeepBlueReadable(QLabel* label);
