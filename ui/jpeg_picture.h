// Decoding the main window's picture with libjpeg-turbo's own API (not Qt's image plugins).
#pragma once

#include <QByteArray>
#include <QImage>

// Decodes a JPEG held in memory into an RGB image; a null image when it cannot be decoded
// (never throws, never stops the program).
QImage DecodeJpegPicture(const QByteArray& jpeg);
