// The process's sound service for whole RIFF/WAVE images held in memory, played through SDL2 on
// the default output and scaled by the process's wave output volume (wave_volume.h).
//
// PlaySoundA(image, nullptr, flags):
//   SND_MEMORY (4)                        returns when the sound has ended;
//   SND_MEMORY | SND_ASYNC (5)            returns at once and plays once in the background;
//   SND_MEMORY | SND_ASYNC | SND_LOOP (13) returns at once and repeats until stopped.
// PlaySoundA(nullptr, nullptr, 0) stops every sound of this service in the process.
// Any new sound stops the one before. An image that cannot be parsed or played starts nothing
// and the call returns false; no default sound is ever played.
// The service copies the samples it plays, so a caller may free or replace its image at once.
// SDL2 is loaded at the first sound (platform/sdl_audio_api.h); where it cannot be loaded, a sound
// returns false and starts nothing. Stopping never loads it.
#pragma once

#include <cstdint>

inline constexpr uint32_t SND_SYNC = 0x0000;
inline constexpr uint32_t SND_ASYNC = 0x0001;
inline constexpr uint32_t SND_MEMORY = 0x0004;
inline constexpr uint32_t SND_LOOP = 0x0008;

bool PlaySoundA(const void* sound, void* module, uint32_t flags);

// While a looping sound of the service plays: it goes on with the image given, from its own next
// period start (the first frame trunc(k x frames_per_period), k = 0, 1, ..., not yet played),
// repeating it when loop is set, else playing it once. False, with nothing changed, when no loop
// plays or the image cannot be played at the open output's frame rate.
bool SoundServiceContinueLoop(const void* sound, double frames_per_period, bool loop);

// Why the latest PlaySoundA of the process returned false; None after one that returned true.
enum class SoundFailure {
  None,
  // The flags or the image are not ones the service plays.
  Refused,
  // No output could be reached: SDL2 or its audio missing, no sound server, no device.
  NoOutput,
  // An output exists, but its driver failed to open it.
  OutputFailed,
};
SoundFailure LastSoundFailure();
