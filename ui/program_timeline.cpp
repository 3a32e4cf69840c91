// program_timeline.cpp holds ProgramTimeline, a program drawn as frequency over time.
#include "program_timeline.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

#include "clock_text.h"
#include "program_steps_model.h"

namespace {

constexpr int kLeftMargin = 48;  // the frequency axis's texts
constexpr int kMargin = 6;
// The marker's colour reads on light and dark palettes alike.
const QColor kMarkerColour(220, 50, 47);

long double EndOf(const TreatmentStep& step) {
  return step.EndFrequency != 0.0L ? step.EndFrequency : step.Frequency;
}

// Relative luminance and contrast ratio as the web's accessibility guidelines define them.
double Luminance(const QColor& colour) {
  const auto channel = [](double c) {
    return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) +
         0.0722 * channel(colour.blueF());
}

double Contrast(const QColor& a, const QColor& b) {
  const double la = Luminance(a), lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QString AxisHertz(double hertz) {
  return hertz >= 1000.0 ? QStringLiteral("%1k").arg(hertz / 1000.0) : QString::number(hertz);
}

}  // namespace

ProgramTimeline::ProgramTimeline(QWidget* parent) : QWidget(parent) {
  setObjectName("ProgramTimeline");
  setAccessibleName("Timeline");
  setAttribute(Qt::WA_OpaquePaintEvent);
  setBackgroundRole(QPalette::Base);
}

void ProgramTimeline::SetProgram(std::shared_ptr<const TreatmentProgram> program,
                                 std::vector<qint64> starts) {
  program_ = std::move(program);
  starts_ = std::move(starts);
  run_ms_ = -1;
  low_hz_ = 1.0L;
  high_hz_ = 10000.0L;
  if (program_ && !program_->Steps.empty()) {
    low_hz_ = high_hz_ = program_->Steps.front().Frequency;
    for (const TreatmentStep& step : program_->Steps) {
      low_hz_ = std::min({low_hz_, step.Frequency, EndOf(step)});
      high_hz_ = std::max({high_hz_, step.Frequency, EndOf(step)});
    }
    // Room above and below, and at least a decade for one frequency alone.
    low_hz_ /= 1.25L;
    high_hz_ *= 1.25L;
    if (high_hz_ / low_hz_ < 10.0L) {
      const long double middle = std::sqrt(low_hz_ * high_hz_);
      low_hz_ = middle / std::sqrt(10.0L);
      high_hz_ = middle * std::sqrt(10.0L);
    }
  }
  setAccessibleDescription(program_ ? QStringLiteral("%1 steps, %2 Hz to %3 Hz")
                                          .arg(program_->Steps.size())
                                          .arg(HertzText(low_hz_ * 1.25L))
                                          .arg(HertzText(high_hz_ / 1.25L))
                                    : QString());
  update();
}

void ProgramTimeline::SetRunPosition(qint64 ms) {
  if (ms == run_ms_) return;
  run_ms_ = ms;
  update();
}

QColor ProgramTimeline::LineColour() const {
  const QColor background = palette().color(QPalette::Base);
  for (const QPalette::ColorRole role : {QPalette::Highlight, QPalette::Link}) {
    if (Contrast(palette().color(role), background) >= 4.5) return palette().color(role);
  }
  return palette().color(QPalette::Text);
}

long double ProgramTimeline::HertzAt(const TreatmentStep& step, double share) {
  const long double end = EndOf(step);
  if (step.ExponentialGlide) return step.Frequency * std::pow(end / step.Frequency, share);
  return step.Frequency + (end - step.Frequency) * share;
}

QSize ProgramTimeline::sizeHint() const {
  return {400, 120};
}

QSize ProgramTimeline::minimumSizeHint() const {
  return {160, 60};
}

double ProgramTimeline::YOf(const Frame& frame, long double hertz) const {
  const double share =
      (std::log10(static_cast<double>(hertz)) - frame.low_log) / (frame.high_log - frame.low_log);
  return frame.plot.bottom() - share * frame.plot.height();
}

void ProgramTimeline::DrawAxes(QPainter& painter, const Frame& frame) const {
  const QFontMetrics metrics = painter.fontMetrics();
  painter.setPen(palette().color(QPalette::Mid));
  painter.drawRect(frame.plot);
  // 1, 2 and 5 of each decade where they have room, else the decades alone.
  const int line = metrics.height();
  const bool crowded = frame.plot.height() < line * 3 * (frame.high_log - frame.low_log);
  int last_y = std::numeric_limits<int>::max();
  for (int decade = static_cast<int>(std::floor(frame.low_log));
       decade <= static_cast<int>(std::ceil(frame.high_log)); ++decade) {
    for (const double mantissa : {1.0, 2.0, 5.0}) {
      if (crowded && mantissa != 1.0) continue;
      const double hertz = mantissa * std::pow(10.0, decade);
      const double log = std::log10(hertz);
      if (log < frame.low_log || log > frame.high_log) continue;
      const int y = static_cast<int>(std::lround(YOf(frame, hertz)));
      if (last_y - y < line) continue;
      last_y = y;
      painter.setPen(palette().color(QPalette::Midlight));
      painter.drawLine(frame.plot.left(), y, frame.plot.right(), y);
      painter.setPen(palette().color(QPalette::Text));
      painter.drawText(QRect(0, y - line / 2, kLeftMargin - 4, line),
                       Qt::AlignRight | Qt::AlignVCenter, AxisHertz(hertz));
    }
  }
  painter.setPen(palette().color(QPalette::Text));
  const QRect below(frame.plot.left(), frame.plot.bottom() + 2, frame.plot.width(), line);
  painter.drawText(below, Qt::AlignLeft | Qt::AlignTop, QStringLiteral("0:00"));
  painter.drawText(below, Qt::AlignRight | Qt::AlignTop,
                   QString::fromStdString(ClockTextExact(starts_.back())));
}

void ProgramTimeline::DrawStep(QPainter& painter, const Frame& frame, const TreatmentStep& step,
                               double x0, double x1) const {
  const double y0 = YOf(frame, step.Frequency);
  const double y1 = YOf(frame, EndOf(step));
  painter.setPen(QPen(palette().color(QPalette::Mid), 1));
  painter.drawLine(QPointF(x0, frame.plot.top()), QPointF(x0, frame.plot.bottom()));
  QPen pen(LineColour(), 2);
  if (step.GateMillihertz != 0) {
    // A gated step is a broken line, its dashes the on share of a gate cycle, 8 pixels a cycle
    // (in the pen's widths).
    const double on = std::clamp(8.0 * step.GateOnPercent / 100.0, 1.0, 7.0);
    pen.setDashPattern({on / 2, (8.0 - on) / 2});
  }
  painter.setPen(pen);
  if (y0 == y1 || step.ExponentialGlide) {
    painter.drawLine(QPointF(x0, y0), QPointF(x1, y1));
  } else {
    // Linear in hertz: a point every two pixels along the log axis's curve.
    QPolygonF curve;
    const int points = std::max(2, static_cast<int>((x1 - x0) / 2));
    for (int k = 0; k <= points; ++k) {
      const double share = static_cast<double>(k) / points;
      curve << QPointF(x0 + (x1 - x0) * share, YOf(frame, HertzAt(step, share)));
    }
    painter.drawPolyline(curve);
  }
  QString label = StepLabel(step);
  if (label.isEmpty()) label = StepFrequencyText(step) + QStringLiteral(" Hz");
  const QFontMetrics metrics = painter.fontMetrics();
  if (metrics.horizontalAdvance(label) + 4 <= x1 - x0) {
    painter.setPen(palette().color(QPalette::Text));
    // Above the line's start, away from a rising glide (below it), or below where the plot's
    // top leaves no room.
    double top = y1 < y0 ? y0 + 2 : y0 - metrics.height() - 1;
    if (top < frame.plot.top())
      top = std::min<double>(y0 + 2, frame.plot.bottom() - metrics.height());
    if (top + metrics.height() > frame.plot.bottom()) top = y0 - metrics.height() - 1;
    painter.drawText(QRectF(x0 + 2, top, x1 - x0 - 4, metrics.height()),
                     Qt::AlignLeft | Qt::AlignVCenter, label);
  }
}

void ProgramTimeline::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().color(QPalette::Base));
  if (!program_ || program_->Steps.empty() || starts_.size() != program_->Steps.size() + 1) {
    painter.setPen(palette().color(QPalette::PlaceholderText));
    painter.drawText(rect(), Qt::AlignCenter, QStringLiteral("No program selected"));
    return;
  }
  const int line = painter.fontMetrics().height();
  Frame frame;
  // Room above the plot for half an axis text: the top tick's text is not cut.
  const int top = std::max(kMargin, line / 2 + 1);
  frame.plot = QRect(kLeftMargin, top, std::max(1, width() - kLeftMargin - kMargin),
                     std::max(1, height() - top - kMargin - line));
  frame.low_log = std::log10(static_cast<double>(low_hz_));
  frame.high_log = std::log10(static_cast<double>(high_hz_));
  frame.ms_per_px = static_cast<double>(starts_.back()) / frame.plot.width();
  DrawAxes(painter, frame);

  painter.setClipRect(frame.plot.adjusted(0, -kMargin, 1, 1));
  painter.setRenderHint(QPainter::Antialiasing);
  const auto x_of = [&](qint64 ms) { return frame.plot.left() + ms / frame.ms_per_px; };
  // Steps narrower than a pixel share their column: one stroke from the lowest to the highest.
  int column = -1;
  double column_top = 0, column_bottom = 0;
  const auto flush = [&] {
    if (column < 0) return;
    painter.setPen(QPen(LineColour(), 1));
    painter.drawLine(QPointF(column + 0.5, column_top), QPointF(column + 0.5, column_bottom));
    column = -1;
  };
  const std::vector<TreatmentStep>& steps = program_->Steps;
  for (size_t k = 0; k < steps.size(); ++k) {
    const double x0 = x_of(starts_[k]);
    const double x1 = x_of(starts_[k + 1]);
    if (x1 - x0 >= 1.0) {
      flush();
      DrawStep(painter, frame, steps[k], x0, x1);
      continue;
    }
    const double y0 = YOf(frame, steps[k].Frequency);
    const double y1 = YOf(frame, EndOf(steps[k]));
    const int here = static_cast<int>(x0);
    if (here != column) {
      flush();
      column = here;
      column_top = std::min(y0, y1);
      column_bottom = std::max(y0, y1);
    } else {
      column_top = std::min({column_top, y0, y1});
      column_bottom = std::max({column_bottom, y0, y1});
    }
  }
  flush();

  if (run_ms_ >= 0) {
    const double x = x_of(std::min(run_ms_, starts_.back()));
    painter.setPen(QPen(kMarkerColour, 2));
    painter.drawLine(QPointF(x, frame.plot.top()), QPointF(x, frame.plot.bottom()));
  }
}
