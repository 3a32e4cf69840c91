// Little-endian byte order, the order of everything this system reads and writes as bytes: the
// audio output's frames, RIFF/WAVE images and the tone generator's stored AM table. Safe on any
// thread, the audio callbacks included (no allocation, no locks).
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

inline void PutLE16(uint8_t* bytes, uint16_t value) {
  bytes[0] = static_cast<uint8_t>(value);
  bytes[1] = static_cast<uint8_t>(value >> 8);
}

inline void PutLE32(uint8_t* bytes, uint32_t value) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(bytes, &value, 4);  // one store on the machines the program runs on
  } else {
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
  }
}

inline uint16_t GetLE16(const uint8_t* bytes) {
  return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

inline uint32_t GetLE32(const uint8_t* bytes) {
  return uint32_t{bytes[0]} | (uint32_t{bytes[1]} << 8) | (uint32_t{bytes[2]} << 16) |
         (uint32_t{bytes[3]} << 24);
}
