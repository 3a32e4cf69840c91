// Byte-level looks at plain text, shared by the program file's reader, its document and the
// names of files: blanks, digits, ASCII lower case and well-formed UTF-8. No Qt.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

inline bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

inline bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// ASCII letters lowered; every other byte, UTF-8 included, as it is.
inline std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

// The length of the well-formed UTF-8 sequence at bytes[at] (no overlong forms, no surrogates,
// nothing above U+10FFFF), 0 when there is none.
size_t Utf8SequenceLength(std::string_view bytes, size_t at);
