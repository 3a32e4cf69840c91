// program_timeline.cpp holds ProgramTimeline, a program drawn as frequency over time.
#include "program_timeline.h"

#include <QBuffer>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cerrno>
#include <cmath>

#include "clock_text.h"
#include "path_text.h"
#include "program_steps_model.h"
#include "replace_file.h"

namespace {

constexpr int kLeftMargin = 48;  // the frequency axis's texts
constexpr int kMargin = 6;
// The marker's colour reads on light and dark palettes alike.
const QColor kMarkerColour(220, 50, 47);
// A wheel notch (120) shows this share of the span before it.
constexpr double kZoomPerNotch = 0.8;
// Zoomed in no further than a millisecond a pixel column.
constexpr qint64 kFinestMsPerPx = 1;

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
  // A click or Ctrl with the wheel gives it the keyboard, for Ctrl+0.
  setFocusPolicy(Qt::ClickFocus);
}

void ProgramTimeline::SetProgram(std::shared_ptr<const TreatmentProgram> program,
                                 std::vector<qint64> starts) {
  program_ = std::move(program);
  starts_ = std::move(starts);
  run_ms_ = -1;
  shown_from_ = 0;
  shown_to_ = RunLength();
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

void ProgramTimeline::ShowWhole() {
  shown_from_ = 0;
  shown_to_ = RunLength();
  update();
}

QRect ProgramTimeline::PlotRect() const {
  const int line = fontMetrics().height();
  // Room above the plot for half an axis text: the top tick's text is not cut.
  const int top = std::max(kMargin, line / 2 + 1);
  return QRect(kLeftMargin, top, std::max(1, width() - kLeftMargin - kMargin),
               std::max(1, height() - top - kMargin - line));
}

void ProgramTimeline::wheelEvent(QWheelEvent* event) {
  const qint64 total = RunLength();
  if (!(event->modifiers() & Qt::ControlModifier) || total <= 0) {
    event->ignore();  // scrolls whatever holds the timeline
    return;
  }
  event->accept();
  setFocus(Qt::MouseFocusReason);
  const int notches = event->angleDelta().y();
  if (notches == 0) return;
  const QRect plot = PlotRect();
  const double span = static_cast<double>(shown_to_ - shown_from_);
  // The time under the pointer stays under it.
  const double at = std::clamp((event->position().x() - plot.left()) / plot.width(), 0.0, 1.0);
  const double pointer_ms = shown_from_ + at * span;
  const double finest = static_cast<double>(std::min(total, kFinestMsPerPx * plot.width()));
  const double new_span = std::clamp(span * std::pow(kZoomPerNotch, notches / 120.0), finest,
                                     static_cast<double>(total));
  const double from = std::clamp(pointer_ms - at * new_span, 0.0, total - new_span);
  shown_from_ = std::llround(from);
  shown_to_ = std::min(total, shown_from_ + std::llround(new_span));
  update();
}

void ProgramTimeline::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_0 && (event->modifiers() & Qt::ControlModifier)) {
    ShowWhole();
    return;
  }
  QWidget::keyPressEvent(event);
}

void ProgramTimeline::mouseDoubleClickEvent(QMouseEvent*) {
  ShowWhole();
}

void ProgramTimeline::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  QAction* save = menu.addAction(QStringLiteral("Save plot as PNG\u2026"));
  save->setEnabled(program_ != nullptr);
  if (menu.exec(event->globalPos()) != save) return;
  const QString name = program_ && !program_->Name.empty()
                           ? QString::fromStdString(program_->Name) + QStringLiteral(".png")
                           : QStringLiteral("timeline.png");
  const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save plot as PNG"), name,
                                                    QStringLiteral("PNG images (*.png)"));
  if (path.isEmpty()) return;
  const QString error = SavePlot(path);
  if (!error.isEmpty()) QMessageBox::warning(this, QStringLiteral("Save plot as PNG"), error);
}

QString ProgramTimeline::SavePlot(const QString& path) {
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  if (!grab().toImage().save(&buffer, "PNG")) {
    return QStringLiteral("The plot could not be saved as %1: it could not be made into a PNG.")
        .arg(path);
  }
  const std::string bytes = PathBytes(path);
  errno = 0;
  if (ReplaceFileContents(bytes, png.constData(), static_cast<size_t>(png.size()))) return {};
  return QStringLiteral("The plot could not be saved as %1: %2")
      .arg(path, QString::fromLocal8Bit(WhyNotReplaced(bytes, errno)));
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
  painter.drawText(below, Qt::AlignLeft | Qt::AlignTop,
                   shown_from_ == 0 ? QStringLiteral("0:00")
                                    : QString::fromStdString(ClockTextExact(shown_from_)));
  painter.drawText(below, Qt::AlignRight | Qt::AlignTop,
                   QString::fromStdString(ClockTextExact(shown_to_)));
}

