#include "auto_size_label.h"

void SetCaption(QLabel* label, const QString& text) {
  label->setText(text);
  label->resize(label->sizeHint());
}

void SetCaptionWithin(QLabel* label, const QString& text, int right) {
  const int room = right - label->x();
  const QString shown = label->fontMetrics().elidedText(text, Qt::ElideRight, room);
  SetCaption(label, shown);
  label->setToolTip(shown == text ? QString() : text);
}

void FitLabelsToText(QWidget* window) {
  for (QLabel* label : window->findChildren<QLabel*>()) {
    label->resize(label->sizeHint());
  }
}

void NameFrequencyLabel(QLabel* label, const QString& frequency) {
  label->setAccessibleName(frequency.isEmpty() ? QStringLiteral("Current frequency")
                                               : "Current frequency: " + frequency);
}
