#include "tone_gen.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>

#include "little_endian.h"
#include "note_names.h"
#include "range_check.h"
#include "replace_file.h"
#include "sound_service.h"
#include "testing/tonegen_testing.h"
#include "tone_gen_instances.h"
#include "wave_render.h"
#include "wave_volume.h"

int32_t ToneGenCount = 0;
uint32_t SavedVolume = 0;
bool SavedVolumeKnown = false;

namespace {
bool g_image_allocation_fails = false;

// The AM table's stored form: the last level index, then amplitude, waveform and frequency
// value per level, 32 bits each, little-endian.
constexpr int32_t kStoredLastLevel = kAMLevelCount - 1;
constexpr size_t kStoredLevelSize = 12;
constexpr uint32_t kCleanMark = 0x314E4C43u;  // "CLN1" in little-endian order

void PutInt32(TBinaryStream& stream, uint32_t value) {
  uint8_t bytes[4];
  PutLE32(bytes, value);
  stream.WriteBuffer(bytes, sizeof bytes);
}
}  // namespace

void SetImageAllocationFailsForTesting(bool fails) {
  g_image_allocation_fails = fails;
}

TToneGen::TToneGen(TComponent* AOwner) : TComponent(AOwner) {
  ResetAM();
  FSettings.AMFrequency = FSettings.FAMFrequencies[FSettings.AMLevel];
  FSettings.AMWaveform = FSettings.FAMWaveforms[FSettings.AMLevel];
  FSettings.AMAmplitude = FSettings.FAMAmplitudes[FSettings.AMLevel];
  FAMOctaves.fill(FOctave);
  FDeviceID = 0;
  if (ToneGenCount == 0 && !Designing()) {
    bool read_ok = false;
    SavedVolume = GetDeviceVolume(&read_ok);
    SavedVolumeKnown = read_ok;
    ApplyVolume();
  }
  ++ToneGenCount;
}

TToneGen::~TToneGen() {
  Stop();
  FDataBuffer.reset();
  FDataSize = 0;
  --ToneGenCount;
  // A volume that could not be read is not "restored" as 0: that would silence the device.
  if (ToneGenCount == 0 && !Designing() && SavedVolumeKnown) {
    waveOutSetVolume(FDeviceID, SavedVolume);
    SavedVolumeKnown = false;  // given back; a later last instance has nothing of its own
  }
}

int16_t TToneGen::CheckRange(int16_t minimum, int16_t maximum, int16_t value) const {
  return static_cast<int16_t>(ClampToRange(minimum, maximum, value, Designing()));
}

void TToneGen::ApplyVolume() const {
  // Unsigned arithmetic gives the bits of the signed 32-bit word without overflow.
  const uint32_t left = static_cast<uint32_t>(FSettings.LeftVolume * 65535 / 100);
  const uint32_t right = static_cast<uint32_t>(FSettings.RightVolume * 65535 / 100);
  waveOutSetVolume(FDeviceID, left + right * 65536u);
}

uint32_t TToneGen::GetDeviceVolume(bool* read_ok) const {
  uint32_t word = 0;
  WAVEOUTCAPSA caps;
  waveOutGetDevCapsA(FDeviceID, &caps);
  const bool ok = waveOutGetVolume(FDeviceID, &word) == MMSYSERR_NOERROR;
  if (!ok) word = 0;
  if ((caps.dwSupport & WAVECAPS_LRVOLUME) == 0) word = word + word * 65536u;
  if (read_ok != nullptr) *read_ok = ok;
  return word;
}

void TToneGen::SetFrequency(int16_t value) {
  FToneDirty = true;
  FSettings.Frequency = CheckRange(kMinFrequency, kMaxFrequency, value);
  FSettings.ExactFrequency = FSettings.Frequency;
}

void TToneGen::SetFrequencyHz(double value) {
  if (std::isnan(value)) return;
  FToneDirty = true;
  FSettings.ExactFrequency = std::clamp(value, double{kMinFrequency}, double{kMaxFrequency});
  FSettings.Frequency = static_cast<int16_t>(std::floor(FSettings.ExactFrequency + 0.5));
}

void TToneGen::SetClean(bool value) {
  FToneDirty = true;
  FSettings.Clean = value;
}

void TToneGen::SetDuration(int16_t value) {
  FToneDirty = true;
  FSettings.Duration = CheckRange(10, 32767, value);
}

