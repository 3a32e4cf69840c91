#include "note_names.h"

#include <charconv>
#include <cmath>
#include <string>

namespace {
constexpr int32_t kHighestNoteNumber = 121;
constexpr int32_t kReferenceNote = 48;  // the A of octave 4
constexpr long double kReferencePitch = 440.0L;

// Semitones above A of the letters A..G.
constexpr int32_t kLetterSemitones[7] = {0, 2, 3, 5, 7, 8, 10};

std::string Normalise(std::string_view note) {
  size_t begin = 0;
  size_t end = note.size();
  while (begin < end && static_cast<unsigned char>(note[begin]) <= ' ') ++begin;
  while (end > begin && static_cast<unsigned char>(note[end - 1]) <= ' ') --end;
  std::string text(note.substr(begin, end - begin));
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// The rest of an "N" text: a signed decimal number, -1 when empty, malformed or above 121.
int32_t ReadNoteNumber(std::string_view rest) {
  const char* first = rest.data();
  const char* last = rest.data() + rest.size();
  if (first != last && *first == '+') ++first;
  int32_t number = -1;
  const auto [end, error] = std::from_chars(first, last, number);
  if (first == last || error != std::errc() || end != last) return -1;
  return number > kHighestNoteNumber ? -1 : number;
}
}  // namespace

namespace {
// The note's exact pitch, or 0 when the text is not a note; octave as for NoteToFrequency.
long double ExactPitch(std::string_view note, int32_t& octave) {
  const std::string text = Normalise(note);
  std::string_view s = text;
  int32_t o = octave;
  int64_t number = -1;

  if (!s.empty() && s.front() == 'N') {
    number = ReadNoteNumber(s.substr(1));
    s = {};
  } else {
    if (!s.empty() && s.front() == 'O') {
      s.remove_prefix(1);
      if (s.empty() || s.front() < '0' || s.front() > '9') return 0;
      o = s.front() - '0';
      s.remove_prefix(1);
    } else {
      while (!s.empty() && (s.front() == '<' || s.front() == '>')) {
        if (s.front() == '<' && o > 0) --o;
        if (s.front() == '>' && o < 9) ++o;
        s.remove_prefix(1);
      }
    }
    if (s.empty() || s.front() < 'A' || s.front() > 'G') return 0;
    const char letter = s.front();
    int32_t semitone = kLetterSemitones[letter - 'A'];
    s.remove_prefix(1);
    if (!s.empty() && (s.front() == '+' || s.front() == '#')) {
      if (letter == 'B' || letter == 'E') return 0;
      ++semitone;
      s.remove_prefix(1);
    } else if (!s.empty() && s.front() == '-') {
      if (letter == 'C' || letter == 'F') return 0;
      --semitone;
      s.remove_prefix(1);
      if (semitone < 0) {
        // A flat is the G sharp of the octave below.
        semitone = 11;
        --o;
        if (o < 0) return 0;
      }
    }
    number = semitone + 12 * static_cast<int64_t>(o);
  }
  if (!s.empty() || number < 0) return 0;

  octave = o;
  // Only an octave state outside 0..9, which no caller of the component can set, gets here.
  if (number > kHighestNoteNumber) return 0;
  return kReferencePitch *
         std::pow(2.0L, static_cast<long double>(number - kReferenceNote) / 12.0L);
}
}  // namespace

int32_t NoteToFrequency(std::string_view note, int32_t& octave) {
  const long double exact = ExactPitch(note, octave);
  if (exact == 0) return 0;
  const int32_t frequency = static_cast<int32_t>(std::floor(exact + 0.5L));
  return (frequency >= 20 && frequency <= 20000) ? frequency : 0;
}

double NoteToExactFrequency(std::string_view note, int32_t octave) {
  return static_cast<double>(ExactPitch(note, octave));
}