void ProgramTimeline::DrawStep(QPainter& painter, const Frame& frame, const TreatmentStep& step,
                               double x0, double x1) const {
  const double y0 = YOf(frame, step.Frequency);
  const double y1 = YOf(frame, EndOf(step));
  // Zoomed in, a step may reach far beyond the plot: only its part in view is drawn.
  const double from = std::max(x0, frame.plot.left() - 1.0);
  const double to = std::min(x1, frame.plot.right() + 2.0);
  if (to <= from) return;
  const auto share_at = [&](double x) { return (x - x0) / (x1 - x0); };
  painter.setPen(QPen(palette().color(QPalette::Mid), 1));
  if (x0 >= frame.plot.left())
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
    // Straight on the log axis.
    painter.drawLine(QPointF(from, y0 + (y1 - y0) * share_at(from)),
                     QPointF(to, y0 + (y1 - y0) * share_at(to)));
  } else {
    // Linear in hertz: a point every two pixels along the log axis's curve.
    QPolygonF curve;
    const int points = std::max(2, static_cast<int>((to - from) / 2));
    for (int k = 0; k <= points; ++k) {
      const double x = from + (to - from) * k / points;
      curve << QPointF(x, YOf(frame, HertzAt(step, share_at(x))));
    }
    painter.drawPolyline(curve);
  }
  QString label = StepLabel(step);
  if (label.isEmpty()) label = StepFrequencyText(step) + QStringLiteral(" Hz");
  const QFontMetrics metrics = painter.fontMetrics();
  const double width = metrics.horizontalAdvance(label), height = metrics.height();
  if (width + 4 > to - from) return;
  // Where the line stands at x: monotonic over the step for either law.
  const auto line_y = [&](double x) {
    if (y0 == y1 || step.ExponentialGlide) return y0 + (y1 - y0) * share_at(x);
    return YOf(frame, HertzAt(step, share_at(x)));
  };
  // Beside the line where it comes into view (its start unless zoomed past it), else at its end;
  // away from a glide (below a rising one) first. A place where the label would touch the line
  // over its own width, or leave the plot, is passed over; with none left it is not drawn.
  const double clear = 2.0;  // the pen's width
  const bool rising = y1 < y0;
  for (const double left : {from + 2, to - 2 - width}) {
    const double ya = line_y(left), yb = line_y(left + width);
    const double above = std::min(ya, yb) - clear - height;
    const double below = std::max(ya, yb) + clear;
    const double tops[] = {rising ? below : above, rising ? above : below};
    for (const double top : tops) {
      if (top < frame.plot.top() || top + height > frame.plot.bottom()) continue;
      painter.setPen(palette().color(QPalette::Text));
      painter.drawText(QRectF(left, top, width + 1, height), Qt::AlignLeft | Qt::AlignVCenter,
                       label);
      return;
    }
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
  Frame frame;
  frame.plot = PlotRect();
  frame.low_log = std::log10(static_cast<double>(low_hz_));
  frame.high_log = std::log10(static_cast<double>(high_hz_));
  frame.ms_per_px =
      static_cast<double>(std::max<qint64>(1, shown_to_ - shown_from_)) / frame.plot.width();
  DrawAxes(painter, frame);

  painter.setClipRect(frame.plot.adjusted(0, -kMargin, 1, 1));
  painter.setRenderHint(QPainter::Antialiasing);
  const auto x_of = [&](qint64 ms) {
    return frame.plot.left() + (ms - shown_from_) / frame.ms_per_px;
  };
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
  // From the step playing at the shown span's start to the one playing at its end.
  size_t k = static_cast<size_t>(std::upper_bound(starts_.begin(), starts_.end() - 1, shown_from_) -
                                 starts_.begin());
  for (k = k == 0 ? 0 : k - 1; k < steps.size() && starts_[k] <= shown_to_; ++k) {
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

  const qint64 run = std::min(run_ms_, RunLength());
  if (run_ms_ >= 0 && run >= shown_from_ && run <= shown_to_) {
    const double x = x_of(run);
    painter.setPen(QPen(kMarkerColour, 2));
    painter.drawLine(QPointF(x, frame.plot.top()), QPointF(x, frame.plot.bottom()));
  }
}
