#include "wave_volume.h"

#include <atomic>

#include "testing/tonegen_testing.h"

namespace {
// Read by the audio thread of the sound service, written on the window thread.
std::atomic<uint32_t> g_volume_word{0xFFFFFFFFu};
std::atomic<bool> g_read_fails{false};
std::atomic<bool> g_mono{false};
}  // namespace

uint32_t waveOutGetDevCapsA(uint32_t device_id, WAVEOUTCAPSA* caps) {
  if (device_id != 0) return MMSYSERR_BADDEVICEID;
  if (caps == nullptr) return MMSYSERR_INVALPARAM;
  caps->dwSupport = g_mono ? WAVECAPS_VOLUME : (WAVECAPS_VOLUME | WAVECAPS_LRVOLUME);
  return MMSYSERR_NOERROR;
}

uint32_t waveOutGetVolume(uint32_t device_id, uint32_t* volume) {
  if (device_id != 0) return MMSYSERR_BADDEVICEID;
  if (volume == nullptr) return MMSYSERR_INVALPARAM;
  if (g_read_fails) return MMSYSERR_ERROR;
  const uint32_t word = g_volume_word;
  // A mono device reports its one level in the low word only.
  *volume = g_mono ? (word & 0xFFFFu) : word;
  return MMSYSERR_NOERROR;
}

uint32_t waveOutSetVolume(uint32_t device_id, uint32_t volume) {
  if (device_id != 0) return MMSYSERR_BADDEVICEID;
  // A mono device takes its level from the low word for both channels.
  g_volume_word = g_mono ? ((volume & 0xFFFFu) * 0x10001u) : volume;
  return MMSYSERR_NOERROR;
}

uint32_t CurrentWaveVolumeWord() {
  return g_volume_word.load(std::memory_order_relaxed);
}

void SetWaveVolumeReadFailsForTesting(bool fails) {
  g_read_fails = fails;
}
void SetWaveVolumeMonoForTesting(bool mono) {
  g_mono = mono;
}
