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
#include <type_traits>

#include "component.h"
#include "tg_types.h"
#include "tone_settings.h"
#include "tonegen_api.h"

// An integer type other than int16_t and bool, for the setters' clamping overloads.
template <typename Int>
using WiderInteger = std::enable_if_t<std::is_integral_v<Int> && !std::is_same_v<Int, int16_t> &&
                                      !std::is_same_v<Int, bool>>;

// value, or the nearer bound of int16_t when it lies outside.
template <typename Int>
constexpr int16_t SaturatedInt16(Int value) {
  if constexpr (std::is_signed_v<Int>) {
    const intmax_t wide = value;
    if (wide < INT16_MIN) return INT16_MIN;
    if (wide > INT16_MAX) return INT16_MAX;
  } else {
    if (static_cast<uintmax_t>(value) > INT16_MAX) return INT16_MAX;
  }
  return static_cast<int16_t>(value);
}

class ZELKGEN_TONEGEN_API TToneGen : public TComponent {
 public:
  explicit TToneGen(TComponent* AOwner);
  ~TToneGen() override;

  // Renders the plain tone when the image is stale, then plays it.
  void Play();
  // Renders the enveloped tone when the image is stale, then plays it.
  void PlayADSR();
  // While a loop this component started plays: renders the tone anew (plain or enveloped, as it
  // was started) when a property changed since, and goes on with it from the playing tone's next
  // period start; at once, as Play does, when the frame rate (Quality) changed. With Loop cleared
  // the new tone plays once and ends. False, with nothing done, when no loop of it plays;
  // LastError as for Play.
  bool ContinueLoop();
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
  // The image's size in bytes (header, samples and guard bytes), 0 before any rendering.
  int32_t GetDataSize() const { return FDataSize; }
  // Writes the image as it stands (FDataSize bytes) over fileName as a whole. False, and no file
  // touched, when there is no image or the file cannot be written.
  bool ExportFile(const std::string& fileName);
  // How the latest Play, PlayADSR or ExportFile ended: tgeNone when it did what it was asked,
  // else why not (Play and PlayADSR still return nothing and never raise).
  TTGError LastError() const { return FLastError; }
  // The same as one line of English ("no sound output could be opened", "cannot write 'x.wav':
  // Is a directory"); empty with tgeNone.
  const std::string& LastErrorText() const { return FLastErrorText; }
  // Sets Frequency from a note name (note_names.h); returns it, or 0 with nothing changed.
  int32_t SetNote(std::string_view note);
  // Sets one AM entry's frequency value from a note name (a factor of Frequency when
  // AMUseMultiplier is set); returns the stored value, or 0 with nothing changed.
  float SetAMNote(TTGAMLevel level, std::string_view note);

  // Properties. The 16-bit setters clamp to the range noted beside them. Called with a wider
  // integer (an int, a long ...), they clamp it the same way rather than let the conversion to 16
  // bits wrap it: SetFrequency(40000) sets 20000 Hz.
  int16_t Frequency() const { return FSettings.Frequency; }  // hertz, 20..20000
  void SetFrequency(int16_t value);
  template <typename Int, typename = WiderInteger<Int>>
  void SetFrequency(Int value) {
    SetFrequency(SaturatedInt16(value));
  }
  // The frequency in hertz with its fraction, 20..20000: what the clean rendering plays.
  // SetFrequency and SetNote set it too (a note to its exact pitch); SetFrequencyHz sets
  // Frequency to the nearest whole hertz. A value that is not a number changes nothing.
  double FrequencyHz() const { return FSettings.ExactFrequency; }
  void SetFrequencyHz(double value);
  // Off (the default): every period restarts on a whole frame. On: a continuous phase at
  // FrequencyHz, extra tones at their exact frequencies, values rounded; the envelope the same.
  bool Clean() const { return FSettings.Clean; }
  void SetClean(bool value);
  int16_t Duration() const { return FSettings.Duration; }  // milliseconds, 10..32767
  void SetDuration(int16_t value);
  template <typename Int, typename = WiderInteger<Int>>
  void SetDuration(Int value) {
    SetDuration(SaturatedInt16(value));
  }
  TTGWave Waveform() const { return FSettings.Waveform; }
  void SetWaveform(TTGWave value);
  int16_t Attack() const {
    return FSettings.Attack;
  }  // percent of Duration, as Hold, Decay, Release
  void SetAttack(int16_t value);
  template <typename Int, typename = WiderInteger<Int>>
  void SetAttack(Int value) {
    SetAttack(SaturatedInt16(value));
  }
  int16_t Hold() const { return FSettings.Hold; }
  void SetHold(int16_t value);
  template <typename Int, typename = WiderInteger<Int>>
  void SetHold(Int value) {
    SetHold(SaturatedInt16(value));
  }
  int16_t Decay() const { return FSettings.Decay; }
  void SetDecay(int16_t value);
  template <typename Int, typename = WiderInteger<Int>>
  void SetDecay(Int value) {
    SetDecay(SaturatedInt16(value));
  }
  int16_t Sustain() const { return FSettings.Sustain; }  // percent of full amplitude
  void SetSustain(int16_t value);
  template <typename Int, typename = WiderInteger<Int>>
  void SetSustain(Int value) {
    SetSustain(SaturatedInt16(value));
  }
  int16_t Release() const { return FSettings.Release; }
  void SetRelease(int16_t value);
  template <typename Int, typename = WiderInteger<Int>>
  void SetRelease(Int value) {
    SetRelease(SaturatedInt16(value));
  }
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
  template <typename Int, typename = WiderInteger<Int>>
  void SetLeftVolume(Int value) {
    SetLeftVolume(SaturatedInt16(value));
  }
  int16_t RightVolume() const { return FSettings.RightVolume; }
  void SetRightVolume(int16_t value);
  template <typename Int, typename = WiderInteger<Int>>
  void SetRightVolume(Int value) {
    SetRightVolume(SaturatedInt16(value));
  }
  bool Stereo() const { return FSettings.Stereo; }
  void SetStereo(bool value);
  // Selecting a level copies its entry into the mirror properties through their setters, so a
  // stored amplitude outside 0..100 is clamped in the entry too. Levels past tgAMLevel8 are
  // ignored here, in SetAMParameter and in SetAMNote.
  TTGAMLevel AMLevel() const { return FSettings.AMLevel; }
  void SetAMLevel(TTGAMLevel value);
  int16_t AMAmplitude() const { return FSettings.AMAmplitude; }  // percent, 0..100
  void SetAMAmplitude(int16_t value);
  template <typename Int, typename = WiderInteger<Int>>
  void SetAMAmplitude(Int value) {
    SetAMAmplitude(SaturatedInt16(value));
  }
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
  // stop_sound false: the sound service has its own copy of what plays.
  bool RenderImage(bool Enveloped, bool stop_sound = true);
  void ReadCleanRecord(const uint8_t* record);
  void StartPlayback();
  void RecordError(TTGError error, std::string text);
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
  TTGError FLastError = tgeNone;
  bool FPlayedEnveloped = false;       // what the latest Play or PlayADSR started
  double FPlayingFramesPerPeriod = 0;  // of the tone that latest started or went on playing
  std::string FLastErrorText;
};
