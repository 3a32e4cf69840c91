// File names as Linux keeps them, bytes that need not be UTF-8, carried in a QString without
// loss: valid UTF-8 is decoded as usual, and each byte that is not part of it becomes one of the
// code units U+DC80 to U+DCFF, which no valid UTF-8 decodes to (Python's "surrogateescape").
// Qt's own conversions (QFile::encodeName, toLocal8Bit) would replace such bytes with U+FFFD in
// every locale, and the file could then not be opened. QtCore only.
#pragma once

#include <QString>
#include <string>
#include <string_view>

// The name's bytes as text, losslessly.
QString PathText(std::string_view bytes);
// The bytes PathText made the text of (and UTF-8 for any other text).
std::string PathBytes(const QString& text);
// The text to show a person: each byte that is not UTF-8, and each control character, written
// as \xNN.
QString ShownPath(const QString& text);
// ShownPath of the bytes' text: for messages that name a file.
QString ShownText(std::string_view bytes);
// The path made absolute and cleaned, and its last part, by text alone: QFileInfo would pass
// the path through the lossy conversion.
QString AbsolutePathText(const QString& path);
QString FileNameText(const QString& path);