void TToneGen::SetWaveform(TTGWave value) {
  FToneDirty = true;
  FSettings.Waveform = value;
}

void TToneGen::SetAttack(int16_t value) {
  FADSRDirty = true;
  FSettings.Attack = CheckPercent(value);
}

void TToneGen::SetHold(int16_t value) {
  FADSRDirty = true;
  FSettings.Hold = CheckPercent(value);
}

void TToneGen::SetDecay(int16_t value) {
  FADSRDirty = true;
  FSettings.Decay = CheckPercent(value);
}

void TToneGen::SetSustain(int16_t value) {
  FADSRDirty = true;
  FSettings.Sustain = CheckPercent(value);
}

void TToneGen::SetRelease(int16_t value) {
  FADSRDirty = true;
  FSettings.Release = CheckPercent(value);
}

void TToneGen::SetResolution(TTGResolution value) {
  FToneDirty = true;
  FSettings.Resolution = value;
}

void TToneGen::SetQuality(TTGQuality value) {
  FToneDirty = true;
  FSettings.Quality = value;
}

void TToneGen::SetLeftVolume(int16_t value) {
  FSettings.LeftVolume = CheckPercent(value);
  if (Loading() || FStopped) ApplyVolume();
}

void TToneGen::SetRightVolume(int16_t value) {
  FSettings.RightVolume = CheckPercent(value);
  if (Loading() || FStopped) ApplyVolume();
}

void TToneGen::SetStereo(bool value) {
  FToneDirty = true;
  FSettings.Stereo = value;
}

void TToneGen::SetAMLevel(TTGAMLevel value) {
  if (!IsLevel(value)) return;
  FSettings.AMLevel = value;
  SetAMAmplitude(FSettings.FAMAmplitudes[value]);
  SetAMWaveform(FSettings.FAMWaveforms[value]);
  SetAMFrequency(FSettings.FAMFrequencies[value]);
}

void TToneGen::SetAMAmplitude(int16_t value) {
  FSettings.AMAmplitude = CheckPercent(value);
  FSettings.FAMAmplitudes[FSettings.AMLevel] = FSettings.AMAmplitude;
  FToneDirty = true;
}

void TToneGen::SetAMWaveform(TTGWave value) {
  FSettings.AMWaveform = value;
  FSettings.FAMWaveforms[FSettings.AMLevel] = value;
  FToneDirty = true;
}

void TToneGen::SetAMFrequency(float value) {
  FSettings.AMFrequency = value;
  FSettings.FAMFrequencies[FSettings.AMLevel] = value;
  FToneDirty = true;
}

void TToneGen::SetAMUseMultiplier(bool value) {
  FSettings.AMUseMultiplier = value;
  FToneDirty = true;
}

void TToneGen::ResetAM() {
  FSettings.FAMAmplitudes.fill(0);
  FSettings.FAMWaveforms.fill(tgSine);
  FSettings.FAMFrequencies = ResetAMFrequencies();
  FToneDirty = true;
}

void TToneGen::SetAMParameter(TTGAMLevel level, int16_t amplitude, float frequency,
                              TTGWave waveform) {
  if (!IsLevel(level)) return;
  FSettings.FAMAmplitudes[level] = amplitude;
  FSettings.FAMFrequencies[level] = frequency;
  FSettings.FAMWaveforms[level] = waveform;
  FToneDirty = true;
}

void TToneGen::DefineProperties(TFiler& Filer) {
  TComponent::DefineProperties(Filer);
  Filer.DefineBinaryProperty(
      "AMArrayData", [this](TBinaryStream& stream) { return ReadAMData(stream); },
      [this](TBinaryStream& stream) { WriteAMData(stream); }, true);
}

void TToneGen::WriteAMData(TBinaryStream& Stream) const {
  PutInt32(Stream, static_cast<uint32_t>(kStoredLastLevel + (FSettings.Clean ? 1 : 0)));
  for (int i = 0; i < kAMLevelCount; ++i) {
    PutInt32(Stream, static_cast<uint32_t>(static_cast<int32_t>(FSettings.FAMAmplitudes[i])));
    PutInt32(Stream, static_cast<uint32_t>(FSettings.FAMWaveforms[i]));
    uint32_t bits;
    std::memcpy(&bits, &FSettings.FAMFrequencies[i], sizeof bits);
    PutInt32(Stream, bits);
  }
  if (!FSettings.Clean) return;
  // The clean choice rides in a ninth record, which readers that know eight levels read and
  // drop: the mark "CLN1", then the exact frequency as a little-endian double.
  uint64_t exact;
  std::memcpy(&exact, &FSettings.ExactFrequency, sizeof exact);
  PutInt32(Stream, kCleanMark);
  PutInt32(Stream, static_cast<uint32_t>(exact));
  PutInt32(Stream, static_cast<uint32_t>(exact >> 32));
}

