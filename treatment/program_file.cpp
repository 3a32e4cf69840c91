#include "program_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

#include "clock_text.h"
#include "plain_text.h"
#include "regular_file.h"

namespace {

struct Token {
  std::string_view text;  // a label without its quotes
  size_t at;              // byte offset in the line
  bool quoted = false;
};

bool EndsWithWord(std::string_view text, std::string_view suffix) {
  return text.size() > suffix.size() && Lower(text.substr(text.size() - suffix.size())) == suffix;
}

// The text as written, in quotes; a long one is cut after 40 characters (never inside one).
std::string Quoted(std::string_view text) {
  size_t cut = 0;
  for (int characters = 0; cut < text.size() && characters < 40; ++characters) {
    do ++cut;
    while (cut < text.size() && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80);
  }
  // Appended piece by piece: GCC 12 at -O3 warns (-Wrestrict) of a literal put before a string.
  std::string quoted = "'";
  quoted += text.substr(0, cut);
  quoted += cut < text.size() ? "...'" : "'";
  return quoted;
}

bool IsLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

size_t Characters(std::string_view text) {
  return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

// The byte offset of the first byte that is not part of well-formed UTF-8, or npos.
size_t BadUtf8At(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const size_t length = Utf8SequenceLength(text, i);
    if (length == 0) return i;
    i += length;
  }
  return std::string_view::npos;
}

// Characters a text editor shows as a space or not at all, which a program line cannot hold
// outside a label.
struct InvisibleCharacter {
  char32_t code;
  const char* name;
  bool space;  // shown as a space; else not shown at all
};

constexpr InvisibleCharacter kInvisibleCharacters[] = {
    {0x00A0, "a no-break space", true},
    {0x00AD, "a soft hyphen", false},
    {0x2002, "an en space", true},
    {0x2003, "an em space", true},
    {0x2007, "a figure space", true},
    {0x2009, "a thin space", true},
    {0x200A, "a hair space", true},
    {0x200B, "a zero-width space", false},
    {0x200C, "a zero-width non-joiner", false},
    {0x200D, "a zero-width joiner", false},
    {0x200E, "a left-to-right mark", false},
    {0x200F, "a right-to-left mark", false},
    {0x202F, "a narrow no-break space", true},
    {0x2060, "a word joiner", false},
    {0x3000, "an ideographic space", true},
    {0xFEFF, "a zero-width no-break space", false},
};

// The invisible character that begins at byte i of well-formed UTF-8 text, or null.
const InvisibleCharacter* InvisibleAt(std::string_view text, size_t i) {
  const auto byte = [&](size_t k) { return char32_t(static_cast<unsigned char>(text[i + k])); };
  char32_t code = 0;
  if (byte(0) >= 0xC2 && byte(0) <= 0xDF) {
    code = (byte(0) & 0x1F) << 6 | (byte(1) & 0x3F);
  } else if (byte(0) >= 0xE0 && byte(0) <= 0xEF) {
    code = (byte(0) & 0x0F) << 12 | (byte(1) & 0x3F) << 6 | (byte(2) & 0x3F);
  } else {
    return nullptr;
  }
  for (const InvisibleCharacter& invisible : kInvisibleCharacters) {
    if (invisible.code == code) return &invisible;
  }
  return nullptr;
}

// A decimal written out in digits with at most max_decimals after the point, in units of
// 10^-max_decimals. Saturates far above every limit, so no text overflows it.
struct Decimal {
  int64_t scaled = 0;
  std::string error;  // empty when it is a number
};

// The number is the first length bytes of written, the token as the user wrote it, which the
// messages quote whole; a unit already read follows. units: what a letter after the digits is
// told (the units the token may carry), or null where it takes none.
Decimal ReadDecimal(std::string_view written, size_t length, int max_decimals, const char* what,
                    const char* units = nullptr) {
  Decimal number;
  const std::string_view text = written.substr(0, length);
  const std::string lower = Lower(text);
  if (lower == "nan" || lower == "-nan" || lower == "inf" || lower == "-inf" ||
      lower == "infinity" || lower == "+inf") {
    number.error = Quoted(written) + " is not " + what;
    return number;
  }
  size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    number.error = std::string(what) + " is written without a sign";
    return number;
  }
  int64_t whole = 0;
  int digits = 0, decimals = 0;
  bool point = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (IsDigit(c)) {
      ++digits;
      if (point && ++decimals > max_decimals) {
        number.error = max_decimals == 0 ? std::string(what) + " is a whole number"
                                         : std::string(what) + " has at most " +
                                               std::to_string(max_decimals) + " decimals";
        return number;
      }
      whole = std::min<int64_t>(whole * 10 + (c - '0'), int64_t{1} << 50);
    } else if (c == '.' && !point) {
      point = true;
    } else if ((c == 'e' || c == 'E') && digits > 0 && i + 1 < text.size() &&
               (IsDigit(text[i + 1]) || text[i + 1] == '-' || text[i + 1] == '+')) {
      number.error = std::string(what) + " is written out in digits, without an exponent";
      return number;
    } else if (c == ',' && digits > 0) {
      number.error = "the decimal separator is a point: " + std::string(written.substr(0, i)) +
                     "." + std::string(written.substr(i + 1));
      return number;
    } else if (IsLetter(c) && digits > 0 && units != nullptr) {
      number.error = "unknown unit '" + std::string(written.substr(i)) + "' in " + Quoted(written) +
                     ": " + units;
      return number;
    } else {
      number.error = Quoted(written) + " is not " + what;
      return number;
    }
  }
  if (digits == 0) {
    number.error = Quoted(written) + " is not " + what;
    return number;
  }
  for (; decimals < max_decimals; ++decimals)
    whole = std::min<int64_t>(whole * 10, int64_t{1} << 50);
  number.scaled = whole;
  return number;
}

