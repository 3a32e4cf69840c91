#include "tone_gen_editing.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "replace_file.h"
#include "stored_form.h"
#include "wave_render.h"

void ResetToneGenProperties(TToneGen& gen) {
  const ToneSettings defaults;
  gen.SetFrequency(defaults.Frequency);
  gen.SetDuration(defaults.Duration);
  gen.SetWaveform(defaults.Waveform);
  gen.SetAttack(defaults.Attack);
  gen.SetHold(defaults.Hold);
  gen.SetDecay(defaults.Decay);
  gen.SetSustain(defaults.Sustain);
  gen.SetRelease(defaults.Release);
  gen.SetAsync(defaults.Async);
  gen.SetLoop(defaults.Loop);
  gen.SetResolution(defaults.Resolution);
  gen.SetQuality(defaults.Quality);
  gen.SetLeftVolume(defaults.LeftVolume);
  gen.SetRightVolume(defaults.RightVolume);
  gen.SetStereo(defaults.Stereo);
  gen.ResetAM();
  // Selecting the level copies its fresh entry into the three mirror properties.
  gen.SetAMLevel(defaults.AMLevel);
  gen.SetAMUseMultiplier(defaults.AMUseMultiplier);
}

bool LoadToneGenSettings(TToneGen& gen, std::string_view text, std::string* error) {
  {
    TToneGen scratch(nullptr);
    if (!ReadToneGenForm(scratch, text, error)) return false;
  }
  const std::string name = gen.Name();
  ResetToneGenProperties(gen);
  const bool read = ReadToneGenForm(gen, text, error);
  gen.SetName(name);
  return read;
}

bool SaveToneGenSettings(const TToneGen& gen, const std::string& path) {
  const std::string text = WriteToneGenForm(gen);
  return ReplaceFileContents(path, text.data(), text.size());
}

namespace {

// True when the component's image is, byte for byte, the rendering wanted.
bool ImageIs(const TToneGen& gen, const std::vector<uint8_t>& wanted) {
  const uint8_t* image = gen.GetDataBuffer();
  if (image == nullptr) return false;
  // The header's data size tells the image's length before any byte past it is read.
  if (std::memcmp(image, wanted.data(), kWaveHeaderSize) != 0) return false;
  return std::memcmp(image, wanted.data(), wanted.size()) == 0;
}

}  // namespace

bool ExportTone(TToneGen& gen, bool enveloped, const std::string& path) {
  std::vector<uint8_t> wanted(static_cast<size_t>(WaveImageSize(gen.Settings())));
  RenderWaveImage(gen.Settings(), enveloped, wanted.data());
  if (!ImageIs(gen, wanted)) {
    const bool rendered = enveloped ? gen.PrepareADSR() : gen.Prepare();
    if (!rendered) return false;
  }
  return gen.ExportFile(path);
}
