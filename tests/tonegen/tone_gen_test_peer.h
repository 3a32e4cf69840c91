// Read access to the tone generator's inner state for its tests. The state is protected: a member
// pointer named through a class derived from TToneGen reaches it in any instance.
#pragma once

#include <array>
#include <bit>
#include <cstdint>

#include "tone_gen.h"
#include "tone_gen_instances.h"

// The bit pattern of a frequency value, and back: stored frequencies must survive bit for bit.
inline uint32_t Bits(float value) {
  return std::bit_cast<uint32_t>(value);
}
inline float FromBits(uint32_t bits) {
  return std::bit_cast<float>(bits);
}

class TToneGenTestPeer {
 public:
  explicit TToneGenTestPeer(const TToneGen& gen) : gen_(gen) {}

  bool FToneDirty() const { return gen_.*(&State::FToneDirty); }
  bool FADSRDirty() const { return gen_.*(&State::FADSRDirty); }
  bool FPlainDirty() const { return gen_.*(&State::FPlainDirty); }
  bool FStopped() const { return gen_.*(&State::FStopped); }
  const uint8_t* FDataBuffer() const { return (gen_.*(&State::FDataBuffer)).get(); }
  int32_t FDataSize() const { return gen_.*(&State::FDataSize); }
  uint32_t FDeviceID() const { return gen_.*(&State::FDeviceID); }
  int32_t FOctave() const { return gen_.*(&State::FOctave); }
  const std::array<int16_t, kAMLevelCount>& FAMAmplitudes() const {
    return gen_.Settings().FAMAmplitudes;
  }
  const std::array<TTGWave, kAMLevelCount>& FAMWaveforms() const {
    return gen_.Settings().FAMWaveforms;
  }
  const std::array<float, kAMLevelCount>& FAMFrequencies() const {
    return gen_.Settings().FAMFrequencies;
  }
  const std::array<int32_t, kAMLevelCount>& FAMOctaves() const {
    return gen_.*(&State::FAMOctaves);
  }
  // Images built since creation: when rendering happens.
  int FRenderCount() const { return gen_.*(&State::FRenderCount); }

 private:
  // Never created; it only names the protected members.
  struct State : TToneGen {
    using TToneGen::FADSRDirty;
    using TToneGen::FAMOctaves;
    using TToneGen::FDataBuffer;
    using TToneGen::FDataSize;
    using TToneGen::FDeviceID;
    using TToneGen::FOctave;
    using TToneGen::FPlainDirty;
    using TToneGen::FRenderCount;
    using TToneGen::FStopped;
    using TToneGen::FToneDirty;
  };

  const TToneGen& gen_;
};
