// Feeds arbitrary texts and starting octaves to the note parser.
#include <cstdint>
#include <cstring>
#include <string_view>

#include "note_names.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The first byte picks the starting octave, mostly from 0..9 as the component holds it.
  int32_t octave = 4;
  if (size > 0) {
    octave = static_cast<int8_t>(data[0]) % 12;
    ++data;
    --size;
  }
  const int32_t before = octave;
  const std::string_view note(reinterpret_cast<const char*>(data), size);
  const int32_t frequency = NoteToFrequency(note, octave);
  if (frequency != 0 && (frequency < 20 || frequency > 20000)) __builtin_trap();
  if (before >= 0 && before <= 9 && (octave < 0 || octave > 9)) __builtin_trap();
  return 0;
}