void TToneGen::ReadCleanRecord(const uint8_t* record) {
  if (GetLE32(record) != kCleanMark) return;
  FSettings.Clean = true;
  const uint64_t bits = GetLE32(record + 4) | (uint64_t{GetLE32(record + 8)} << 32);
  double exact;
  std::memcpy(&exact, &bits, sizeof exact);
  // Only a fraction of the stored whole hertz is taken: the Frequency line stays the authority.
  if (std::isfinite(exact) && std::fabs(exact - FSettings.Frequency) <= 0.5) {
    FSettings.ExactFrequency = exact;
  }
}

bool TToneGen::ReadAMData(TBinaryStream& Stream) {
  uint8_t head[4];
  if (!Stream.ReadBuffer(head, sizeof head)) return false;
  const int32_t last = static_cast<int32_t>(GetLE32(head));
  if (last < 0) return true;
  // The whole block is checked before any entry changes, so a short block leaves the table
  // as it was. Records past the eighth are read and dropped.
  const uint64_t levels = static_cast<uint64_t>(last) + 1;
  if (levels * kStoredLevelSize > Stream.Remaining()) return false;
  FSettings.Clean = false;
  for (uint64_t i = 0; i < levels; ++i) {
    uint8_t record[kStoredLevelSize];
    Stream.ReadBuffer(record, sizeof record);
    if (i == static_cast<uint64_t>(kAMLevelCount)) ReadCleanRecord(record);
    if (i >= static_cast<uint64_t>(kAMLevelCount)) continue;
    FSettings.FAMAmplitudes[i] = static_cast<int16_t>(GetLE32(record) & 0xFFFFu);
    FSettings.FAMWaveforms[i] = static_cast<TTGWave>(GetLE32(record + 4) & 0xFFu);
    const uint32_t bits = GetLE32(record + 8);
    std::memcpy(&FSettings.FAMFrequencies[i], &bits, sizeof bits);
  }
  return true;
}

bool TToneGen::RenderImage(bool Enveloped, bool stop_sound) {
  // No sound may go on reading the image that is about to be freed.
  if (stop_sound) PlaySoundA(nullptr, nullptr, 0);
  FDataBuffer.reset();
  FDataSize = 0;

  const int64_t size = WaveImageSize(FSettings);
  if (g_image_allocation_fails) return false;
  FDataBuffer.reset(new (std::nothrow) uint8_t[static_cast<size_t>(size)]);
  if (!FDataBuffer) return false;
  FDataSize = static_cast<int32_t>(size);
  const int clamped = RenderWaveImage(FSettings, Enveloped, FDataBuffer.get());
  ++FRenderCount;
  // A multiplied AM frequency outside the range is clamped by the rule of CheckRange, message
  // included.
  if (Designing()) {
    for (int i = 0; i < clamped; ++i) ShowRangeMessage(kMinFrequency, kMaxFrequency);
  }

  FToneDirty = false;
  if (Enveloped) {
    FADSRDirty = false;
    FPlainDirty = true;
  } else {
    FPlainDirty = false;
    FADSRDirty = true;
  }
  return true;
}

void TToneGen::Stop() {
  PlaySoundA(nullptr, nullptr, 0);
  FStopped = true;
}

void TToneGen::PresetVolume() {
  ApplyVolume();
}

bool TToneGen::Prepare() {
  ApplyVolume();
  return RenderImage(false);
}

bool TToneGen::PrepareADSR() {
  ApplyVolume();
  return RenderImage(true);
}

void TToneGen::RecordError(TTGError error, std::string text) {
  FLastError = error;
  FLastErrorText = std::move(text);
}

