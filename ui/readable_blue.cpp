#include "readable_blue.h"

#include <QEvent>
#include <QPalette>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <cmath>

namespace {

constexpr double kMinimumContrast = 4.5;

double LinearChannel(int value) {
  const double c = value / 255.0;
  return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

// The three colour groups a label is painted with: the window active, inactive and disabled.
constexpr QPalette::ColorGroup kGroups[] = {QPalette::Active, QPalette::Inactive,
                                            QPalette::Disabled};

void ApplyReadableBlue(QLabel* label) {
  // The label's own text colour is the blue; the theme's text colour is the one around it.
  const QWidget* around = label->parentWidget();
  const QPalette theme = around ? around->palette() : QPalette();
  // Only the text colour is set, so the rest keeps following the window.
  QPalette blue;
  bool changed = false;
  for (QPalette::ColorGroup group : kGroups) {
    const QColor wanted = ReadableBlue(label->palette().color(group, QPalette::Window),
                                       theme.color(group, QPalette::WindowText));
    blue.setColor(group, QPalette::WindowText, wanted);
    changed |= label->palette().color(group, QPalette::WindowText) != wanted;
  }
  if (changed) label->setPalette(blue);
}

class BlueKeeper : public QObject {
 public:
  explicit BlueKeeper(QLabel* label) : QObject(label), label_(label) {}

  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::PaletteChange) {
      ApplyReadableBlue(label_);
    } else if (event->type() == QEvent::ApplicationPaletteChange) {
      // The label takes on the new palette only after this event has passed the filter.
      QPointer<QLabel> label = label_;
      QTimer::singleShot(0, this, [label] {
        if (label) ApplyReadableBlue(label);
      });
    }
    return false;
  }

 private:
  QLabel* label_;
};

}  // namespace

double RelativeLuminance(const QColor& colour) {
  const QColor rgb = colour.toRgb();
  return 0.2126 * LinearChannel(rgb.red()) + 0.7152 * LinearChannel(rgb.green()) +
         0.0722 * LinearChannel(rgb.blue());
}

double ContrastRatio(const QColor& a, const QColor& b) {
  const double la = RelativeLuminance(a);
  const double lb = RelativeLuminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor ReadableBlue(const QColor& background, const QColor& text_colour) {
  const QColor blue(0, 0, 255);
  if (RelativeLuminance(background) >= RelativeLuminance(text_colour)) return blue;
  // Red and green raised together keep the hue and only make the blue lighter.
  for (int lift = 0; lift < 255; ++lift) {
    const QColor lighter(lift, lift, 255);
    if (ContrastRatio(lighter, background) >= kMinimumContrast) return lighter;
  }
  // A background too light for any blue to reach the ratio: the most readable one.
  return QColor(255, 255, 255);
}

void KeepBlueReadable(QLabel* label) {
  label->installEventFilter(new BlueKeeper(label));
  ApplyReadableBlue(label);
}
