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

inline constexpr int kAMLevelCount = 8;