// value / 10^decimals in digits, without trailing zeros: "728", "7.83", "3.9155".
std::string ScaledText(int64_t value, int decimals) {
  int64_t scale = 1;
  for (int k = 0; k < decimals; ++k) scale *= 10;
  std::string text = std::to_string(value / scale);
  if (const int64_t fraction = value % scale; fraction != 0) {
    std::string part = std::to_string(fraction);
    part.insert(0, static_cast<size_t>(decimals) - part.size(), '0');
    while (part.back() == '0') part.pop_back();
    text += '.';
    text += part;
  }
  return text;
}

// Thousandths as a decimal: "728", "7.83", "432.125" (hertz), "1200.06" (seconds).
std::string DecimalText(int64_t millihertz) {
  return ScaledText(millihertz, 3);
}

// Half of a frequency in thousandths, exactly: "364", "3.9155".
std::string HalfText(int64_t millihertz) {
  return ScaledText(millihertz * 5, 4);
}

// What one step line says, before the program's own settings apply.
struct StepLine {
  int64_t millihertz = 0;
  int64_t end_millihertz = 0;  // 0: no glide
  bool exponential = false;    // "~>": the glide moves by equal ratios, not equal hertz
  int duration_ms = kStepMilliseconds;
  int level = 100;
  std::optional<WaveShape> shape;
  std::string label;
  int line = 0;
  int64_t gate_millihertz = 0;  // 0: no gate
  int gate_on = 50;
  int duty = 50;
};

constexpr char kStepSyntax[] =
    " (a step is: frequency [-> or ~> frequency] [duration] [sine|square] [level%] "
    "[gate RATE [on P%]] [duty P%] [\"label\"])";

class Parser {
 public:
  explicit Parser(ProgramFor output) : output_(output) {}

  ParsedProgram Parse(std::string_view text) {
    // A byte order mark some editors write is no part of the text.
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    int number = 0;
    while (!text.empty() || number == 0) {
      const size_t end = text.find('\n');
      std::string_view line = text.substr(0, end);
      text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      line_ = ++number;
      ReadLine(line);
      if (end == std::string_view::npos || binary_) break;
    }
    Finish();
    return std::move(result_);
  }

 private:
  void Error(size_t at, std::string message) {
    const int column = static_cast<int>(Characters(line_text_.substr(0, at))) + 1;
    result_.errors.push_back({line_, column, std::move(message)});
  }

