// TImage: a picture area that draws its picture at natural size from its top-left corner,
// neither stretched nor centred, clipped to the area. Without a picture it stays empty.
#pragma once

#include <QImage>
#include <QWidget>

class TImage : public QWidget {
  Q_OBJECT

 public:
  explicit TImage(QWidget* parent = nullptr);

  const QImage& Picture() const { return picture_; }
  void SetPicture(const QImage& picture);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage picture_;
};
