// TToneGen: a non-visual component that renders one tone (a main tone plus up to eight mixed-in
// AM levels, optionally shaped by an attack-hold-decay-sustain-release envelope) into an
// in-memory RIFF/WAVE image, plays it through the process's sound service and writes it to files.
//
// State: the properties below; the AM table (amplitude, waveform and frequency value per level),
// of which AMAmplitude, AMWaveform and AMFrequency mirror the entry AMLevel selects; three image
// flags that decide when Play and PlayADSR must render anew; FStopped, true unless an
// asynchronous or looping playback was started; the octaves of SetNote and SetAMNote.
//
// Device volume: while instances of a running program exist, the wave output volume
// (wave_volume.h) follows LeftVolume and RightVolume; the first instance saves the volume it
// found, the last one restores it. When the volume could not be read, the last one leaves it.
//
// Out-of-range values are clamped to the nearer bound; in the designing state the range message
// hook (range_check.h) tells the designer first. Used from one thread; no locks.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "component.h"
#include "tg_types.h"
#include "tone_settings.h"
#include "tonegen_api.h"

class ZELKGEN_TONEGEN_API TToneGen : public TComponent {
 public:
  explicit TToneGen(TComponent* AOwner);
  ~TToneGen() override;

  // Renders the plain tone when the image is stale, then plays it.
  void Play();
  // Renders the enveloped tone when the image is stale, then plays it.
  void PlayADSR();
  // Stops every sound of the sound service in the process (any instance's); FStopped true.
  void Stop();
  // Sends LeftVolume and RightVolume to the device.
  void PresetVolume();
  // Applies the volumes and renders the plain or enveloped tone, stale or not. False when the
  // memory for the image could not be had (there is then no image).
  bool Prepare();
  bool PrepareADSR();
  // Amplitude 0, tgSine and (i + 1) / 2 for every level; the mirror properties keep their values.
  void ResetAM();
  // Writes one AM entry as given (no clamping); the mirror properties are not updated.
  void SetAMParameter(TTGAMLevel level, int16_t amplitude, float frequency, TTGWave waveform);
  // The wave image (44-byte header, samples, 32 guard bytes), or nullptr before any rendering.
  // It stays valid until the next rendering or the destruction of the component.
  const uint8_t* GetDataBuffer() const { return FDataBuffer.get(); }
  // Writes the image as it stands (FDataSize bytes) over fileName as a whole. False, and no file
  // touched, when there is no image or the file cannot be written.
  bool ExportFile(const std::string& fileName);
  // Sets Frequency from a note name (note_names.h); returns it, or 0 with nothing changed.
  int32_t SetNote(std::string_view note);
  // Sets one AM entry's frequency value from a note name (a factor of Frequency when
  // AMUseMultiplier is set); returns the stored value, or 0 with nothing changed.
  float SetAMNote(TTGAMLevel level, std::string_view note);

  // Properties.
  int16_t Frequency() const { return FSettings.Frequency; }  // hertz, 20..20000
  void SetFrequency(int16_t value);
  int16_t Duration() const { return FSettings.Duration; }  // milliseconds, 10..32767
  void SetDuration(int16_t value);
  TTGWave Waveform() const { return FSettings.Waveform; }
  void SetWaveform(TTGWave value);
  int16_t Attack() const {
    return FSettings.Attack;
  }  // percent of Duration, as Hold, Decay, Release
  void SetAttack(int16_t value);
  int16_t Hold() const { return FSettings.Hold; }
  void SetHold(int16_t value);
  int16_t Decay() const { return FSettings.Decay; }
  void SetDecay(int16_t value);
  int16_t Sustain() const { return FSettings.Sustain; }  // percent of full amplitude
  void SetSustain(int16_t value);
  int16_t Release() const { return FSettings.Release; }
  void SetRelease(int16_t value);
  bool Async() const { return FSettings.Async; }
  void SetAsync(bool value) { FSettings.Async = value; }
  bool Loop() const { return FSettings.Loop; }  // a looping sound is always asynchronous
  void SetLoop(bool value) { FSettings.Loop = value; }
  TTGResolution Resolution() const { return FSettings.Resolution; }
  void SetResolution(TTGResolution value);
  TTGQuality Quality() const { return FSettings.Quality; }
  void SetQuality(TTGQuality value);
  // Percent; reach the device at once while loading or stopped, else at the next playback.
  int16_t LeftVolume() const { return FSettings.LeftVolume; }
  void SetLeftVolume(int16_t value);
  int16_t RightVolume() const { return FSettings.RightVolume; }
  void SetRightVolume(int16_t value);
  bool Stereo() const { return FSettings.Stereo; }
  void SetStereo(bool value);
  // Selecting a level copies its entry into the mirror properties through their setters, so a
  // stored amplitude outside 0..100 is clamped in the entry too. Levels past tgAMLevel8 are
  // ignored here, in SetAMParameter and in SetAMNote.
  TTGAMLevel AMLevel() const { return FSettings.AMLevel; }
  void SetAMLevel(TTGAMLevel value);
  int16_t AMAmplitude() const { return FSettings.AMAmplitude; }  // percent, 0..100
  void SetAMAmplitude(int16_t value);
  TTGWave AMWaveform() const { return FSettings.AMWaveform; }
  void SetAMWaveform(TTGWave value);
  float AMFrequency() const { return FSettings.AMFrequency; }  // a factor of Frequency, or hertz
  void SetAMFrequency(float value);
  bool AMUseMultiplier() const { return FSettings.AMUseMultiplier; }
  void SetAMUseMultiplier(bool value);

  // The properties and the AM table as one value.
  const ToneSettings& Settings() const { return FSettings; }

  // Adds the binary stored value "AMArrayData" (the 100-byte AM table) to the base's.
  void DefineProperties(TFiler& Filer) override;

 private:
  int16_t CheckRange(int16_t minimum, int16_t maximum, int16_t value) const;
  int16_t CheckPercent(int16_t value) const { return CheckRange(0, 100, value); }
  void ApplyVolume() const;
  // The device's volume word; read_ok tells whether the device could be read at all.
  uint32_t GetDeviceVolume(bool* read_ok) const;
  bool RenderImage(bool Enveloped);
  void StartPlayback();
  bool ReadAMData(TBinaryStream& Stream);
  void WriteAMData(TBinaryStream& Stream) const;
  static bool IsLevel(TTGAMLevel level) { return level < kAMLevelCount; }

 protected:
  // The component's state, open to components derived from it.
  bool FToneDirty = true;
  bool FADSRDirty = true;
  bool FPlainDirty = true;
  bool FStopped = true;
  std::unique_ptr<uint8_t[]> FDataBuffer;
  int32_t FDataSize = 0;
  ToneSettings FSettings;  // the properties and the AM table
  uint32_t FDeviceID = 0;
  int32_t FOctave = 4;
  std::array<int32_t, kAMLevelCount> FAMOctaves{};
  int FRenderCount = 0;  // images built since creation
};

// Unit-wide: the number of live instances (designing ones included) and the volume word the
// first instance of a running program found. SavedVolumeKnown is true from a successful read
// until the last instance has given that volume back; otherwise the last instance leaves the
// volume as it is.
extern ZELKGEN_TONEGEN_API int32_t ToneGenCount;
extern ZELKGEN_TONEGEN_API uint32_t SavedVolume;
extern ZELKGEN_TONEGEN_API bool SavedVolumeKnown;
