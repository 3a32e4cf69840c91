// The stored settings of a tone generator as readable text, the form a window keeps them in.
//
//   object ToneGen1: TToneGen
//     Duration = 30000
//     Loop = True
//     AMAmplitude = 0
//     AMWaveform = tgSquare
//     AMFrequency = 0.5
//     AMArrayData = {
//       64000000
//       07000000000000000100000000000000
//       ...
//     }
//   end
//
// One property per line, in this order, each only when it differs from its default (a
// default-constructed ToneSettings, tone_settings.h): Frequency, Duration, Waveform, Attack, Hold,
// Decay, Sustain, Release, Async, Loop, Resolution, Quality, LeftVolume, RightVolume, Stereo,
// AMLevel, AMAmplitude, AMWaveform, AMFrequency (these three mirrors are always written),
// AMUseMultiplier. Then the binary values the component defines, AMArrayData (its AM table, 100
// bytes), every time.
//
// Values: whole numbers in decimal (16-bit signed; any other whole number reads as the nearer
// 16-bit bound, which the setter then clamps like any out-of-range value); True or False;
// enumeration names (tgSquare, tg8Bit, tgLoQ, tgAMLevel3 ...), or a plain ordinal for a waveform
// that has no name; floats in the shortest decimal that reads back to the same bits ("0.5",
// "1.4977273", "inf"), or "$" and the eight hex digits of their bits (written for NaN, whose
// payload a decimal would lose). A binary value is framed as "{", its 32-bit little-endian length
// field in hex on a line of its own, the bytes in hex, 16 to a line, and "}". Blank lines are
// ignored; a nameless component is written "object TToneGen".
#pragma once

#include <string>
#include <string_view>

#include "tone_gen.h"
#include "tonegen_api.h"

// Reads the text into gen and gives it the name found there. The whole text is checked first:
// an unknown or repeated property, a malformed value, a bad frame or anything else wrong fails
// with an error naming the line and the fault, and gen is left as it was. Then the setters run
// in the order above with the loading flag set, and the binary values last. A binary value
// shorter than its reader needs fails with "line <n>: AMArrayData: Stream read error"; the
// properties are then applied already, the AM table is left as it was.
ZELKGEN_TONEGEN_API bool ReadToneGenForm(TToneGen& gen, std::string_view text, std::string* error);

// The text of gen's stored settings, as above.
ZELKGEN_TONEGEN_API std::string WriteToneGenForm(const TToneGen& gen);
