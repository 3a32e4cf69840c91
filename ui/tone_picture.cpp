// tone_picture.cpp holds TonePicture, the Tone generator window's picture.
#include "tone_picture.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>
#include <algorithm>
#include <cstddef>
#include <utility>

#include "readable_blue.h"

namespace {

// The least contrast of the curve against the picture's background (as for text).
constexpr double kReadableContrast = 4.5;

// One step of a mouse wheel, in the eighths of a degree Qt counts.
constexpr int kWheelStep = 120;

// Draws values (from low to high) as a line across area, values spread evenly over its width.
// Where several values share a pixel column, the column shows their range, so that a long stretch
// of tone costs a line per column and still shows every peak.
void DrawCurve(QPainter& painter, const QRectF& area, const std::vector<float>& values, float low,
               float high) {
  if (values.size() < 2) return;
  const auto y_of = [&](float value) {
    return area.bottom() - (value - low) / (high - low) * area.height();
  };
  QPainterPath path;
  const auto columns = static_cast<size_t>(std::max(1.0, area.width()));
  if (values.size() <= 2 * columns) {
    const double x_step = area.width() / static_cast<double>(values.size() - 1);
    path.moveTo(area.left(), y_of(values.front()));
    for (size_t i = 1; i < values.size(); ++i) {
      path.lineTo(area.left() + x_step * static_cast<double>(i), y_of(values[i]));
    }
  } else {
    for (size_t column = 0; column < columns; ++column) {
      const size_t first = column * values.size() / columns;
      const size_t last = std::max(first + 1, (column + 1) * values.size() / columns);
      const auto [lowest, highest] =
          std::minmax_element(values.begin() + static_cast<std::ptrdiff_t>(first),
                              values.begin() + static_cast<std::ptrdiff_t>(last));
      const double x = area.left() + static_cast<double>(column);
      if (column == 0) path.moveTo(x, y_of(*lowest));
      path.lineTo(x, y_of(*lowest));
      path.lineTo(x, y_of(*highest));
    }
  }
  painter.drawPath(path);
}

}  // namespace

TonePicture::TonePicture(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::StrongFocus);
  setAccessibleName("Tone picture");
  setToolTip("The tone's first periods above, its envelope below; wheel or + and - to zoom");
}

void TonePicture::SetWaveform(std::vector<float> samples, int frame_rate, const QString& caption) {
  samples_ = std::move(samples);
  frame_rate_ = frame_rate;
  caption_ = caption;
  Describe();
  update();
}

void TonePicture::SetEnvelope(std::vector<float> levels, int duration_ms) {
  envelope_ = std::move(levels);
  duration_ms_ = duration_ms;
  Describe();
  update();
}

void TonePicture::Describe() {
  setAccessibleDescription(
      QStringLiteral("Waveform: %1. Envelope over %2 ms.").arg(caption_).arg(duration_ms_));
}

QSize TonePicture::sizeHint() const {
  return {420, 190};
}

QColor TonePicture::CurveColour(const QPalette& colours) {
  const QColor base = colours.color(QPalette::Base);
  const QColor highlight = colours.color(QPalette::Highlight);
  const QColor text = colours.color(QPalette::Text);
  // Mixed towards the text colour in steps of a twentieth, just far enough to read; the text
  // colour itself at the end.
  for (int step = 0; step <= 20; ++step) {
    const double t = step / 20.0;
    const QColor mixed = QColor::fromRgbF(
        static_cast<float>(highlight.redF() + (text.redF() - highlight.redF()) * t),
        static_cast<float>(highlight.greenF() + (text.greenF() - highlight.greenF()) * t),
        static_cast<float>(highlight.blueF() + (text.blueF() - highlight.blueF()) * t));
    if (ContrastRatio(mixed, base) >= kReadableContrast) return step == 0 ? highlight : mixed;
  }
  return text;
}

QSize TonePicture::minimumSizeHint() const {
  return {200, 110};
}

void TonePicture::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QPalette& colours = palette();
  const int text_height = fontMetrics().height();
  const QRectF whole = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  painter.fillRect(rect(), colours.color(QPalette::Base));
  painter.setPen(colours.color(QPalette::Mid));
  painter.drawRect(whole);

  // The waveform takes three fifths of the height, the envelope the rest; each with its caption.
  const double split = whole.top() + whole.height() * 0.6;
  const QRectF wave_caption(whole.left() + 4, whole.top() + 2, whole.width() - 8, text_height);
  const QRectF wave_area(whole.left() + 4, wave_caption.bottom() + 2, whole.width() - 8,
                         split - wave_caption.bottom() - 6);
  const QRectF envelope_caption(whole.left() + 4, split + 2, whole.width() - 8, text_height);
  const QRectF envelope_area(whole.left() + 4, envelope_caption.bottom() + 2, whole.width() - 8,
                             whole.bottom() - envelope_caption.bottom() - 6);

  painter.setPen(colours.color(QPalette::Text));
  painter.drawText(wave_caption, Qt::AlignLeft | Qt::AlignVCenter, caption_);
  painter.drawText(envelope_caption, Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("Envelope over %1 ms").arg(duration_ms_));

  QPen guide(colours.color(QPalette::Mid), 1, Qt::DashLine);
  painter.setPen(guide);
  painter.drawLine(QPointF(wave_area.left(), wave_area.center().y()),
                   QPointF(wave_area.right(), wave_area.center().y()));
  painter.drawLine(QPointF(whole.left(), split), QPointF(whole.right(), split));
  painter.drawLine(QPointF(envelope_area.left(), envelope_area.bottom()),
                   QPointF(envelope_area.right(), envelope_area.bottom()));

  QPen curve(CurveColour(colours), 1.5);
  painter.setPen(curve);
  DrawCurve(painter, wave_area, samples_, -1.0f, 1.0f);
  DrawCurve(painter, envelope_area, envelope_, 0.0f, 1.0f);

  if (hasFocus()) {
    painter.setPen(QPen(colours.color(QPalette::Highlight), 1, Qt::DotLine));
    painter.drawRect(whole.adjusted(1, 1, -1, -1));
  }
}

void TonePicture::wheelEvent(QWheelEvent* event) {
  wheel_rest_ += event->angleDelta().y();
  const int steps = wheel_rest_ / kWheelStep;
  wheel_rest_ -= steps * kWheelStep;
  // Turning the wheel away from the user zooms in: fewer periods.
  if (steps != 0) emit ZoomRequested(-steps);
  event->accept();
}

void TonePicture::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Plus:
      emit ZoomRequested(-1);
      return;
    case Qt::Key_Minus:
      emit ZoomRequested(1);
      return;
    default:
      QWidget::keyPressEvent(event);
  }
}
