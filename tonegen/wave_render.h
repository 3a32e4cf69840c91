// The tone generator's renderer: builds a RIFF/WAVE image of a main tone plus up to eight
// mixed-in AM levels, optionally shaped by an attack-hold-decay-sustain-release envelope.
//
// Pure functions of the settings: the component copies its properties and AM table into
// ToneSettings and owns the memory; nothing here allocates the image or touches any sound.
// Image layout: 44-byte header, D bytes of samples, 32 guard bytes holding the silence byte.
#pragma once

#include <array>
#include <cstdint>

#include "tg_types.h"

inline constexpr int32_t kWaveHeaderSize = 44;
inline constexpr int32_t kWaveGuardSize = 32;

// Everything a rendering reads from the component (its defaults are the component's).
struct ToneSettings {
  int16_t Frequency = 440;  // hertz, 20..20000
  int16_t Duration = 100;   // milliseconds, 10..32767
  TTGWave Waveform = tgSine;
  int16_t Attack = 10;  // percent of Duration
  int16_t Hold = 5;
  int16_t Decay = 20;
  int16_t Sustain = 50;  // percent of full amplitude
  int16_t Release = 30;
  TTGResolution Resolution = tg16Bit;
  TTGQuality Quality = tgHiQ;
  bool Stereo = false;
  bool AMUseMultiplier = true;
  std::array<int16_t, kAMLevelCount> AMAmplitudes{};
  std::array<TTGWave, kAMLevelCount> AMWaveforms{};
  std::array<float, kAMLevelCount> AMFrequencies{0.5f, 1.0f, 1.5f, 2.0f, 2.5f, 3.0f, 3.5f, 4.0f};
  // Set for a component in a design environment: a clamped AM frequency shows the range message.
  bool Designing = false;
};

// The data size D in bytes (not always a whole number of frames).
int32_t WaveDataSize(const ToneSettings& settings);

// The whole image size: D + 44 + 32.
int64_t WaveImageSize(const ToneSettings& settings);

// The 44 header bytes for data of the given size.
std::array<uint8_t, kWaveHeaderSize> MakeWaveHeader(bool stereo, bool sixteen_bit,
                                                    bool high_quality, int32_t data_size);

// Fills image (WaveImageSize bytes) with the silence byte, the header and the mixed components,
// then applies the envelope when enveloped is set.
void RenderWaveImage(const ToneSettings& settings, bool enveloped, uint8_t* image);

// Shapes D bytes of finished samples at data (the image from offset 44) with the envelope of
// settings (Attack, Hold, Decay, Sustain, Release, Resolution). The last envelope frame may lie
// in the guard bytes that follow the data.
void ApplyEnvelope(uint8_t* data, int32_t data_size, bool stereo, const ToneSettings& settings);
