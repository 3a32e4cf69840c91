#include "path_text.h"

#include <QDir>

#include "plain_text.h"

namespace {

constexpr char16_t kEscapedByte = 0xDC00;

bool IsEscapedByte(char16_t unit) {
  return unit >= kEscapedByte + 0x80 && unit <= kEscapedByte + 0xFF;
}

}  // namespace

QString PathText(std::string_view bytes) {
  QString text;
  size_t run = 0;  // the start of the valid UTF-8 not yet decoded
  for (size_t at = 0; at < bytes.size();) {
    const size_t length = Utf8SequenceLength(bytes, at);
    if (length != 0) {
      at += length;
      continue;
    }
    text += QString::fromUtf8(bytes.data() + run, qsizetype(at - run));
    text += QChar(char16_t(kEscapedByte + static_cast<unsigned char>(bytes[at])));
    run = ++at;
  }
  return text + QString::fromUtf8(bytes.data() + run, qsizetype(bytes.size() - run));
}

std::string PathBytes(const QString& text) {
  std::string bytes;
  qsizetype run = 0;
  for (qsizetype at = 0; at < text.size(); ++at) {
    const char16_t unit = text[at].unicode();
    // A lone low surrogate: a pair's second half follows a high surrogate.
    if (!IsEscapedByte(unit) || (at > 0 && text[at - 1].isHighSurrogate())) continue;
    bytes += text.mid(run, at - run).toUtf8().toStdString();
    bytes += static_cast<char>(unit - kEscapedByte);
    run = at + 1;
  }
  return bytes + text.mid(run).toUtf8().toStdString();
}

QString ShownPath(const QString& text) {
  QString shown;
  for (qsizetype at = 0; at < text.size(); ++at) {
    const char16_t unit = text[at].unicode();
    const bool escaped = IsEscapedByte(unit) && !(at > 0 && text[at - 1].isHighSurrogate());
    if (escaped || unit < 0x20 || unit == 0x7F) {
      shown += QStringLiteral("\\x%1").arg(escaped ? unit - kEscapedByte : unit, 2, 16,
                                           QLatin1Char('0'));
    } else {
      shown += text[at];
    }
  }
  return shown;
}

QString ShownText(std::string_view bytes) {
  return ShownPath(PathText(bytes));
}

QString AbsolutePathText(const QString& path) {
  return QDir::cleanPath(QDir::isAbsolutePath(path) ? path : QDir::currentPath() + '/' + path);
}

QString FileNameText(const QString& path) {
  return path.mid(path.lastIndexOf('/') + 1);
}
