// The main window's picture decoder against Qt's own JPEG reader, and the asset's format.
#include "jpeg_picture.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <cstdlib>

namespace {

QByteArray ReadAsset() {
  QFile file(ZELKGEN_PICTURE_PATH);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

// Finds the first start-of-frame marker; returns its type byte (C0 baseline, C2 progressive ...).
int FrameMarker(const QByteArray& jpeg, int* components, int* width, int* height) {
  for (qsizetype i = 2; i + 9 < jpeg.size(); ++i) {
    const auto byte = [&](qsizetype k) { return static_cast<unsigned char>(jpeg[k]); };
    if (byte(i) == 0xFF && byte(i + 1) >= 0xC0 && byte(i + 1) <= 0xC3) {
      *height = byte(i + 5) << 8 | byte(i + 6);
      *width = byte(i + 7) << 8 | byte(i + 8);
      *components = byte(i + 9);
      return byte(i + 1);
    }
  }
  return -1;
}

TEST(JpegPicture, AssetIsABaselineThreeComponentPictureOfTheLayoutSize) {
  const QByteArray jpeg = ReadAsset();
  ASSERT_FALSE(jpeg.isEmpty());
  int components = 0, width = 0, height = 0;
  EXPECT_EQ(FrameMarker(jpeg, &components, &width, &height), 0xC0);
  EXPECT_EQ(components, 3);
  EXPECT_EQ(width, 166);
  EXPECT_EQ(height, 182);
}

TEST(JpegPicture, DecodesLikeAnIndependentReader) {
  const QByteArray jpeg = ReadAsset();
  const QImage ours = DecodeJpegPicture(jpeg);
  ASSERT_FALSE(ours.isNull());
  ASSERT_EQ(ours.size(), QSize(166, 182));

  QBuffer buffer;
  buffer.setData(jpeg);
  QImageReader reader(&buffer, "jpeg");
  const QImage theirs = reader.read().convertToFormat(QImage::Format_RGB888);
  if (theirs.isNull()) GTEST_SKIP() << "Qt's JPEG reader is not available: " << reader.errorString().toStdString();
  ASSERT_EQ(theirs.size(), ours.size());
  int worst = 0;
  for (int y = 0; y < ours.height(); ++y) {
    for (int x = 0; x < ours.width(); ++x) {
      const QRgb a = ours.pixel(x, y);
      const QRgb b = theirs.pixel(x, y);
      worst = std::max({worst, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                        std::abs(qBlue(a) - qBlue(b))});
    }
  }
  // Both sit on libjpeg; only the inverse DCT or upsampling choice may differ by a step or two.
  EXPECT_LE(worst, 3);
}

TEST(JpegPicture, AnythingThatIsNotAJpegGivesANullImage) {
  EXPECT_TRUE(DecodeJpegPicture(QByteArray()).isNull());
  EXPECT_TRUE(DecodeJpegPicture(QByteArray("not a picture at all")).isNull());
  QByteArray header_only = ReadAsset().left(2);
  EXPECT_TRUE(DecodeJpegPicture(header_only).isNull());
  // A PNG is a picture, but not one this decoder takes.
  QImage png_source(4, 4, QImage::Format_RGB888);
  png_source.fill(Qt::red);
  QByteArray png;
  QBuffer png_buffer(&png);
  png_buffer.open(QIODevice::WriteOnly);
  png_source.save(&png_buffer, "PNG");
  EXPECT_TRUE(DecodeJpegPicture(png).isNull());
}

}  // namespace