void TToneGen::StartPlayback() {
  Stop();
  ApplyVolume();
  uint32_t flags = SND_MEMORY;
  if (FSettings.Loop) {
    flags = SND_MEMORY | SND_ASYNC | SND_LOOP;
  } else if (FSettings.Async) {
    flags = SND_MEMORY | SND_ASYNC;
  }
  if (!FDataBuffer) {
    RecordError(tgeNoMemory, "not enough memory for the tone's image");
    return;
  }
  if (PlaySoundA(FDataBuffer.get(), nullptr, flags)) {
    RecordError(tgeNone, {});
    return;
  }
  switch (LastSoundFailure()) {
    case SoundFailure::NoOutput:
      RecordError(tgeNoOutput, "no sound output could be opened");
      break;
    case SoundFailure::None:  // another thread's sound came between: the service says no more
    case SoundFailure::OutputFailed:
    case SoundFailure::Refused:
      RecordError(tgeOutputFailed, "the sound output's driver failed to open it");
      break;
  }
}

namespace {
double FramesPerPeriod(const ToneSettings& settings) {
  return (settings.Quality == tgHiQ ? 96000.0 : 44100.0) / settings.Frequency;
}
}  // namespace

bool TToneGen::ContinueLoop() {
  if (FStopped || FPlayingFramesPerPeriod <= 0 || !FDataBuffer) return false;
  const uint32_t played_rate = GetLE32(FDataBuffer.get() + 24);
  const bool stale = FToneDirty || (FPlayedEnveloped ? FADSRDirty : FPlainDirty);
  // The sound plays on from its own copy while the new image is made.
  if (stale && !RenderImage(FPlayedEnveloped, false)) {
    RecordError(tgeNoMemory, "not enough memory for the tone's image");
    return false;
  }
  if (GetLE32(FDataBuffer.get() + 24) != played_rate) {
    FPlayingFramesPerPeriod = FramesPerPeriod(FSettings);
    StartPlayback();
    return FLastError == tgeNone;
  }
  ApplyVolume();
  if (!SoundServiceContinueLoop(FDataBuffer.get(), FPlayingFramesPerPeriod, FSettings.Loop)) {
    return false;
  }
  FPlayingFramesPerPeriod = FramesPerPeriod(FSettings);
  RecordError(tgeNone, {});
  return true;
}

void TToneGen::Play() {
  FPlayedEnveloped = false;
  FPlayingFramesPerPeriod = FramesPerPeriod(FSettings);
  if (FToneDirty || FPlainDirty) RenderImage(false);
  FStopped = false;
  StartPlayback();
  FStopped = !FSettings.Async && !FSettings.Loop;
}

void TToneGen::PlayADSR() {
  FPlayedEnveloped = true;
  FPlayingFramesPerPeriod = FramesPerPeriod(FSettings);
  if (FToneDirty || FADSRDirty) RenderImage(true);
  FStopped = false;
  StartPlayback();
  FStopped = !FSettings.Async && !FSettings.Loop;
}

bool TToneGen::ExportFile(const std::string& fileName) {
  if (!FDataBuffer) {
    RecordError(tgeNoImage, "no image to export: the tone was not rendered yet");
    return false;
  }
  errno = 0;
  if (!ReplaceFileContents(fileName, FDataBuffer.get(), static_cast<size_t>(FDataSize))) {
    int why = errno;
    // A folder or a device in the way is refused before any call could have said why.
    struct stat info {};
    if (why == 0 && ::stat(fileName.c_str(), &info) == 0) {
      why = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    }
    RecordError(tgeWriteFailed,
                "cannot write '" + fileName + "': " + WhyNotReplaced(fileName, why));
    return false;
  }
  RecordError(tgeNone, {});
  return true;
}

int32_t TToneGen::SetNote(std::string_view note) {
  int32_t octave = FOctave;
  const int32_t frequency = NoteToFrequency(note, octave);
  if (frequency == 0) return 0;
  SetFrequency(static_cast<int16_t>(frequency));
  FSettings.ExactFrequency = NoteToExactFrequency(note, FOctave);
  FOctave = octave;
  FToneDirty = true;
  return frequency;
}

float TToneGen::SetAMNote(TTGAMLevel level, std::string_view note) {
  if (!IsLevel(level)) return 0.0f;
  int32_t octave = FAMOctaves[level];
  const int32_t frequency = NoteToFrequency(note, octave);
  if (frequency == 0) return 0.0f;
  float value = static_cast<float>(frequency);
  if (FSettings.AMUseMultiplier) {
    value = static_cast<float>(static_cast<long double>(frequency) / FSettings.Frequency);
  }
  FSettings.FAMFrequencies[level] = value;
  FAMOctaves[level] = octave;
  FToneDirty = true;
  return value;
}