  void ReadLine(std::string_view line) {
    line_text_ = line;
    // Blank lines and comments may stand before the title line: the first line with anything
    // else is the title line. A line that cannot be read stands for a step, so that the program
    // is not also said to have none.
    const size_t text_at = line.find_first_not_of(" \t");
    const bool blank = text_at == std::string_view::npos || line[text_at] == '#';
    const bool title_line = !blank && title_line_ == 0;
    if (title_line) title_line_ = line_;
    if (!blank && !(title_line && line.starts_with(kProgramFileMagic))) ++content_lines_;
    if (line.size() > kMaxLineBytes) {
      line_text_ = {};
      Error(0, "the line is longer than " + std::to_string(kMaxLineBytes) + " bytes");
      if (title_line) Error(0, MissingTitle());
      return;
    }
    if (const size_t nul = line.find('\0'); nul != std::string_view::npos) {
      line_text_ = line.substr(0, nul);
      // The rest of a file that is not text would only repeat this.
      Error(nul, "a NUL byte: this is not a text file");
      binary_ = true;
      return;
    }
    if (const size_t bad = BadUtf8At(line); bad != std::string_view::npos) {
      line_text_ = line.substr(0, bad);
      Error(bad, "not UTF-8 text (save the file as UTF-8)");
      return;
    }
    if (title_line) {
      if (line.starts_with(kProgramFileMagic)) {
        ReadTitle(line);
        return;
      }
      // A title line misspelt or indented is one mistake, not a step with a word per error.
      const std::string first =
          Lower(line.substr(text_at, line.find_first_of(" \t", text_at) - text_at));
      if (!IsDigit(line[text_at]) && line[text_at] != '.' && first != "shape" &&
          first != "repeat") {
        if (line.substr(text_at).starts_with(kProgramFileMagic)) {
          Error(text_at, std::string("the title line begins at the start of the line, with '") +
                             kProgramFileMagic + "'");
        } else {
          Error(0, MissingTitle());
        }
        return;
      }
      Error(0, MissingTitle());
    }
    std::vector<Token> tokens;
    if (!Tokenize(line, &tokens) || tokens.empty()) return;
    const std::string first = Lower(tokens[0].text);
    if (!tokens[0].quoted && (first == "shape" || first == "repeat")) {
      ++settings_lines_;
      ReadSetting(first, tokens);
    } else if (line.starts_with(kProgramFileMagic)) {
      Error(0, "the title line comes only once, first in the file");
    } else {
      ReadStep(tokens);
    }
  }

  static std::string MissingTitle() {
    return std::string("a program file begins with the line '") + kProgramFileMagic + " TITLE'";
  }

  void ReadTitle(std::string_view line) {
    const auto [title_at, title_end] = ProgramTitleSpan(line);
    const std::string_view title = line.substr(title_at, title_end - title_at);
    if (title.empty()) {
      Error(title_at, std::string("the program needs a title after '") + kProgramFileMagic + "'");
    } else if (Characters(title) > kMaxTitleCharacters) {
      Error(title_at,
            "the title is longer than " + std::to_string(kMaxTitleCharacters) + " characters");
    } else if (HasControl(title)) {
      Error(title_at, "the title holds a control character");
    } else {
      result_.program.Name = std::string(title);
    }
  }

  static bool HasControl(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
  }

  // Splits a line into words, labels and the glide arrows "->" and "~>"; a label left open ends it,
  // after an error. False when an invisible character stands outside a label: the line gives that
  // one error.
  bool Tokenize(std::string_view line, std::vector<Token>* tokens) {
    size_t i = 0;
    while (i < line.size()) {
      if (IsBlank(line[i])) {
        ++i;
      } else if (line[i] == '#') {
        break;
      } else if (const InvisibleCharacter* invisible = InvisibleAt(line, i)) {
        char code[16];
        std::snprintf(code, sizeof code, " (U+%04X)", static_cast<unsigned>(invisible->code));
        Error(i, std::string(invisible->name) + code + ", which looks like " +
                     (invisible->space ? "a space: write a plain space" : "nothing: delete it"));
        return false;
      } else if (line[i] == '"') {
        const size_t close = line.find('"', i + 1);
        if (close == std::string_view::npos) {
          Error(i, "the label has no closing '\"'");
          return true;
        }
        tokens->push_back({line.substr(i + 1, close - i - 1), i, true});
        i = close + 1;
      } else if (IsGlideArrow(line.substr(i, 2))) {
        tokens->push_back({line.substr(i, 2), i});
        i += 2;
      } else {
        size_t end = i;
        while (end < line.size() && !IsBlank(line[end]) && line[end] != '#' && line[end] != '"' &&
               !IsGlideArrow(line.substr(end, 2)) && InvisibleAt(line, end) == nullptr) {
          ++end;
        }
        tokens->push_back({line.substr(i, end - i), i});
        i = end;
      }
    }
    return true;
  }

