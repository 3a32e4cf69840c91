// The tone generator's renderer: builds a RIFF/WAVE image of a main tone plus up to eight
// mixed-in AM levels, optionally shaped by an attack-hold-decay-sustain-release envelope.
//
// Pure functions of the component's settings value (tone_settings.h), which they read as it is;
// the component owns the memory and shows any message. Nothing here allocates the image, shows
// anything or touches any sound.
// Image layout: 44-byte header, D bytes of samples, 32 guard bytes holding the silence byte.
#pragma once

#include <array>
#include <cstdint>

#include "tone_settings.h"

inline constexpr int32_t kWaveHeaderSize = 44;
inline constexpr int32_t kWaveGuardSize = 32;

// The data size D in bytes (not always a whole number of frames).
int32_t WaveDataSize(const ToneSettings& settings);

// The whole image size: D + 44 + 32.
int64_t WaveImageSize(const ToneSettings& settings);

// The 44 header bytes for data of the given size.
std::array<uint8_t, kWaveHeaderSize> MakeWaveHeader(bool stereo, bool sixteen_bit,
                                                    bool high_quality, int32_t data_size);

// Fills image (WaveImageSize bytes) with the silence byte, the header and the mixed components,
// then applies the envelope when enveloped is set. Returns how many multiplied AM frequencies were
// clamped to kMinFrequency..kMaxFrequency (each by the rule of range_check.h, silently).
int RenderWaveImage(const ToneSettings& settings, bool enveloped, uint8_t* image);

// Shapes D bytes of finished samples at data (the image from offset 44) with the envelope of
// settings (Attack, Hold, Decay, Sustain, Release, Resolution). The last envelope frame may lie
// in the guard bytes that follow the data.
void ApplyEnvelope(uint8_t* data, int32_t data_size, bool stereo, const ToneSettings& settings);
