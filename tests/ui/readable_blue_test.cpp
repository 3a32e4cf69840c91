// The blue labels as the user sees them: the window rendered with a light and a dark palette,
// the contrast of the label's text pixels against the window measured as the WCAG define it.
#include <QPalette>
#include <QStyle>
#include <cmath>

#include "app_fixture.h"
#include "auto_size_label.h"

namespace {

double Luminance(QRgb pixel) {
  auto linear = [](int v) {
    const double c = v / 255.0;
    return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * linear(qRed(pixel)) + 0.7152 * linear(qGreen(pixel)) +
         0.0722 * linear(qBlue(pixel));
}

double Contrast(QRgb a, QRgb b) {
  const double la = Luminance(a), lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// A dark desktop palette: light text on dark grey, or on black.
QPalette DarkPalette(QColor window) {
  QPalette palette = QApplication::style()->standardPalette();
  for (auto role : {QPalette::Window, QPalette::Button, QPalette::Base}) {
    palette.setColor(role, window);
  }
  for (auto role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text}) {
    palette.setColor(role, QColor(230, 230, 230));
  }
  return palette;
}

// The label's pixel that stands out most from the window background, as rendered in its window.
QRgb MostContrastingPixel(QWidget* window, QLabel* label, QRgb background) {
  const QImage shown = window->grab(label->geometry()).toImage();
  QRgb best = background;
  for (int y = 0; y < shown.height(); ++y) {
    for (int x = 0; x < shown.width(); ++x) {
      if (Contrast(shown.pixel(x, y), background) > Contrast(best, background)) {
        best = shown.pixel(x, y);
      }
    }
  }
  return best;
}

using BlueLabels = WindowsTest;

TEST_F(BlueLabels, StayPureBlueOnLightPalettesAndReadableOnDarkOnesAsThePaletteChanges) {
  const QPalette original = QApplication::palette();
  SetCaption(Form1->Label1, "End");
  SetCaption(Form3->Label1, "2128HZ");
  const struct {
    const char* name;
    QPalette palette;
    bool light;
  } palettes[] = {
      {"light", QApplication::style()->standardPalette(), true},
      {"dark grey", DarkPalette(QColor(53, 53, 53)), false},
      {"black", DarkPalette(Qt::black), false},
      {"light again", QApplication::style()->standardPalette(), true},
  };
  const struct {
    QWidget* window;
    QLabel* label;
  } labels[] = {{Form1, Form1->Label1}, {Form3, Form3->Label1}};

  for (const auto& p : palettes) {
    QApplication::setPalette(p.palette);
    QCoreApplication::processEvents();
    for (const auto& l : labels) {
      SCOPED_TRACE(testing::Message()
                   << p.name << " palette, " << l.window->objectName().toStdString());
      const QRgb background = p.palette.color(QPalette::Active, QPalette::Window).rgb();
      ASSERT_EQ(l.window->palette().color(QPalette::Window).rgb(), background);
      const QRgb text = MostContrastingPixel(l.window, l.label, background);
      EXPECT_GE(Contrast(text, background), 4.5);
      if (p.light) {
        EXPECT_EQ(QColor(text), QColor(0, 0, 255));
      } else {
        // Still a blue: blue the strongest channel, red and green alike.
        EXPECT_EQ(qBlue(text), 255);
        EXPECT_EQ(qRed(text), qGreen(text));
        EXPECT_LT(qRed(text), 255);
      }
    }
  }
  QApplication::setPalette(original);
}

}  // namespace