  void ReadSetting(const std::string& name, const std::vector<Token>& tokens) {
    if (steps_seen_ > 0) {
      Error(tokens[0].at, "'" + name + "' goes before the first step");
      return;
    }
    if (tokens.size() != 2 || tokens[1].quoted) {
      Error(tokens[0].at, name == "shape" ? "write 'shape sine' or 'shape square'"
                                          : "write 'repeat' and how often, e.g. 'repeat 3'");
      return;
    }
    const Token& value = tokens[1];
    if (name == "shape") {
      if (program_shape_) {
        Error(tokens[0].at, "the program's shape is already given");
      } else if (const auto shape = ShapeNamed(value.text)) {
        program_shape_ = shape;
      } else {
        Error(value.at, Quoted(value.text) + " is not a shape (sine or square)");
      }
      return;
    }
    if (repeat_line_ != 0) {
      Error(tokens[0].at, "the program's repeat is already given");
      return;
    }
    const Decimal count = ReadDecimal(value.text, value.text.size(), 0, "a count");
    if (!count.error.empty()) {
      Error(value.at, count.error);
    } else if (count.scaled < 1 || count.scaled > int64_t{kMaxProgramSteps}) {
      Error(value.at, "repeat takes 1 to " + std::to_string(kMaxProgramSteps));
    } else {
      repeat_ = static_cast<int>(count.scaled);
      repeat_line_ = line_;
      repeat_at_ = value.at;
      repeat_text_ = std::string(line_text_);
    }
  }

  static std::optional<WaveShape> ShapeNamed(std::string_view name) {
    const std::string lower = Lower(name);
    if (lower == "sine") return wsSine;
    if (lower == "square") return wsSquare;
    return std::nullopt;
  }

  // A frequency token, "728", "7.83hz"; false after an error.
  bool ReadFrequency(const Token& token, int64_t* millihertz) {
    const std::string_view text = token.text;
    const size_t length = EndsWithWord(text, "hz") ? text.size() - 2 : text.size();
    const Decimal number = ReadDecimal(text, length, 3, "a frequency",
                                       "a frequency is in hz or has no unit (440hz, 440)");
    if (!number.error.empty()) {
      Error(token.at, number.error);
      return false;
    }
    if (number.scaled == 0) {
      Error(token.at, "a frequency is above 0 Hz");
      return false;
    }
    if (output_ == ProgramFor::SoundCard && number.scaled > kMaxFileMillihertz) {
      Error(token.at, "a frequency is below 22050 Hz, half the sample rate");
      return false;
    }
    *millihertz = number.scaled;
    return true;
  }

  // "3:00", "1:00:00", "90s", "5m", "1.5h"; false after an error.
  bool ReadDuration(const Token& token, int* ms) {
    const std::string_view text = token.text;
    int64_t total = 0;
    if (text.find(':') != std::string_view::npos) {
      // [H:]M:SS, each part digits; minutes and seconds below 60 after the first part.
      std::vector<std::string_view> parts;
      for (size_t start = 0;;) {
        const size_t colon = text.find(':', start);
        parts.push_back(text.substr(start, colon - start));
        if (colon == std::string_view::npos) break;
        start = colon + 1;
      }
      const bool digits_only = std::all_of(parts.begin(), parts.end(), [](std::string_view part) {
        return !part.empty() && part.size() <= 6 && std::all_of(part.begin(), part.end(), IsDigit);
      });
      if (parts.size() > 3 || !digits_only) {
        Error(token.at, Quoted(text) + " is not a duration (3:00, 1:00:00, 90s, 5m)");
        return false;
      }
      for (size_t k = 0; k < parts.size(); ++k) {
        const int64_t value = std::stoll(std::string(parts[k]));
        if (k > 0 && (parts[k].size() != 2 || value > 59)) {
          Error(token.at, "minutes and seconds after a ':' are written 00 to 59");
          return false;
        }
        total = total * 60 + value;
      }
      total *= 1000;
    } else {
      static constexpr struct {
        const char* unit;
        int64_t ms;
      } kUnits[] = {{"s", 1000}, {"m", 60000}, {"h", 3600000}};
      const auto unit = std::find_if(std::begin(kUnits), std::end(kUnits),
                                     [&](const auto& u) { return EndsWithWord(text, u.unit); });
      const Decimal number =
          ReadDecimal(text, unit == std::end(kUnits) ? text.size() : text.size() - 1, 3,
                      "a duration", "a duration is in s, m or h (90s, 5m, 1.5h) or written 1:30");
      if (!number.error.empty()) {
        Error(token.at, number.error);
        return false;
      }
      if (unit == std::end(kUnits)) {
        Error(token.at, "a duration needs its unit: 90s, 5m, 1h or 1:30");
        return false;
      }
      // In thousandths of a unit of a second or more, so whole milliseconds; a number beyond the
      // limit is cut short before it is multiplied.
      total = std::min<int64_t>(number.scaled, int64_t{kMaxStepMs} + 1) * unit->ms / 1000;
    }
    if (total < kMinStepMs || total > kMaxStepMs) {
      Error(token.at, "a step lasts 1 s to 24 h");
      return false;
    }
    *ms = static_cast<int>(total);
    return true;
  }

