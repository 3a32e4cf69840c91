// ProgramTimeline: a program drawn as frequency over time, the frequency on a logarithmic axis:
// each step a line at its frequency (a glide drawn as it sounds: linear in hertz, a curve on the
// logarithmic axis; a glide in octaves a straight slope), a gated step a broken line whose dashes
// are its on share, a tick at each step's start, and a step's label beside its line and clear of
// it, at its start on the side away from a glide, else at its end, else (no room) left out. The
// line's colour is the palette's, the first of Highlight, Link and Text that stands out from the
// background at 4.5:1 or more.
// During a run a marker stands at the point the run has reached.
//
// Ctrl with the mouse wheel zooms the time axis around the pointer (the wheel alone goes on to
// the window); Ctrl+0 or a double click shows the whole program again. The context menu saves
// the plot as shown as a PNG file.
//
// Quick for the largest programs (10 000 steps, 24 hours): steps narrower than a pixel are
// gathered per pixel column into one stroke from their lowest to their highest frequency, so a
// paint costs one pass over the steps and at most a few strokes per column.
//
// Window thread only.
#pragma once

#include <QWidget>
#include <memory>
#include <vector>

#include "treatment_programs.h"

class QPainter;

class ProgramTimeline : public QWidget {
  Q_OBJECT

 public:
  explicit ProgramTimeline(QWidget* parent = nullptr);

  // Draws program, its steps starting at starts (one entry more than steps: the run's length
  // last). Null: an empty timeline. Clears the marker.
  void SetProgram(std::shared_ptr<const TreatmentProgram> program, std::vector<qint64> starts);
  // The marker at ms from the run's start; a negative ms hides it.
  void SetRunPosition(qint64 ms);
  qint64 RunPosition() const { return run_ms_; }

  // The colour the steps are drawn in, for the palette as it stands.
  QColor LineColour() const;
  // The frequency step sounds at share (0 to 1) of its length.
  static long double HertzAt(const TreatmentStep& step, double share);

  // The part of the run shown, from and to in ms from its start: the whole run unless zoomed.
  qint64 ShownFrom() const { return shown_from_; }
  qint64 ShownTo() const { return shown_to_; }
  // The plot as shown, written to path as PNG whole or not at all. Empty when written, else the
  // reason to tell the user.
  QString SavePlot(const QString& path);

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  // Where the plot's parts go, for one paint.
  struct Frame {
    QRect plot;
    double low_log;    // log10 of the lowest frequency shown, at plot.bottom()
    double high_log;   // log10 of the highest, at plot.top()
    double ms_per_px;  // time per pixel column
  };
  QRect PlotRect() const;
  qint64 RunLength() const { return starts_.empty() ? 0 : starts_.back(); }
  void ShowWhole();
  double YOf(const Frame& frame, long double hertz) const;
  void DrawAxes(QPainter& painter, const Frame& frame) const;
  // One step at least a pixel wide: its line or slope, its start tick, its label where it fits.
  void DrawStep(QPainter& painter, const Frame& frame, const TreatmentStep& step, double x0,
                double x1) const;

  std::shared_ptr<const TreatmentProgram> program_;
  std::vector<qint64> starts_;
  long double low_hz_ = 1.0L;
  long double high_hz_ = 10000.0L;
  qint64 run_ms_ = -1;
  qint64 shown_from_ = 0;
  qint64 shown_to_ = 0;
};
