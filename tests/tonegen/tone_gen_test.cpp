// TToneGen's properties, clamping, device volume, AM table, image flags and AMArrayData.
#include "tone_gen.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "range_check.h"
#include "tone_gen_test_peer.h"
#include "tonegen_testing.h"
#include "wave_volume.h"

namespace {

struct Shown {
  std::string text;
  std::string caption;
};
std::vector<Shown>* g_shown = nullptr;

void RecordMessage(const std::string& text, const std::string& caption) {
  if (g_shown != nullptr) g_shown->push_back({text, caption});
}

// Every test starts with no instance alive, a readable stereo device at a known volume and a
// hook that records range messages.
class ToneGenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(ToneGenCount, 0);
    SetWaveVolumeReadFailsForTesting(false);
    SetWaveVolumeMonoForTesting(false);
    waveOutSetVolume(0, kUserVolume);
    g_shown = &shown_;
    previous_hook_ = SetRangeMessageHook(RecordMessage);
  }
  void TearDown() override {
    SetRangeMessageHook(previous_hook_);
    g_shown = nullptr;
    SetWaveVolumeReadFailsForTesting(false);
    SetWaveVolumeMonoForTesting(false);
    SetImageAllocationFailsForTesting(false);
  }

  static constexpr uint32_t kUserVolume = 0x12345678u;
  std::vector<Shown> shown_;
  RangeMessageHook previous_hook_ = nullptr;
};

struct Flags {
  bool tone, plain, adsr;
  bool operator==(const Flags&) const = default;
};
Flags FlagsOf(const TToneGen& gen) {
  TToneGenTestPeer peer(gen);
  return {peer.FToneDirty(), peer.FPlainDirty(), peer.FADSRDirty()};
}
std::ostream& operator<<(std::ostream& os, const Flags& f) {
  return os << "{tone " << f.tone << ", plain " << f.plain << ", adsr " << f.adsr << "}";
}