  // "gate RATE [on P%]" from tokens[*k], the word gate; leaves *k at its last token. The rate
  // stays below half the step's lowest frequency, so that each gate cycle holds whole cycles of
  // the tone rather than a fraction of one.
  bool ReadGate(const std::vector<Token>& tokens, size_t* k, StepLine* step) {
    const Token& gate = tokens[*k];
    if (*k + 1 == tokens.size() || tokens[*k + 1].quoted || tokens[*k + 1].text == "->") {
      Error(gate.at, "a gate needs its rate in hertz: gate 10 or gate 7.83 on 25%");
      return false;
    }
    const Token& rate = tokens[++*k];
    const std::string_view text = rate.text;
    const size_t length = EndsWithWord(text, "hz") ? text.size() - 2 : text.size();
    const Decimal number =
        ReadDecimal(text, length, 3, "a gate's rate",
                    "a gate's rate is in hz or has no unit (gate 10hz, gate 10)");
    bool good = number.error.empty();
    if (!good) {
      Error(rate.at, number.error);
    } else if (number.scaled < 10) {
      Error(rate.at, "a gate's rate is 0.01 Hz or more");
      good = false;
    } else if (step->millihertz != 0) {
      const int64_t lowest = step->end_millihertz != 0
                                 ? std::min(step->millihertz, step->end_millihertz)
                                 : step->millihertz;
      if (number.scaled * 2 >= lowest) {
        Error(rate.at, "a gate's rate is below " + HalfText(lowest) +
                           " Hz, half the step's lowest frequency");
        good = false;
      }
    }
    if (good) step->gate_millihertz = number.scaled;
    if (*k + 1 < tokens.size() && !tokens[*k + 1].quoted && Lower(tokens[*k + 1].text) == "on") {
      ++*k;
      good =
          ReadShare(tokens, k, "on", "a gate is on for 1% to 99% of its cycle", &step->gate_on) &&
          good;
    }
    return good;
  }

  // The percentage after tokens[*k] (duty, on), 1% to 99%; leaves *k at it.
  bool ReadShare(const std::vector<Token>& tokens, size_t* k, const char* word, const char* range,
                 int* percent) {
    const Token& key = tokens[*k];
    if (*k + 1 == tokens.size() || tokens[*k + 1].quoted || tokens[*k + 1].text.back() != '%') {
      Error(key.at, std::string("a percentage follows '") + word + "', e.g. " + word + " 25%");
      return false;
    }
    const Token& value = tokens[++*k];
    const Decimal share = ReadDecimal(value.text, value.text.size() - 1, 0, "a percentage");
    if (!share.error.empty()) {
      Error(value.at, share.error);
      return false;
    }
    if (share.scaled < 1 || share.scaled > 99) {
      Error(value.at, range);
      return false;
    }
    *percent = static_cast<int>(share.scaled);
    return true;
  }

  // What stands where a step's duration may: it begins with a digit or holds a ':'.
  static bool IsDuration(const Token& token) {
    return !token.quoted && (IsDigit(token.text[0]) || token.text[0] == '.' ||
                             token.text.find(':') != std::string_view::npos);
  }

