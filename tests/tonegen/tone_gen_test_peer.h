// Read access to the tone generator's inner state for its tests.
#pragma once

#include <array>
#include <bit>
#include <cstdint>

#include "tone_gen.h"

// The bit pattern of a frequency value, and back: stored frequencies must survive bit for bit.
inline uint32_t Bits(float value) { return std::bit_cast<uint32_t>(value); }
inline float FromBits(uint32_t bits) { return std::bit_cast<float>(bits); }

class TToneGenTestPeer {
 public:
  explicit TToneGenTestPeer(const TToneGen& gen) : gen_(gen) {}

  bool FToneDirty() const { return gen_.FToneDirty; }
  bool FADSRDirty() const { return gen_.FADSRDirty; }
  bool FPlainDirty() const { return gen_.FPlainDirty; }
  bool FStopped() const { return gen_.FStopped; }
  const uint8_t* FDataBuffer() const { return gen_.FDataBuffer.get(); }
  int32_t FDataSize() const { return gen_.FDataSize; }
  uint32_t FDeviceID() const { return gen_.FDeviceID; }
  int32_t FOctave() const { return gen_.FOctave; }
  const std::array<int16_t, kAMLevelCount>& FAMAmplitudes() const { return gen_.FAMAmplitudes; }
  const std::array<TTGWave, kAMLevelCount>& FAMWaveforms() const { return gen_.FAMWaveforms; }
  const std::array<float, kAMLevelCount>& FAMFrequencies() const { return gen_.FAMFrequencies; }
  const std::array<int32_t, kAMLevelCount>& FAMOctaves() const { return gen_.FAMOctaves; }

 private:
  const TToneGen& gen_;
};
