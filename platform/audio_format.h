// The one audio format every sound path of the system uses (the treatment run's output, the
// export's files, the exact-frequency stream) and the built-in programs' step length, with every
// figure derived from them here: frames per second, channels, bytes, and a step in frames.
#pragma once

#include <cstdint>

inline constexpr int kFramesPerSecond = 44100;
inline constexpr int kChannels = 2;  // left first, signed 16-bit little-endian samples
inline constexpr int kBytesPerSample = 2;
inline constexpr int kBytesPerFrame = kChannels * kBytesPerSample;

// Frames in ms milliseconds: 44.1 per millisecond, exact for every multiple of 10 ms, otherwise
// rounded down (by less than a frame).
constexpr uint64_t FramesForMs(uint64_t ms) {
  return ms * kFramesPerSecond / 1000;
}

// One step of a built-in program: the step timer's period, and the frames the output plays of it.
inline constexpr int kStepMilliseconds = 180000;
inline constexpr uint32_t kStepFrames = FramesForMs(kStepMilliseconds);