  // A whole number a level could be, 1 to 100, written without its '%'.
  static bool IsBareLevel(std::string_view text) {
    return !text.empty() && text.size() <= 3 && std::all_of(text.begin(), text.end(), IsDigit) &&
           std::stoi(std::string(text)) >= 1 && std::stoi(std::string(text)) <= 100;
  }

  void ReadStep(const std::vector<Token>& tokens) {
    ++steps_seen_;
    StepLine step;
    step.line = line_;
    bool good = true;
    size_t k = 0;
    if (tokens[0].quoted || IsGlideArrow(tokens[0].text)) {
      Error(tokens[0].at, "a step begins with its frequency in hertz");
      return;
    }
    good = ReadFrequency(tokens[k++], &step.millihertz);
    if (k < tokens.size() && !tokens[k].quoted && IsGlideArrow(tokens[k].text)) {
      step.exponential = tokens[k].text == "~>";
      if (++k == tokens.size() || tokens[k].quoted) {
        Error(tokens[k - 1].at,
              "a glide needs its end frequency after '" + std::string(tokens[k - 1].text) + "'");
        return;
      }
      good = ReadFrequency(tokens[k++], &step.end_millihertz) && good;
    }
    // After the frequencies: the duration, shape, level and label in any order.
    const auto options = tokens.begin() + static_cast<std::ptrdiff_t>(k);
    bool have_duration = false, have_level = false, have_shape = false, have_label = false;
    bool have_gate = false, have_duty = false;
    size_t duty_at = 0;
    const auto once = [&](bool& have, const Token& token, const char* what) {
      if (have) Error(token.at, std::string("a second ") + what + " for this step");
      const bool first = !have;
      have = true;
      return first;
    };
    for (; k < tokens.size(); ++k) {
      const Token& token = tokens[k];
      if (token.quoted) {
        if (!once(have_label, token, "label")) {
          good = false;
        } else if (Characters(token.text) > kMaxLabelCharacters) {
          Error(token.at,
                "a label holds at most " + std::to_string(kMaxLabelCharacters) + " characters");
          good = false;
        } else if (token.text.empty() || HasControl(token.text)) {
          Error(token.at, "a label is some text without control characters");
          good = false;
        } else {
          step.label = std::string(token.text);
        }
      } else if (IsGlideArrow(token.text)) {
        Error(token.at, "'" + std::string(token.text) + "' comes right after the first frequency");
        good = false;
      } else if (const std::string word = Lower(token.text); word == "gate") {
        good = once(have_gate, token, "gate") && good;
        good = ReadGate(tokens, &k, &step) && good;
      } else if (word == "duty") {
        good = once(have_duty, token, "duty") && good;
        duty_at = token.at;
        good = ReadShare(tokens, &k, "duty", "a duty is 1% to 99%", &step.duty) && good;
      } else if (word == "on") {
        Error(token.at, "'on' belongs to a gate: gate RATE on P%");
        good = false;
      } else if (const auto shape = ShapeNamed(token.text)) {
        if (once(have_shape, token, "shape"))
          step.shape = shape;
        else
          good = false;
      } else if (token.text.back() == '%') {
        if (!once(have_level, token, "level")) {
          good = false;
          continue;
        }
        const Decimal level = ReadDecimal(token.text, token.text.size() - 1, 0, "a level");
        if (!level.error.empty()) {
          Error(token.at, level.error);
          good = false;
        } else if (level.scaled < 1 || level.scaled > 100) {
          Error(token.at, "a level is 1% to 100%");
          good = false;
        } else {
          step.level = static_cast<int>(level.scaled);
        }
      } else if (IsDuration(token)) {
        if (!have_level && IsBareLevel(token.text) &&
            std::any_of(options, tokens.end(), [&](const Token& other) {
              return &other != &token && IsDuration(other) && !IsBareLevel(other.text);
            })) {
          // The step has its duration: a bare number beside it is a level without its '%'.
          Error(token.at, Quoted(token.text) + " has no unit: did you mean " +
                              std::string(token.text) + "%?");
          good = false;
          continue;
        }
        if (!once(have_duration, token, "duration")) {
          good = false;
          continue;
        }
        good = ReadDuration(token, &step.duration_ms) && good;
      } else {
        Error(token.at, "unexpected " + Quoted(token.text) + kStepSyntax);
        good = false;
      }
    }
    if (have_duty) {
      // A duty names a square wave: it makes a step without a shape square, and a sine refuses it.
      if (!step.shape) step.shape = program_shape_;
      if (step.shape == wsSine) {
        Error(duty_at, "a duty is for square steps, and this one is sine");
        good = false;
      }
      step.shape = wsSquare;
    }
    if (!good) return;
    if (steps_.size() == kMaxProgramSteps) {
      if (!too_many_) {
        Error(0, "a program has at most " + std::to_string(kMaxProgramSteps) + " steps");
      }
      too_many_ = true;
      return;
    }
    length_ms_ += step.duration_ms;
    if (length_ms_ > kMaxProgramMs && !too_long_) {
      Error(0, "the program is longer than 24 h with this step");
      too_long_ = true;
    }
    steps_.push_back(std::move(step));
  }