void PutLe32(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

// An AMArrayData block: the last index, then whole records (amplitude, waveform, frequency bits).
struct Record {
  uint32_t amplitude, waveform, frequency_bits;
};
std::vector<uint8_t> Block(int32_t last, const std::vector<Record>& records) {
  std::vector<uint8_t> out;
  PutLe32(out, static_cast<uint32_t>(last));
  for (const Record& r : records) {
    PutLe32(out, r.amplitude);
    PutLe32(out, r.waveform);
    PutLe32(out, r.frequency_bits);
  }
  return out;
}

bool ReadBlock(TToneGen& gen, std::vector<uint8_t> bytes) {
  TFiler filer;
  gen.DefineProperties(filer);
  const TFiler::BinaryProperty* am = filer.Find("AMArrayData");
  EXPECT_NE(am, nullptr);
  TBinaryStream stream(std::move(bytes));
  return am->read(stream);
}

std::vector<uint8_t> WriteBlock(TToneGen& gen) {
  TFiler filer;
  gen.DefineProperties(filer);
  const TFiler::BinaryProperty* am = filer.Find("AMArrayData");
  EXPECT_NE(am, nullptr);
  EXPECT_TRUE(am->has_data);
  TBinaryStream stream;
  am->write(stream);
  return stream.Bytes();
}

TEST_F(ToneGenTest, CreationGivesTheDocumentedState) {
  TToneGen gen(nullptr);
  TToneGenTestPeer peer(gen);
  EXPECT_EQ(FlagsOf(gen), (Flags{true, true, true}));
  EXPECT_TRUE(peer.FStopped());
  EXPECT_EQ(gen.GetDataBuffer(), nullptr);
  EXPECT_EQ(peer.FDataSize(), 0);
  EXPECT_EQ(gen.Frequency(), 440);
  EXPECT_EQ(gen.Duration(), 100);
  EXPECT_EQ(gen.Waveform(), tgSine);
  EXPECT_EQ(gen.Attack(), 10);
  EXPECT_EQ(gen.Hold(), 5);
  EXPECT_EQ(gen.Decay(), 20);
  EXPECT_EQ(gen.Sustain(), 50);
  EXPECT_EQ(gen.Release(), 30);
  EXPECT_TRUE(gen.Async());
  EXPECT_FALSE(gen.Loop());
  EXPECT_EQ(gen.Resolution(), tg16Bit);
  EXPECT_EQ(gen.Quality(), tgHiQ);
  EXPECT_EQ(gen.LeftVolume(), 100);
  EXPECT_EQ(gen.RightVolume(), 100);
  EXPECT_EQ(peer.FDeviceID(), 0u);
  EXPECT_FALSE(gen.Stereo());
  EXPECT_EQ(gen.AMLevel(), tgAMLevel1);
  EXPECT_EQ(gen.AMAmplitude(), 0);
  EXPECT_EQ(gen.AMWaveform(), tgSine);
  EXPECT_EQ(gen.AMFrequency(), 0.5f);
  EXPECT_TRUE(gen.AMUseMultiplier());
  EXPECT_EQ(peer.FOctave(), 4);
  for (int i = 0; i < kAMLevelCount; ++i) {
    EXPECT_EQ(peer.FAMAmplitudes()[i], 0);
    EXPECT_EQ(peer.FAMWaveforms()[i], tgSine);
    EXPECT_EQ(peer.FAMFrequencies()[i], 0.5f * static_cast<float>(i + 1));
    EXPECT_EQ(peer.FAMOctaves()[i], 4);
  }
  EXPECT_EQ(ToneGenCount, 1);
}

TEST_F(ToneGenTest, RunningProgramClampsSilently) {
  TToneGen gen(nullptr);
  gen.SetFrequency(5);
  EXPECT_EQ(gen.Frequency(), 20);
  gen.SetFrequency(25000);
  EXPECT_EQ(gen.Frequency(), 20000);
  gen.SetDuration(-1);
  EXPECT_EQ(gen.Duration(), 10);
  gen.SetDuration(32767);
  EXPECT_EQ(gen.Duration(), 32767);
  gen.SetAttack(150);
  EXPECT_EQ(gen.Attack(), 100);
  gen.SetHold(-1);
  EXPECT_EQ(gen.Hold(), 0);
  gen.SetDecay(101);
  EXPECT_EQ(gen.Decay(), 100);
  gen.SetSustain(-50);
  EXPECT_EQ(gen.Sustain(), 0);
  gen.SetRelease(200);
  EXPECT_EQ(gen.Release(), 100);
  gen.SetLeftVolume(-3);
  EXPECT_EQ(gen.LeftVolume(), 0);
  gen.SetRightVolume(1000);
  EXPECT_EQ(gen.RightVolume(), 100);
  gen.SetAMAmplitude(-7);
  EXPECT_EQ(gen.AMAmplitude(), 0);
  EXPECT_TRUE(shown_.empty());
}

TEST_F(ToneGenTest, DesigningShowsTheRangeMessageOncePerClampedValue) {
  TComponent form(nullptr);
  form.SetDesigning(true);
  auto* gen = new TToneGen(&form);
  ASSERT_TRUE(gen->Designing());
  gen->SetFrequency(5);
  EXPECT_EQ(gen->Frequency(), 20);
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(shown_[0].text, "Value must be between 20 and 20000");
  EXPECT_EQ(shown_[0].caption, "Error");
  gen->SetFrequency(1000);  // in range: nothing shown
  gen->SetAttack(150);
  ASSERT_EQ(shown_.size(), 2u);
  EXPECT_EQ(shown_[1].text, "Value must be between 0 and 100");
}

// A multiplied AM frequency past the range is clamped while rendering; a designing component
// shows the message once for each such level, a running one shows nothing.
TEST_F(ToneGenTest, RenderingShowsTheRangeMessageForEachClampedAMFrequencyWhenDesigning) {
  TComponent running_form(nullptr);
  TComponent designing_form(nullptr);
  designing_form.SetDesigning(true);
  for (TComponent* form : {&running_form, &designing_form}) {
    // Levels 4 to 8 keep 2.0 to 4.0, which give 10000 to 20000 Hz: in range.
    auto* gen = new TToneGen(form);
    gen->SetFrequency(5000);
    gen->SetAMParameter(tgAMLevel1, 10, 5.0f, tgSquare);   // 25000 Hz: clamped
    gen->SetAMParameter(tgAMLevel2, 10, 1.0f, tgSquare);   // 5000 Hz: in range
    gen->SetAMParameter(tgAMLevel3, 10, -1.0f, tgSquare);  // -5000 Hz: clamped
    ASSERT_TRUE(gen->Prepare());
    EXPECT_EQ(shown_.size(), form->Designing() ? 2u : 0u);
  }
  for (const Shown& shown : shown_) {
    EXPECT_EQ(shown.text, "Value must be between 20 and 20000");
    EXPECT_EQ(shown.caption, "Error");
  }
}

TEST_F(ToneGenTest, VolumeWordHoldsLeftLowAndRightHigh) {
  TToneGen gen(nullptr);
  EXPECT_EQ(CurrentWaveVolumeWord(), 0xFFFFFFFFu);  // the first instance sets full volume
  gen.SetLeftVolume(50);                            // idle: reaches the device at once
  EXPECT_EQ(CurrentWaveVolumeWord(), 0xFFFF7FFFu);
  gen.SetRightVolume(1);
  EXPECT_EQ(CurrentWaveVolumeWord(), (655u << 16) | 32767u);
  gen.SetLeftVolume(0);
  gen.SetRightVolume(0);
  EXPECT_EQ(CurrentWaveVolumeWord(), 0u);
  // Every percentage maps into 0..65535, rising, ending at FFFF.
  uint32_t previous = 0;
  for (int16_t p = 1; p <= 100; ++p) {
    gen.SetLeftVolume(p);
    const uint32_t left = CurrentWaveVolumeWord() & 0xFFFFu;
    EXPECT_GT(left, previous) << p;
    EXPECT_NEAR(left, p * 655.35, 1.0) << p;
    previous = left;
  }
  EXPECT_EQ(previous, 0xFFFFu);
}

TEST_F(ToneGenTest, FirstInstanceSavesTheVolumeAndOnlyTheLastRestoresIt) {
  auto first = std::make_unique<TToneGen>(nullptr);
  EXPECT_EQ(SavedVolume, kUserVolume);
  EXPECT_EQ(CurrentWaveVolumeWord(), 0xFFFFFFFFu);
  waveOutSetVolume(0, 0x0000AAAAu);
  auto second = std::make_unique<TToneGen>(nullptr);
  EXPECT_EQ(ToneGenCount, 2);
  EXPECT_EQ(SavedVolume, kUserVolume);  // the second saves nothing and sets nothing
  EXPECT_EQ(CurrentWaveVolumeWord(), 0x0000AAAAu);
  first.reset();
  EXPECT_EQ(CurrentWaveVolumeWord(), 0x0000AAAAu);
  second.reset();
  EXPECT_EQ(ToneGenCount, 0);
  EXPECT_EQ(CurrentWaveVolumeWord(), kUserVolume);
}

TEST_F(ToneGenTest, LastRunningInstanceWithoutASavedVolumeLeavesIt) {
  // A designing instance came first, so the running one saved nothing and restores nothing
  // (neither 0 nor a volume given back earlier).
  { TToneGen earlier(nullptr); }
  TComponent form(nullptr);
  form.SetDesigning(true);
  auto designed = std::make_unique<TToneGen>(&form);
  auto running = std::make_unique<TToneGen>(nullptr);
  EXPECT_EQ(CurrentWaveVolumeWord(), kUserVolume);
  waveOutSetVolume(0, 0x00010001u);
  designed.reset();
  running.reset();
  EXPECT_EQ(CurrentWaveVolumeWord(), 0x00010001u);
}

TEST_F(ToneGenTest, DesigningInstanceLeavesTheVolumeButIsCounted) {
  TComponent form(nullptr);
  form.SetDesigning(true);
  {
    TToneGen gen(&form);
    EXPECT_EQ(ToneGenCount, 1);
    EXPECT_EQ(CurrentWaveVolumeWord(), kUserVolume);
  }
  EXPECT_EQ(ToneGenCount, 0);
  EXPECT_EQ(CurrentWaveVolumeWord(), kUserVolume);
}

TEST_F(ToneGenTest, UnreadableVolumeIsLeftAsItIsInsteadOfSilenced) {
  SetWaveVolumeReadFailsForTesting(true);
  {
    TToneGen gen(nullptr);
    EXPECT_EQ(CurrentWaveVolumeWord(), 0xFFFFFFFFu);
    gen.SetRightVolume(50);
  }
  // The read failed, so there is nothing to restore; 0 would silence the device.
  EXPECT_EQ(CurrentWaveVolumeWord(), 0x7FFFFFFFu);
  SetWaveVolumeReadFailsForTesting(false);
  // A later first instance that can read saves and restores again.
  waveOutSetVolume(0, kUserVolume);
  { TToneGen gen(nullptr); }
  EXPECT_EQ(CurrentWaveVolumeWord(), kUserVolume);
}

TEST_F(ToneGenTest, MonoDeviceLevelIsSavedInBothHalves) {
  SetWaveVolumeMonoForTesting(true);
  waveOutSetVolume(0, 0x00001234u);
  {
    TToneGen gen(nullptr);
    EXPECT_EQ(SavedVolume, 0x12341234u);
  }
  EXPECT_EQ(CurrentWaveVolumeWord(), 0x12341234u);
}

TEST_F(ToneGenTest, SelectingALevelCopiesItsEntryIntoTheMirrors) {
  TToneGen gen(nullptr);
  TToneGenTestPeer peer(gen);
  gen.ResetAM();
  gen.SetAMLevel(tgAMLevel3);
  EXPECT_EQ(gen.AMAmplitude(), 0);
  EXPECT_EQ(gen.AMWaveform(), tgSine);
  EXPECT_EQ(gen.AMFrequency(), 1.5f);
  // The mirrors write the selected entry and no other.
  gen.SetAMAmplitude(25);
  gen.SetAMWaveform(tgTriangle);
  gen.SetAMFrequency(7.25f);
  EXPECT_EQ(peer.FAMAmplitudes()[2], 25);
  EXPECT_EQ(peer.FAMWaveforms()[2], tgTriangle);
  EXPECT_EQ(peer.FAMFrequencies()[2], 7.25f);
  EXPECT_EQ(peer.FAMAmplitudes()[0], 0);
  EXPECT_EQ(peer.FAMFrequencies()[0], 0.5f);
  gen.SetAMLevel(tgAMLevel1);
  EXPECT_EQ(gen.AMFrequency(), 0.5f);
  gen.SetAMLevel(tgAMLevel3);
  EXPECT_EQ(gen.AMAmplitude(), 25);
  EXPECT_EQ(gen.AMWaveform(), tgTriangle);
}

TEST_F(ToneGenTest, ResetAMLeavesTheMirrorsAndLevelAsTheyWere) {
  TToneGen gen(nullptr);
  TToneGenTestPeer peer(gen);
  gen.SetAMLevel(tgAMLevel2);
  gen.SetAMAmplitude(40);
  gen.SetAMWaveform(tgNoise);
  gen.SetAMFrequency(9.0f);
  gen.ResetAM();
  EXPECT_EQ(peer.FAMAmplitudes()[1], 0);
  EXPECT_EQ(peer.FAMWaveforms()[1], tgSine);
  EXPECT_EQ(peer.FAMFrequencies()[1], 1.0f);
  EXPECT_EQ(gen.AMLevel(), tgAMLevel2);
  EXPECT_EQ(gen.AMAmplitude(), 40);
  EXPECT_EQ(gen.AMWaveform(), tgNoise);
  EXPECT_EQ(gen.AMFrequency(), 9.0f);
  gen.SetAMLevel(tgAMLevel2);
  EXPECT_EQ(gen.AMAmplitude(), 0);
}

TEST_F(ToneGenTest, SetAMParameterStoresUnclampedUntilTheLevelIsSelected) {
  TComponent form(nullptr);
  form.SetDesigning(true);
  auto* gen = new TToneGen(&form);
  TToneGenTestPeer peer(*gen);
  gen->SetAMParameter(tgAMLevel2, 150, 2.75f, tgSawtooth);
  EXPECT_EQ(peer.FAMAmplitudes()[1], 150);
  EXPECT_EQ(peer.FAMFrequencies()[1], 2.75f);
  EXPECT_EQ(peer.FAMWaveforms()[1], tgSawtooth);
  EXPECT_EQ(gen->AMAmplitude(), 0);  // mirrors untouched
  EXPECT_TRUE(shown_.empty());
  gen->SetAMLevel(tgAMLevel2);
  EXPECT_EQ(gen->AMAmplitude(), 100);
  EXPECT_EQ(peer.FAMAmplitudes()[1], 100);
  EXPECT_EQ(gen->AMWaveform(), tgSawtooth);
  EXPECT_EQ(gen->AMFrequency(), 2.75f);
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(shown_[0].text, "Value must be between 0 and 100");
}

TEST_F(ToneGenTest, ImageFlagsFollowTheirTable) {
  TToneGen gen(nullptr);
  ASSERT_TRUE(gen.Prepare());
  EXPECT_EQ(FlagsOf(gen), (Flags{false, false, true}));
  ASSERT_TRUE(gen.PrepareADSR());
  EXPECT_EQ(FlagsOf(gen), (Flags{false, true, false}));

  // Every setting that changes the samples marks only the tone, even when set to its own value.
  const std::vector<std::pair<const char*, void (*)(TToneGen&)>> tone_changes = {
      {"Frequency", [](TToneGen& g) { g.SetFrequency(g.Frequency()); }},
      {"Duration", [](TToneGen& g) { g.SetDuration(200); }},
      {"Waveform", [](TToneGen& g) { g.SetWaveform(tgSquare); }},
      {"Resolution", [](TToneGen& g) { g.SetResolution(tg8Bit); }},
      {"Quality", [](TToneGen& g) { g.SetQuality(tgLoQ); }},
      {"Stereo", [](TToneGen& g) { g.SetStereo(true); }},
      {"AMLevel", [](TToneGen& g) { g.SetAMLevel(tgAMLevel4); }},
      {"AMAmplitude", [](TToneGen& g) { g.SetAMAmplitude(10); }},
      {"AMWaveform", [](TToneGen& g) { g.SetAMWaveform(tgNoise); }},
      {"AMFrequency", [](TToneGen& g) { g.SetAMFrequency(3.0f); }},
      {"AMUseMultiplier", [](TToneGen& g) { g.SetAMUseMultiplier(false); }},
      {"ResetAM", [](TToneGen& g) { g.ResetAM(); }},
      {"SetAMParameter", [](TToneGen& g) { g.SetAMParameter(tgAMLevel8, 1, 1.0f, tgSine); }},
      {"SetNote", [](TToneGen& g) { g.SetNote("C"); }},
      {"SetAMNote", [](TToneGen& g) { g.SetAMNote(tgAMLevel2, "C"); }},
  };
  for (const auto& [name, change] : tone_changes) {
    ASSERT_TRUE(gen.PrepareADSR());
    change(gen);
    EXPECT_EQ(FlagsOf(gen), (Flags{true, true, false})) << name;
  }
  const std::vector<std::pair<const char*, void (*)(TToneGen&)>> envelope_changes = {
      {"Attack", [](TToneGen& g) { g.SetAttack(20); }},
      {"Hold", [](TToneGen& g) { g.SetHold(g.Hold()); }},
      {"Decay", [](TToneGen& g) { g.SetDecay(1); }},
      {"Sustain", [](TToneGen& g) { g.SetSustain(1); }},
      {"Release", [](TToneGen& g) { g.SetRelease(1); }},
  };
  for (const auto& [name, change] : envelope_changes) {
    ASSERT_TRUE(gen.Prepare());
    change(gen);
    EXPECT_EQ(FlagsOf(gen), (Flags{false, false, true})) << name;
  }
  ASSERT_TRUE(gen.Prepare());
  gen.SetAsync(false);
  gen.SetLoop(true);
  gen.SetLeftVolume(3);
  gen.SetRightVolume(4);
  gen.SetNote("H");  // not a note: nothing changes
  ASSERT_TRUE(ReadBlock(gen, WriteBlock(gen)));
  EXPECT_EQ(FlagsOf(gen), (Flags{false, false, true}));
}

TEST_F(ToneGenTest, PrepareRendersWhateverTheFlagsSay) {
  TToneGen gen(nullptr);
  ASSERT_TRUE(gen.Prepare());
  ASSERT_TRUE(gen.Prepare());
  ASSERT_TRUE(gen.PrepareADSR());
  ASSERT_TRUE(gen.PrepareADSR());
  EXPECT_EQ(TToneGenTestPeer(gen).FRenderCount(), 4);
}

TEST_F(ToneGenTest, PresetVolumeAndPrepareSendTheVolumes) {
  TToneGen gen(nullptr);
  gen.SetLeftVolume(50);
  waveOutSetVolume(0, 0);
  gen.PresetVolume();
  EXPECT_EQ(CurrentWaveVolumeWord(), 0xFFFF7FFFu);
  waveOutSetVolume(0, 0);
  ASSERT_TRUE(gen.Prepare());
  EXPECT_EQ(CurrentWaveVolumeWord(), 0xFFFF7FFFu);
}

TEST_F(ToneGenTest, ImageOfTheDefaultsIsRiffOfTheDocumentedSize) {
  TToneGen gen(nullptr);
  EXPECT_EQ(gen.GetDataBuffer(), nullptr);
  EXPECT_EQ(gen.GetDataSize(), 0);
  ASSERT_TRUE(gen.Prepare());
  TToneGenTestPeer peer(gen);
  ASSERT_NE(gen.GetDataBuffer(), nullptr);
  EXPECT_EQ(std::memcmp(gen.GetDataBuffer(), "RIFF", 4), 0);
  EXPECT_EQ(peer.FDataSize(), 19276);  // 100 ms of 16-bit mono at 96000 frames/s, plus 76
  EXPECT_EQ(gen.GetDataSize(), 19276);
  gen.SetStereo(true);
  ASSERT_TRUE(gen.Prepare());
  EXPECT_EQ(peer.FDataSize(), 38476);
  EXPECT_EQ(gen.GetDataSize(), 38476);
}

TEST_F(ToneGenTest, WideIntegersAreClampedLikeSixteenBitOnesNotWrapped) {
  // Each value, converted to 16 bits, would wrap to a value in range of another meaning.
  struct Case {
    const char* what;
    std::function<void(TToneGen&)> set;
    std::function<int(const TToneGen&)> get;
    int expected;
  };
  const Case cases[] = {
      {"frequency 40000 (wraps to -25536)", [](TToneGen& g) { g.SetFrequency(40000); },
       [](const TToneGen& g) { return g.Frequency(); }, 20000},
      {"duration 60000 (wraps to -5536)", [](TToneGen& g) { g.SetDuration(60000); },
       [](const TToneGen& g) { return g.Duration(); }, 32767},
      {"attack 65586 (wraps to 50)", [](TToneGen& g) { g.SetAttack(65586); },
       [](const TToneGen& g) { return g.Attack(); }, 100},
      {"hold -65486 as long (wraps to 50)", [](TToneGen& g) { g.SetHold(-65486L); },
       [](const TToneGen& g) { return g.Hold(); }, 0},
      {"decay 4294967295 unsigned (wraps to -1)", [](TToneGen& g) { g.SetDecay(4294967295u); },
       [](const TToneGen& g) { return g.Decay(); }, 100},
      {"sustain -4294967246 (wraps to 50)", [](TToneGen& g) { g.SetSustain(int64_t{-4294967246}); },
       [](const TToneGen& g) { return g.Sustain(); }, 0},
      {"release 65636 (wraps to 100)", [](TToneGen& g) { g.SetRelease(65636); },
       [](const TToneGen& g) { return g.Release(); }, 100},
      {"left volume 65586", [](TToneGen& g) { g.SetLeftVolume(65586); },
       [](const TToneGen& g) { return g.LeftVolume(); }, 100},
      {"right volume -65486", [](TToneGen& g) { g.SetRightVolume(-65486); },
       [](const TToneGen& g) { return g.RightVolume(); }, 0},
      {"extra tone amplitude 65586", [](TToneGen& g) { g.SetAMAmplitude(65586); },
       [](const TToneGen& g) { return g.AMAmplitude(); }, 100},
      {"frequency 1000 as unsigned short",
       [](TToneGen& g) { g.SetFrequency(static_cast<unsigned short>(1000)); },
       [](const TToneGen& g) { return g.Frequency(); }, 1000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TToneGen gen(nullptr);
    c.set(gen);
    EXPECT_EQ(c.get(gen), c.expected);
  }
  EXPECT_TRUE(shown_.empty());
}

TEST_F(ToneGenTest, FailedAllocationLeavesNoImageAndTheFlagsAsTheyWere) {
  TToneGen gen(nullptr);
  TToneGenTestPeer peer(gen);
  ASSERT_TRUE(gen.Prepare());
  gen.SetAttack(1);
  const Flags before = FlagsOf(gen);
  SetImageAllocationFailsForTesting(true);
  EXPECT_FALSE(gen.PrepareADSR());
  EXPECT_FALSE(gen.Prepare());
  EXPECT_EQ(gen.GetDataBuffer(), nullptr);
  EXPECT_EQ(peer.FDataSize(), 0);
  EXPECT_EQ(FlagsOf(gen), before);
  EXPECT_FALSE(gen.ExportFile(::testing::TempDir() + "/never_written.wav"));
  SetImageAllocationFailsForTesting(false);
  EXPECT_TRUE(gen.Prepare());
}

TEST_F(ToneGenTest, AMArrayDataIsTheDocumentedHundredBytes) {
  TToneGen gen(nullptr);
  gen.SetAMParameter(tgAMLevel1, -2, FromBits(0x7FC00123u), tgNoise);
  gen.SetAMParameter(tgAMLevel8, 300, -0.0f, tgSawtooth);
  const std::vector<uint8_t> bytes = WriteBlock(gen);
  ASSERT_EQ(bytes.size(), 100u);
  std::vector<uint8_t> expected;
  PutLe32(expected, 7);
  for (int i = 0; i < kAMLevelCount; ++i) {
    const bool first = i == 0, last = i == 7;
    PutLe32(expected, first ? 0xFFFFFFFEu : last ? 300u : 0u);
    PutLe32(expected, first ? 4u : last ? 3u : 0u);
    PutLe32(expected, first ? 0x7FC00123u : last ? 0x80000000u : Bits(0.5f * (i + 1)));
  }
  EXPECT_EQ(bytes, expected);
}

TEST_F(ToneGenTest, AMArrayDataReadsBackBitForBitWithoutTouchingFlagsOrMirrors) {
  TToneGen source(nullptr);
  const float odd[kAMLevelCount] = {FromBits(0x7FC00123u),
                                    -0.0f,
                                    1e-45f,
                                    std::numeric_limits<float>::infinity(),
                                    -3.25f,
                                    0.1f,
                                    65504.0f,
                                    FromBits(0xFFFFFFFFu)};
  for (int i = 0; i < kAMLevelCount; ++i) {
    source.SetAMParameter(static_cast<TTGAMLevel>(i), static_cast<int16_t>(i * 41 - 100), odd[i],
                          static_cast<TTGWave>(i % 5));
  }
  TToneGen target(nullptr);
  TToneGenTestPeer peer(target);
  ASSERT_TRUE(target.Prepare());
  ASSERT_TRUE(ReadBlock(target, WriteBlock(source)));
  for (int i = 0; i < kAMLevelCount; ++i) {
    EXPECT_EQ(peer.FAMAmplitudes()[i], i * 41 - 100) << i;
    EXPECT_EQ(peer.FAMWaveforms()[i], i % 5) << i;
    EXPECT_EQ(Bits(peer.FAMFrequencies()[i]), Bits(odd[i])) << i;
  }
  EXPECT_EQ(FlagsOf(target), (Flags{false, false, true}));
  EXPECT_EQ(target.AMAmplitude(), 0);
  EXPECT_EQ(target.AMFrequency(), 0.5f);
}

TEST_F(ToneGenTest, AMArrayDataWithFewerLevelsReplacesOnlyThose) {
  TToneGen gen(nullptr);
  TToneGenTestPeer peer(gen);
  // Last index 3: 52 bytes, levels 1 to 4. The second value counts by its low 8 bits only and
  // the first by its low 16.
  std::vector<Record> records;
  for (uint32_t i = 0; i < 4; ++i) records.push_back({0x10000u + 10 * i, 0x100u + i, Bits(9.0f)});
  const std::vector<uint8_t> block = Block(3, records);
  ASSERT_EQ(block.size(), 52u);
  ASSERT_TRUE(ReadBlock(gen, block));
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(peer.FAMAmplitudes()[i], 10 * i);
    EXPECT_EQ(peer.FAMWaveforms()[i], i);
    EXPECT_EQ(peer.FAMFrequencies()[i], 9.0f);
  }
  for (int i = 4; i < kAMLevelCount; ++i) {
    EXPECT_EQ(peer.FAMAmplitudes()[i], 0);
    EXPECT_EQ(peer.FAMFrequencies()[i], 0.5f * (i + 1));
  }
}

TEST_F(ToneGenTest, AMArrayDataWithANegativeLastIndexChangesNothing) {
  TToneGen gen(nullptr);
  TToneGenTestPeer peer(gen);
  gen.SetAMParameter(tgAMLevel1, 33, 2.0f, tgSquare);
  const auto before = peer.FAMFrequencies();
  ASSERT_TRUE(ReadBlock(gen, Block(-1, {})));
  ASSERT_TRUE(ReadBlock(gen, Block(-5, {{1, 1, 1}})));
  EXPECT_EQ(peer.FAMAmplitudes()[0], 33);
  EXPECT_EQ(peer.FAMFrequencies(), before);
}

TEST_F(ToneGenTest, AMArrayDataBeyondEightLevelsReadsAndDropsTheSurplus) {
  TToneGen gen(nullptr);
  TToneGenTestPeer peer(gen);
  std::vector<Record> records;
  for (uint32_t i = 0; i < 12; ++i) records.push_back({i, 1, Bits(100.0f + i)});
  ASSERT_TRUE(ReadBlock(gen, Block(11, records)));
  for (int i = 0; i < kAMLevelCount; ++i) {
    EXPECT_EQ(peer.FAMAmplitudes()[i], i);
    EXPECT_EQ(peer.FAMFrequencies()[i], 100.0f + i);
  }
  EXPECT_EQ(peer.FAMOctaves()[7], 4);  // the fields after the table are untouched
}

TEST_F(ToneGenTest, TruncatedAMArrayDataFailsAndLeavesTheTable) {
  TToneGen gen(nullptr);
  TToneGenTestPeer peer(gen);
  std::vector<uint8_t> block = Block(7, std::vector<Record>(8, {77, 2, Bits(5.0f)}));
  block.pop_back();
  EXPECT_FALSE(ReadBlock(gen, block));
  EXPECT_FALSE(ReadBlock(gen, {0x07, 0x00}));  // not even the last index
  EXPECT_FALSE(ReadBlock(gen, Block(0x7FFFFFFF, {{1, 1, 1}})));
  for (int i = 0; i < kAMLevelCount; ++i) {
    EXPECT_EQ(peer.FAMAmplitudes()[i], 0);
    EXPECT_EQ(peer.FAMFrequencies()[i], 0.5f * (i + 1));
  }
}

}  // namespace
