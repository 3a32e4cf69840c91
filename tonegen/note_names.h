// Note names for the tone generator: a note letter A..G with an optional sharp ("+" or "#") or
// flat ("-"), opened by an absolute octave ("O" and a digit) or by relative octave marks ("<"
// down, ">" up); or "N" and a note number. Letters may be lower case; spaces and control
// characters around the text are ignored.
//
// Octaves begin at A and run 0..9; note number = semitone from A + 12 x octave, so N48 is the A
// of octave 4 at 440 Hz and C in octave 4 is 523 Hz. The octave is state kept by the caller:
// each call starts from the octave the last successful one left.
#pragma once

#include <cstdint>
#include <string_view>

#include "tonegen_api.h"

// The equal-tempered frequency in whole hertz (halves rounded up), or 0 when the text is not a
// note or the frequency lies outside 20..20000. When the text is a note, octave receives the
// octave it ends in (also when the frequency is then out of range); otherwise it is left alone.
ZELKGEN_TONEGEN_API int32_t NoteToFrequency(std::string_view note, int32_t& octave);

// The exact equal-tempered pitch of a note NoteToFrequency accepted (A0 = 27.5 Hz), read from
// the octave it was given; 0 when the text is not a note.
ZELKGEN_TONEGEN_API double NoteToExactFrequency(std::string_view note, int32_t octave);
