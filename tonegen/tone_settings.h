// ToneSettings: every property of the tone generator in one value, the AM table included. A
// default-constructed value holds the component's defaults, which are also the defaults its
// stored form leaves out. TToneGen holds one; the renderer reads it as it is.
#pragma once

#include <array>
#include <cstdint>

#include "tg_types.h"

// Bounds of every frequency in hertz, the main tone's and a multiplied AM level's.
inline constexpr int16_t kMinFrequency = 20;
inline constexpr int16_t kMaxFrequency = 20000;

// The AM table's frequency values after ResetAM: (i + 1) / 2 for level i, 0.5 to 4.0.
constexpr std::array<float, kAMLevelCount> ResetAMFrequencies() {
  std::array<float, kAMLevelCount> values{};
  for (int i = 0; i < kAMLevelCount; ++i) values[i] = static_cast<float>((i + 1) / 2.0);
  return values;
}

struct ToneSettings {
  int16_t Frequency = 440;  // hertz, kMinFrequency..kMaxFrequency
  int16_t Duration = 100;   // milliseconds, 10..32767
  TTGWave Waveform = tgSine;
  int16_t Attack = 10;  // percent of Duration, as Hold, Decay and Release
  int16_t Hold = 5;
  int16_t Decay = 20;
  int16_t Sustain = 50;  // percent of full amplitude
  int16_t Release = 30;
  bool Async = true;
  bool Loop = false;
  TTGResolution Resolution = tg16Bit;
  TTGQuality Quality = tgHiQ;
  int16_t LeftVolume = 100;  // percent
  int16_t RightVolume = 100;
  bool Stereo = false;
  TTGAMLevel AMLevel = tgAMLevel1;
  // Mirrors of the AM table's entry at AMLevel.
  int16_t AMAmplitude = 0;
  TTGWave AMWaveform = tgSine;
  float AMFrequency = 0.5f;
  bool AMUseMultiplier = true;
  // The AM table: amplitude (percent of full scale), waveform and frequency value per level; the
  // frequency value is a factor of Frequency when AMUseMultiplier is set, else hertz.
  std::array<int16_t, kAMLevelCount> FAMAmplitudes{};
  std::array<TTGWave, kAMLevelCount> FAMWaveforms{};
  std::array<float, kAMLevelCount> FAMFrequencies = ResetAMFrequencies();
  // The clean rendering: a phase that runs on across periods, at ExactFrequency hertz (which
  // follows Frequency unless set finer). Off by default; the described rendering ignores both.
  bool Clean = false;
  double ExactFrequency = 440.0;
};
