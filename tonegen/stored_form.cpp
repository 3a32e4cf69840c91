#include "stored_form.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "little_endian.h"

namespace {

enum class Kind { Int16, Bool, Wave, Resolution, Quality, Level, Float };

// A property value: whole numbers, truth values and ordinals in integer, floats in real.
struct Value {
  int64_t integer = 0;
  float real = 0.0f;
};

struct PropertyInfo {
  std::string_view name;
  Kind kind;
  std::optional<int64_t> stored_default;  // none: always written
  Value (*get)(const TToneGen&);
  void (*set)(TToneGen&, Value);
};

Value Int(int64_t value) {
  return Value{value, 0.0f};
}

// The stored defaults: a property equal to the component's default is not written.
const ToneSettings kDefaults;

// The properties in the order they are written and applied.
const std::array<PropertyInfo, 20> kProperties = {{
    {"Frequency", Kind::Int16, kDefaults.Frequency,
     [](const TToneGen& g) { return Int(g.Frequency()); },
     [](TToneGen& g, Value v) { g.SetFrequency(static_cast<int16_t>(v.integer)); }},
    {"Duration", Kind::Int16, kDefaults.Duration,
     [](const TToneGen& g) { return Int(g.Duration()); },
     [](TToneGen& g, Value v) { g.SetDuration(static_cast<int16_t>(v.integer)); }},
    {"Waveform", Kind::Wave, kDefaults.Waveform,
     [](const TToneGen& g) { return Int(g.Waveform()); },
     [](TToneGen& g, Value v) { g.SetWaveform(static_cast<TTGWave>(v.integer)); }},
    {"Attack", Kind::Int16, kDefaults.Attack, [](const TToneGen& g) { return Int(g.Attack()); },
     [](TToneGen& g, Value v) { g.SetAttack(static_cast<int16_t>(v.integer)); }},
    {"Hold", Kind::Int16, kDefaults.Hold, [](const TToneGen& g) { return Int(g.Hold()); },
     [](TToneGen& g, Value v) { g.SetHold(static_cast<int16_t>(v.integer)); }},
    {"Decay", Kind::Int16, kDefaults.Decay, [](const TToneGen& g) { return Int(g.Decay()); },
     [](TToneGen& g, Value v) { g.SetDecay(static_cast<int16_t>(v.integer)); }},
    {"Sustain", Kind::Int16, kDefaults.Sustain, [](const TToneGen& g) { return Int(g.Sustain()); },
     [](TToneGen& g, Value v) { g.SetSustain(static_cast<int16_t>(v.integer)); }},
    {"Release", Kind::Int16, kDefaults.Release, [](const TToneGen& g) { return Int(g.Release()); },
     [](TToneGen& g, Value v) { g.SetRelease(static_cast<int16_t>(v.integer)); }},
    {"Async", Kind::Bool, kDefaults.Async, [](const TToneGen& g) { return Int(g.Async()); },
     [](TToneGen& g, Value v) { g.SetAsync(v.integer != 0); }},
    {"Loop", Kind::Bool, kDefaults.Loop, [](const TToneGen& g) { return Int(g.Loop()); },
     [](TToneGen& g, Value v) { g.SetLoop(v.integer != 0); }},
    {"Resolution", Kind::Resolution, kDefaults.Resolution,
     [](const TToneGen& g) { return Int(g.Resolution()); },
     [](TToneGen& g, Value v) { g.SetResolution(static_cast<TTGResolution>(v.integer)); }},
    {"Quality", Kind::Quality, kDefaults.Quality,
     [](const TToneGen& g) { return Int(g.Quality()); },
     [](TToneGen& g, Value v) { g.SetQuality(static_cast<TTGQuality>(v.integer)); }},
    {"LeftVolume", Kind::Int16, kDefaults.LeftVolume,
     [](const TToneGen& g) { return Int(g.LeftVolume()); },
     [](TToneGen& g, Value v) { g.SetLeftVolume(static_cast<int16_t>(v.integer)); }},
    {"RightVolume", Kind::Int16, kDefaults.RightVolume,
     [](const TToneGen& g) { return Int(g.RightVolume()); },
     [](TToneGen& g, Value v) { g.SetRightVolume(static_cast<int16_t>(v.integer)); }},
    {"Stereo", Kind::Bool, kDefaults.Stereo, [](const TToneGen& g) { return Int(g.Stereo()); },
     [](TToneGen& g, Value v) { g.SetStereo(v.integer != 0); }},
    {"AMLevel", Kind::Level, kDefaults.AMLevel, [](const TToneGen& g) { return Int(g.AMLevel()); },
     [](TToneGen& g, Value v) { g.SetAMLevel(static_cast<TTGAMLevel>(v.integer)); }},
    {"AMAmplitude", Kind::Int16, std::nullopt,
     [](const TToneGen& g) { return Int(g.AMAmplitude()); },
     [](TToneGen& g, Value v) { g.SetAMAmplitude(static_cast<int16_t>(v.integer)); }},
    {"AMWaveform", Kind::Wave, std::nullopt, [](const TToneGen& g) { return Int(g.AMWaveform()); },
     [](TToneGen& g, Value v) { g.SetAMWaveform(static_cast<TTGWave>(v.integer)); }},
    {"AMFrequency", Kind::Float, std::nullopt,
     [](const TToneGen& g) {
       return Value{0, g.AMFrequency()};
     },
     [](TToneGen& g, Value v) { g.SetAMFrequency(v.real); }},
    {"AMUseMultiplier", Kind::Bool, kDefaults.AMUseMultiplier,
     [](const TToneGen& g) { return Int(g.AMUseMultiplier()); },
     [](TToneGen& g, Value v) { g.SetAMUseMultiplier(v.integer != 0); }},
}};

constexpr std::array<std::string_view, 5> kWaveNames = {"tgSine", "tgSquare", "tgTriangle",
                                                        "tgSawtooth", "tgNoise"};
constexpr std::array<std::string_view, 2> kResolutionNames = {"tg16Bit", "tg8Bit"};
constexpr std::array<std::string_view, 2> kQualityNames = {"tgHiQ", "tgLoQ"};
constexpr std::array<std::string_view, 8> kLevelNames = {"tgAMLevel1", "tgAMLevel2", "tgAMLevel3",
                                                         "tgAMLevel4", "tgAMLevel5", "tgAMLevel6",
                                                         "tgAMLevel7", "tgAMLevel8"};

constexpr size_t kHexBytesPerLine = 16;

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\r')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

bool IsIdentifier(std::string_view text) {
  if (text.empty()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    const bool digit = c >= '0' && c <= '9';
    if (!letter && !(digit && i > 0)) return false;
  }
  return true;
}

template <typename Number>
bool ParseWhole(std::string_view text, Number* number) {
  const char* first = text.data();
  const char* last = text.data() + text.size();
  const auto [end, error] = std::from_chars(first, last, *number);
  return first != last && error == std::errc() && end == last;
}

template <size_t N>
std::optional<int64_t> FindName(const std::array<std::string_view, N>& names,
                                std::string_view text) {
  for (size_t i = 0; i < N; ++i) {
    if (names[i] == text) return static_cast<int64_t>(i);
  }
  return std::nullopt;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Text in double quotes, appended piece by piece: GCC 12 at -O3 takes "..." + string for an
// overlapping copy.
std::string Quoted(std::string_view text) {
  return std::string("\"").append(text).append("\"");
}

// Parses text as a value of kind; on failure says why.
std::optional<Value> ParseValue(Kind kind, std::string_view text, std::string* why) {
  int64_t whole = 0;
  switch (kind) {
    case Kind::Int16:
      if (!ParseWhole(text, &whole)) {
        *why = Quoted(text) + " is not a whole number";
        return std::nullopt;
      }
      // Beyond 16 bits as within them: the setter clamps to the nearer bound of its range.
      return Int(std::clamp<int64_t>(whole, INT16_MIN, INT16_MAX));
    case Kind::Bool:
      if (EqualsIgnoringCase(text, "True")) return Int(1);
      if (EqualsIgnoringCase(text, "False")) return Int(0);
      *why = Quoted(text) + " is neither True nor False";
      return std::nullopt;
    case Kind::Wave:
      if (auto ordinal = FindName(kWaveNames, text)) return Int(*ordinal);
      if (ParseWhole(text, &whole) && whole >= 0 && whole <= 255) return Int(whole);
      *why = Quoted(text) + " is not a waveform";
      return std::nullopt;
    case Kind::Resolution:
      if (auto ordinal = FindName(kResolutionNames, text)) return Int(*ordinal);
      *why = Quoted(text) + " is not a resolution";
      return std::nullopt;
    case Kind::Quality:
      if (auto ordinal = FindName(kQualityNames, text)) return Int(*ordinal);
      *why = Quoted(text) + " is not a quality";
      return std::nullopt;
    case Kind::Level:
      if (auto ordinal = FindName(kLevelNames, text)) return Int(*ordinal);
      *why = Quoted(text) + " is not an AM level";
      return std::nullopt;
    case Kind::Float: {
      if (text.size() == 9 && text.front() == '$') {
        uint32_t bits = 0;
        for (char c : text.substr(1)) {
          const int digit = HexDigit(c);
          if (digit < 0) break;
          bits = bits << 4 | static_cast<uint32_t>(digit);
          ++whole;
        }
        if (whole == 8) {
          Value value;
          std::memcpy(&value.real, &bits, sizeof bits);
          return value;
        }
      } else {
        Value value;
        const char* first = text.data();
        const char* last = text.data() + text.size();
        const auto [end, error] = std::from_chars(first, last, value.real);
        if (first != last && error == std::errc() && end == last) return value;
      }
      *why = Quoted(text) + " is not a float";
      return std::nullopt;
    }
  }
  *why = "unknown kind of value";
  return std::nullopt;
}

std::string FormatValue(Kind kind, Value value) {
  const auto named = [&](auto names) {
    const auto ordinal = static_cast<size_t>(value.integer);
    return ordinal < names.size() ? std::string(names[ordinal]) : std::to_string(value.integer);
  };
  switch (kind) {
    case Kind::Int16:
      return std::to_string(value.integer);
    case Kind::Bool:
      return value.integer != 0 ? "True" : "False";
    case Kind::Wave:
      return named(kWaveNames);
    case Kind::Resolution:
      return named(kResolutionNames);
    case Kind::Quality:
      return named(kQualityNames);
    case Kind::Level:
      return named(kLevelNames);
    case Kind::Float: {
      if (std::isnan(value.real)) {
        uint32_t bits;
        std::memcpy(&bits, &value.real, sizeof bits);
        char hex[10];
        std::snprintf(hex, sizeof hex, "$%08X", bits);
        return hex;
      }
      char digits[64];
      const auto result = std::to_chars(digits, digits + sizeof digits, value.real);
      return std::string(digits, result.ptr);
    }
  }
  return {};
}

struct ParsedProperty {
  const PropertyInfo* info = nullptr;
  Value value;
};

struct ParsedBinary {
  std::string name;
  size_t line = 0;
  std::vector<uint8_t> bytes;
};

std::string AtLine(size_t line, const std::string& what) {
  return "line " + std::to_string(line) + ": " + what;
}

bool Fail(std::string* error, size_t line, const std::string& what) {
  if (error != nullptr) *error = AtLine(line, what);
  return false;
}

}  // namespace

bool ReadToneGenForm(TToneGen& gen, std::string_view text, std::string* error) {
  std::vector<std::string_view> lines;
  for (size_t start = 0; start <= text.size();) {
    const size_t end = text.find('\n', start);
    if (end == std::string_view::npos) {
      // A final line break ends the last line; it does not open another.
      if (start < text.size() || lines.empty()) lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }

  TFiler filer;
  gen.DefineProperties(filer);

  enum class Stage { Header, Body, Done } stage = Stage::Header;
  std::string name;
  std::array<std::optional<ParsedProperty>, kProperties.size()> properties;
  std::vector<ParsedBinary> binaries;

  for (size_t index = 0; index < lines.size(); ++index) {
    const size_t line = index + 1;
    const std::string_view t = Trim(lines[index]);
    if (t.empty()) continue;
    if (stage == Stage::Done) return Fail(error, line, "text after \"end\"");
    if (stage == Stage::Header) {
      if (t.substr(0, 7) != "object ") {
        return Fail(error, line, "expected \"object <Name>: TToneGen\"");
      }
      const std::string_view rest = Trim(t.substr(7));
      std::string_view class_name = rest;
      const size_t colon = rest.find(':');
      if (colon != std::string_view::npos) {
        const std::string_view found = Trim(rest.substr(0, colon));
        if (!IsIdentifier(found)) {
          return Fail(error, line, Quoted(found) + " is not a component name");
        }
        name = found;
        class_name = Trim(rest.substr(colon + 1));
      }
      if (class_name != "TToneGen") {
        return Fail(error, line, "expected a TToneGen, found " + Quoted(class_name));
      }
      stage = Stage::Body;
      continue;
    }
    if (t == "end") {
      stage = Stage::Done;
      continue;
    }
    const size_t equals = t.find('=');
    if (equals == std::string_view::npos) {
      return Fail(error, line, "expected \"<property> = <value>\" or \"end\"");
    }
    const std::string property(Trim(t.substr(0, equals)));
    const std::string_view value_text = Trim(t.substr(equals + 1));

    if (const TFiler::BinaryProperty* binary = filer.Find(property)) {
      for (const ParsedBinary& earlier : binaries) {
        if (earlier.name == property) return Fail(error, line, property + " is given twice");
      }
      if (value_text != "{") {
        return Fail(error, line, property + ": a binary value opens with \"{\"");
      }
      ParsedBinary parsed{binary->name, line, {}};
      bool closed = false;
      while (++index < lines.size()) {
        const std::string_view hex = Trim(lines[index]);
        if (hex == "}") {
          closed = true;
          break;
        }
        if (hex.size() % 2 != 0) {
          return Fail(error, index + 1,
                      property + ": " + Quoted(hex) + " is not a whole number of hex bytes");
        }
        for (size_t i = 0; i < hex.size(); i += 2) {
          const int high = HexDigit(hex[i]);
          const int low = HexDigit(hex[i + 1]);
          if (high < 0 || low < 0) {
            return Fail(error, index + 1, property + ": " + Quoted(hex) + " is not hex bytes");
          }
          parsed.bytes.push_back(static_cast<uint8_t>(high << 4 | low));
        }
      }
      if (!closed) return Fail(error, lines.size(), property + ": the text ends before \"}\"");
      if (parsed.bytes.size() < 4) {
        return Fail(error, line, property + ": the value has no length field");
      }
      const uint32_t length = GetLE32(parsed.bytes.data());
      if (length != parsed.bytes.size() - 4) {
        return Fail(error, line,
                    property + ": the length field reads " + std::to_string(length) + " but " +
                        std::to_string(parsed.bytes.size() - 4) + " bytes follow");
      }
      parsed.bytes.erase(parsed.bytes.begin(), parsed.bytes.begin() + 4);
      binaries.push_back(std::move(parsed));
      continue;
    }

    size_t slot = 0;
    while (slot < kProperties.size() && kProperties[slot].name != property) ++slot;
    if (slot == kProperties.size()) {
      return Fail(error, line, "unknown property \"" + property + "\"");
    }
    if (properties[slot]) return Fail(error, line, property + " is given twice");
    std::string why;
    const std::optional<Value> value = ParseValue(kProperties[slot].kind, value_text, &why);
    if (!value) return Fail(error, line, property + ": " + why);
    properties[slot] = ParsedProperty{&kProperties[slot], *value};
  }
  if (stage != Stage::Done) {
    return Fail(error, lines.size(),
                stage == Stage::Header ? "no \"object\" line" : "the text ends before \"end\"");
  }

  const bool was_loading = gen.Loading();
  gen.SetLoading(true);
  gen.SetName(name);
  for (const std::optional<ParsedProperty>& property : properties) {
    if (property) property->info->set(gen, property->value);
  }
  bool ok = true;
  for (const TFiler::BinaryProperty& defined : filer.Properties()) {
    for (ParsedBinary& parsed : binaries) {
      if (parsed.name != defined.name) continue;
      TBinaryStream stream(std::move(parsed.bytes));
      if (ok && !defined.read(stream)) {
        ok = Fail(error, parsed.line, parsed.name + ": " + kStreamReadError);
      }
    }
  }
  gen.SetLoading(was_loading);
  return ok;
}

std::string WriteToneGenForm(const TToneGen& gen) {
  std::string text =
      gen.Name().empty() ? "object TToneGen\n" : "object " + gen.Name() + ": TToneGen\n";
  for (const PropertyInfo& info : kProperties) {
    const Value value = info.get(gen);
    if (info.stored_default && value.integer == *info.stored_default) continue;
    text += "  " + std::string(info.name) + " = " + FormatValue(info.kind, value) + "\n";
  }
  // Only the writers of the binary values run; they do not change the component.
  TFiler filer;
  const_cast<TToneGen&>(gen).DefineProperties(filer);
  for (const TFiler::BinaryProperty& binary : filer.Properties()) {
    if (!binary.has_data) continue;
    TBinaryStream stream;
    binary.write(stream);
    const std::vector<uint8_t>& bytes = stream.Bytes();
    uint8_t length[4];
    PutLE32(length, static_cast<uint32_t>(bytes.size()));
    char hex[3];
    text += "  " + binary.name + " = {\n    ";
    for (uint8_t byte : length) {
      std::snprintf(hex, sizeof hex, "%02X", byte);
      text += hex;
    }
    text += "\n";
    for (size_t i = 0; i < bytes.size(); i += kHexBytesPerLine) {
      text += "    ";
      for (size_t j = i; j < bytes.size() && j < i + kHexBytesPerLine; ++j) {
        std::snprintf(hex, sizeof hex, "%02X", bytes[j]);
        text += hex;
      }
      text += "\n";
    }
    text += "  }\n";
  }
  text += "end\n";
  return text;
}
