// Enumerations shared by the tone generator component, its renderer and its stored form.
// One byte each, ordinals from 0, in the order the component's users rely on.
#pragma once

#include <cstdint>

enum TTGWave : uint8_t { tgSine, tgSquare, tgTriangle, tgSawtooth, tgNoise };
enum TTGResolution : uint8_t { tg16Bit, tg8Bit };
enum TTGQuality : uint8_t { tgHiQ, tgLoQ };
enum TTGAMLevel : uint8_t {
  tgAMLevel1,
  tgAMLevel2,
  tgAMLevel3,
  tgAMLevel4,
  tgAMLevel5,
  tgAMLevel6,
  tgAMLevel7,
  tgAMLevel8
};

// Why the latest Play, PlayADSR or ExportFile of a TToneGen did not do what it was asked.
enum TTGError : uint8_t {
  tgeNone,          // it did
  tgeNoMemory,      // the memory for the image could not be had
  tgeNoImage,       // an export before any image was rendered
  tgeNoOutput,      // no sound output could be reached (no server, no device, no SDL2)
  tgeOutputFailed,  // the output exists but its driver failed to open it
  tgeWriteFailed,   // the file could not be written (LastErrorText says why)
};

inline constexpr int kAMLevelCount = 8;