  void Finish() {
    if (binary_) {
      result_.program = TreatmentProgram{};
      return;
    }
    if (result_.program.Name.empty() && result_.errors.empty()) {
      line_ = 1;
      line_text_ = {};
      Error(0, MissingTitle());
    }
    if (content_lines_ == settings_lines_) {
      line_ = 1;
      line_text_ = {};
      Error(0, "the program has no steps");
    }
    if (repeat_line_ != 0 && !too_many_ && !too_long_) {
      line_ = repeat_line_;
      line_text_ = repeat_text_;
      if (steps_.size() * static_cast<size_t>(repeat_) > kMaxProgramSteps) {
        Error(repeat_at_, "with this repeat the program has " +
                              std::to_string(steps_.size() * repeat_) + " steps, more than " +
                              std::to_string(kMaxProgramSteps));
      } else if (length_ms_ * repeat_ > kMaxProgramMs) {
        Error(repeat_at_, "with this repeat the program lasts " +
                              ClockTextExact(length_ms_ * repeat_) + ", more than 24 h");
      }
    }
    std::stable_sort(result_.errors.begin(), result_.errors.end(),
                     [](const ProgramFileError& a, const ProgramFileError& b) {
                       return a.line != b.line ? a.line < b.line : a.column < b.column;
                     });
    if (!result_.errors.empty()) {
      result_.program = TreatmentProgram{};
      return;
    }
    const size_t count = steps_.size() * static_cast<size_t>(repeat_);
    std::vector<TreatmentStep>& out = result_.program.Steps;
    out.reserve(count);
    for (int round = 0; round < repeat_; ++round) {
      for (const StepLine& line : steps_) {
        TreatmentStep step{static_cast<long double>(line.millihertz) / 1000.0L,
                           static_cast<int>(100 * (out.size() + 1) / count), "", ""};
        step.DisplayText = !line.label.empty() ? line.label
                           : line.end_millihertz != 0
                               ? DecimalText(line.millihertz) + GlideArrowShown(line.exponential) +
                                     DecimalText(line.end_millihertz) + "HZ"
                               : DecimalText(line.millihertz) + "HZ";
        step.StatusText = "Current: " + step.DisplayText;
        step.DurationMs = line.duration_ms;
        if (line.end_millihertz != 0) {
          step.EndFrequency = static_cast<long double>(line.end_millihertz) / 1000.0L;
          step.ExponentialGlide = line.exponential;
        }
        step.Level = line.level;
        step.Shape = line.shape ? line.shape : program_shape_;
        step.GateMillihertz = line.gate_millihertz;
        step.GateOnPercent = line.gate_on;
        step.DutyPercent = line.duty;
        step.Exact = true;
        out.push_back(std::move(step));
      }
    }
  }

  ProgramFor output_;
  ParsedProgram result_;
  int line_ = 0;
  int title_line_ = 0;  // the first line that is neither blank nor a comment
  std::string_view line_text_;
  std::vector<StepLine> steps_;
  size_t steps_seen_ = 0;
  size_t content_lines_ = 0;   // neither blank, nor only a comment, nor the title
  size_t settings_lines_ = 0;  // of them, shape and repeat lines
  int64_t length_ms_ = 0;
  bool too_many_ = false;
  bool binary_ = false;  // a NUL byte was met: the parse stopped there
  bool too_long_ = false;
  std::optional<WaveShape> program_shape_;
  int repeat_ = 1;
  int repeat_line_ = 0;
  size_t repeat_at_ = 0;
  std::string repeat_text_;
};

int64_t Millihertz(long double hertz) {
  return static_cast<int64_t>(hertz * 1000.0L + 0.5L);
}

}  // namespace

