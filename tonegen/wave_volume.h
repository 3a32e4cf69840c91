// Wave output device 0: on this system, the process's own wave output volume.
//
// Every sound the tone generator's sound service plays is scaled by it, left and right apart.
// It is never the system's master volume: the tone generator sets it to full while it lives,
// and doing that to a user's system volume with an amplifier attached would be unsafe.
//
// The volume word holds the left channel in its low 16 bits and the right channel in its high
// 16 bits, 0..65535 each. It starts at full volume (FFFFFFFF hex).
#pragma once

#include <cstdint>

// Result codes of the wave output calls.
inline constexpr uint32_t MMSYSERR_NOERROR = 0;
inline constexpr uint32_t MMSYSERR_BADDEVICEID = 2;  // only device 0 exists
inline constexpr uint32_t MMSYSERR_INVALPARAM = 11;  // a null pointer was passed
inline constexpr uint32_t MMSYSERR_ERROR = 1;        // the volume cannot be read

// Support flags of the capabilities.
inline constexpr uint32_t WAVECAPS_VOLUME = 0x0004;
inline constexpr uint32_t WAVECAPS_LRVOLUME = 0x0008;

struct WAVEOUTCAPSA {
  uint32_t dwSupport = 0;
};

uint32_t waveOutGetDevCapsA(uint32_t device_id, WAVEOUTCAPSA* caps);
uint32_t waveOutGetVolume(uint32_t device_id, uint32_t* volume);
uint32_t waveOutSetVolume(uint32_t device_id, uint32_t volume);

// Left and right gains (0..65535) for the sound service's mixer; safe on the audio thread.
uint32_t CurrentWaveVolumeWord();
