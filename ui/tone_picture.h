// tone_picture.cpp holds TonePicture, the Tone generator window's picture: above, the start of the
// rendered tone as a waveform (a few periods; the mouse wheel or + and - zoom); below, the
// envelope's level over the whole duration. It draws what it is given (tone_preview.h) in the
// palette's colours, so it reads on light and dark palettes alike, and describes itself to
// screen readers.
#pragma once

#include <QString>
#include <QWidget>
#include <vector>

class TonePicture : public QWidget {
  Q_OBJECT

 public:
  explicit TonePicture(QWidget* parent = nullptr);

  // samples: -1..1, frame_rate frames per second; caption names what is shown.
  void SetWaveform(std::vector<float> samples, int frame_rate, const QString& caption);
  // levels: 0..1, evenly over duration_ms.
  void SetEnvelope(std::vector<float> levels, int duration_ms);

  // The curve's colour: the palette's highlight, mixed towards its text colour where the highlight
  // would stand out from the background by less than 4.5 : 1 (dark palettes).
  static QColor CurveColour(const QPalette& colours);

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 signals:
  // The user asked to see more (steps > 0) or fewer periods.
  void ZoomRequested(int steps);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Describe();

  std::vector<float> samples_;
  int frame_rate_ = 0;
  QString caption_;
  std::vector<float> envelope_;
  int duration_ms_ = 0;
  int wheel_rest_ = 0;  // wheel turns below one step, kept for the next event
};