ParsedProgram ParseProgramText(std::string_view text, ProgramFor output) {
  return Parser(output).Parse(text);
}

std::pair<size_t, size_t> ProgramTitleSpan(std::string_view line) {
  size_t begin = std::strlen(kProgramFileMagic);
  while (begin < line.size() && IsBlank(line[begin])) ++begin;
  // '#' after a blank starts a comment; one inside a word ("No#1") belongs to the title.
  size_t end = begin;
  while (end < line.size() && !(line[end] == '#' && (end == begin || IsBlank(line[end - 1])))) {
    ++end;
  }
  while (end > begin && IsBlank(line[end - 1])) --end;
  return {begin, end};
}

bool ReadProgramFileText(const std::string& path, std::string* text, std::string* error) {
  std::string why;
  std::FILE* file = OpenRegularFile(path, &why);
  if (file == nullptr) {
    *error = path + ": " + why;
    return false;
  }
  const bool read = ReadProgramText(file, path, text, error);
  std::fclose(file);
  return read;
}

bool ReadProgramText(std::FILE* file, const std::string& path, std::string* text,
                     std::string* error) {
  std::string read(kMaxProgramFileBytes + 1, '\0');
  const size_t size = std::fread(read.data(), 1, read.size(), file);
  const bool failed = std::ferror(file) != 0;
  const int reason = errno;
  if (failed) {
    *error = path + ": " + std::strerror(reason);
    return false;
  }
  if (size > kMaxProgramFileBytes) {
    *error = path + ": larger than 1 MiB; a program file is a short text";
    return false;
  }
  read.resize(size);
  *text = std::move(read);
  return true;
}

bool LoadProgramFile(const std::string& path, TreatmentProgram* program,
                     std::vector<std::string>* messages, ProgramFor output) {
  std::string text, error;
  if (!ReadProgramFileText(path, &text, &error)) {
    messages->push_back(error);
    return false;
  }
  return ProgramFromText(text, path, program, messages, output);
}

bool ProgramFromText(std::string_view text, const std::string& path, TreatmentProgram* program,
                     std::vector<std::string>* messages, ProgramFor output) {
  ParsedProgram parsed = ParseProgramText(text, output);
  if (parsed.errors.empty()) {
    *program = std::move(parsed.program);
    return true;
  }
  for (const ProgramFileError& e : parsed.errors) {
    messages->push_back(path + ":" + std::to_string(e.line) + ":" + std::to_string(e.column) +
                        ": " + e.message);
  }
  return false;
}

std::string ProgramFileText(const TreatmentProgram& program, int step_ms) {
  std::string text = std::string(kProgramFileMagic) + " " + program.Name + "\n";
  for (const TreatmentStep& step : program.Steps) {
    const int64_t start = Millihertz(step.Frequency);
    std::string line = DecimalText(start);
    std::string shown = line + "HZ";
    if (step.EndFrequency != 0.0L) {
      const int64_t end = Millihertz(step.EndFrequency);
      line += step.ExponentialGlide ? " ~> " : " -> ";
      line += DecimalText(end);
      shown = DecimalText(start) + GlideArrowShown(step.ExponentialGlide) + DecimalText(end) + "HZ";
    }
    const int ms = StepPeriodMs(step, step_ms);
    // A clock has no fraction of a second; seconds with decimals have.
    line += ' ';
    line += ms % 1000 == 0 ? ClockTextExact(ms) : DecimalText(ms) + "s";
    if (step.Shape) line += *step.Shape == wsSine ? " sine" : " square";
    if (step.Level != 100) {
      line += ' ';
      line += std::to_string(step.Level) + "%";
    }
    if (step.GateMillihertz != 0) {
      line += " gate ";
      line += DecimalText(step.GateMillihertz);
      if (step.GateOnPercent != 50) {
        line += " on ";
        line += std::to_string(step.GateOnPercent) + "%";
      }
    }
    if (step.DutyPercent != 50) {
      line += " duty ";
      line += std::to_string(step.DutyPercent) + "%";
    }
    if (step.DisplayText != shown) line += " \"" + step.DisplayText + "\"";
    text += line + "\n";
  }
  return text;
}

std::string ProgramLengthText(const TreatmentProgram& program, int step_ms) {
  return ClockTextExact(PeriodsMs(program, step_ms));
}
