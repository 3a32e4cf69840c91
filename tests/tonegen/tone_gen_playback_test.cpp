// TToneGen's playback, image and export, through the real sound service. Sound goes only to
// SDL's dummy driver, or to its disk driver where a test checks what was played.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "signal_analysis.h"
#include "sound_service.h"
#include "stored_form.h"
#include "tone_gen.h"
#include "tone_gen_test_peer.h"
#include "tonegen_testing.h"
#include "wave_volume.h"

namespace {

// Before anything in this test program can open an audio device: never a real output.
const bool kQuietAudio = [] { return setenv("SDL_AUDIODRIVER", "dummy", 1) == 0; }();

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

std::vector<uint8_t> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
}

bool WaitUntilSilent(std::chrono::milliseconds limit) {
  const auto end = Clock::now() + limit;
  while (Clock::now() < end) {
    if (!SoundServiceIsPlaying()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return !SoundServiceIsPlaying();
}

class PlaybackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kQuietAudio);
    ASSERT_EQ(ToneGenCount, 0);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    waveOutSetVolume(0, 0xFFFFFFFFu);
    dir_ = fs::path(::testing::TempDir()) /
           ("tonegen_playback_" + std::to_string(getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    PlaySoundA(nullptr, nullptr, 0);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    unsetenv("SDL_DISKAUDIOFILE");
    SetImageAllocationFailsForTesting(false);
    fs::remove_all(dir_);
  }

  fs::path dir_;
};

TEST_F(PlaybackTest, PlayTwiceRendersOnceAndPlaysTwice) {
  const fs::path recording = dir_ / "played.raw";
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", recording.c_str(), 1);
  TToneGen gen(nullptr);
  gen.SetAsync(false);
  gen.SetDuration(200);
  for (int play = 1; play <= 2; ++play) {
    fs::remove(recording);
    gen.Play();
    EXPECT_EQ(TToneGenTestPeer(gen).FRenderCount(), 1) << "play " << play;
    // The disk driver wrote what was played: the 440 Hz full-scale sine of this image.
    const std::vector<StereoFrame> frames = ReadRawStereo(recording.string());
    const FrameRange audible = AudibleRange(frames);
    ASSERT_GT(audible.end - audible.begin, 96000u * 150 / 1000) << "play " << play;
    EXPECT_GT(PeakLevel(frames, audible.begin, audible.end), 32000) << "play " << play;
    EXPECT_NEAR(MeasureFrequency(frames, audible.begin, audible.end, 96000.0), 440.0, 2.0);
  }
  gen.PlayADSR();
  EXPECT_EQ(TToneGenTestPeer(gen).FRenderCount(), 2);
  gen.PlayADSR();
  EXPECT_EQ(TToneGenTestPeer(gen).FRenderCount(), 2);
  gen.SetAttack(20);
  gen.Play();
  EXPECT_EQ(TToneGenTestPeer(gen).FRenderCount(),
            3);  // after an enveloped image the plain one is stale
  gen.Play();
  EXPECT_EQ(TToneGenTestPeer(gen).FRenderCount(), 3);
  gen.PlayADSR();
  EXPECT_EQ(TToneGenTestPeer(gen).FRenderCount(), 4);
}

TEST_F(PlaybackTest, AsyncAndLoopNeverRenderAnew) {
  TToneGen gen(nullptr);
  gen.Play();
  gen.SetAsync(false);
  gen.SetLoop(true);
  gen.Play();
  gen.SetLoop(false);
  gen.SetDuration(10);
  gen.Play();  // the duration made it stale
  gen.Stop();
  EXPECT_EQ(TToneGenTestPeer(gen).FRenderCount(), 2);
}

TEST_F(PlaybackTest, SynchronousPlayReturnsAfterDurationAndLeavesStopped) {
  TToneGen gen(nullptr);
  gen.SetAsync(false);
  gen.SetDuration(400);
  const auto start = Clock::now();
  gen.Play();
  const auto elapsed = Clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(380));
  EXPECT_TRUE(TToneGenTestPeer(gen).FStopped());
  EXPECT_FALSE(SoundServiceIsPlaying());
}

TEST_F(PlaybackTest, AsyncPlayReturnsWhileSoundingAndPlaysOnce) {
  TToneGen gen(nullptr);
  gen.SetDuration(300);
  gen.Play();
  EXPECT_TRUE(SoundServiceIsPlaying());  // the call came back before the sound ended
  EXPECT_FALSE(TToneGenTestPeer(gen).FStopped());
  EXPECT_TRUE(WaitUntilSilent(std::chrono::milliseconds(2000)));
  // Nothing notices that the sound ended by itself.
  EXPECT_FALSE(TToneGenTestPeer(gen).FStopped());
}

TEST_F(PlaybackTest, LoopRepeatsUntilStopWhateverAsyncSays) {
  TToneGen gen(nullptr);
  gen.SetAsync(false);
  gen.SetLoop(true);
  gen.SetDuration(50);
  gen.PlayADSR();
  EXPECT_FALSE(TToneGenTestPeer(gen).FStopped());
  std::this_thread::sleep_for(std::chrono::milliseconds(400));  // eight times the image
  EXPECT_TRUE(SoundServiceIsPlaying());
  EXPECT_FALSE(TToneGenTestPeer(gen).FStopped());
  gen.Stop();
  EXPECT_FALSE(SoundServiceIsPlaying());
  EXPECT_TRUE(TToneGenTestPeer(gen).FStopped());
}

TEST_F(PlaybackTest, StopOfAnyInstanceSilencesTheProcessButTouchesOnlyItsOwnState) {
  TToneGen looping(nullptr);
  TToneGen other(nullptr);
  looping.SetLoop(true);
  looping.Play();
  ASSERT_TRUE(SoundServiceIsPlaying());
  other.Stop();
  EXPECT_FALSE(SoundServiceIsPlaying());
  EXPECT_FALSE(TToneGenTestPeer(looping).FStopped());
}

TEST_F(PlaybackTest, RenderingAndDestructionStopTheSound) {
  auto gen = std::make_unique<TToneGen>(nullptr);
  gen->SetLoop(true);
  gen->Play();
  ASSERT_TRUE(SoundServiceIsPlaying());
  ASSERT_TRUE(gen->Prepare());
  EXPECT_FALSE(SoundServiceIsPlaying());
  EXPECT_FALSE(TToneGenTestPeer(*gen).FStopped());  // a rendering leaves it as it was
  gen->Play();
  ASSERT_TRUE(SoundServiceIsPlaying());
  gen.reset();
  EXPECT_FALSE(SoundServiceIsPlaying());
}

TEST_F(PlaybackTest, VolumesWaitWhilePlayingUnlessLoading) {
  TToneGen gen(nullptr);
  gen.SetLoop(true);
  gen.Play();
  gen.SetLeftVolume(50);
  EXPECT_EQ(CurrentWaveVolumeWord(), 0xFFFFFFFFu);
  gen.PresetVolume();
  EXPECT_EQ(CurrentWaveVolumeWord(), 0xFFFF7FFFu);
  gen.SetRightVolume(0);
  EXPECT_EQ(CurrentWaveVolumeWord(), 0xFFFF7FFFu);
  gen.Play();  // the next playback applies them
  EXPECT_EQ(CurrentWaveVolumeWord(), 0x00007FFFu);
  // Stored settings read while playing reach the device at once.
  std::string error;
  ASSERT_TRUE(ReadToneGenForm(gen, "object T: TToneGen\n  LeftVolume = 0\nend\n", &error)) << error;
  EXPECT_EQ(CurrentWaveVolumeWord(), 0u);
  gen.Stop();
  gen.SetRightVolume(100);  // idle: at once
  EXPECT_EQ(CurrentWaveVolumeWord(), 0xFFFF0000u);
}

TEST_F(PlaybackTest, WithoutAnImagePlayStartsNothing) {
  TToneGen gen(nullptr);
  gen.SetLoop(true);
  gen.SetLeftVolume(1);
  SetImageAllocationFailsForTesting(true);
  waveOutSetVolume(0, 0);
  gen.Play();
  EXPECT_EQ(gen.GetDataBuffer(), nullptr);
  EXPECT_FALSE(SoundServiceIsPlaying());
  EXPECT_FALSE(TToneGenTestPeer(gen).FStopped());
  EXPECT_EQ(CurrentWaveVolumeWord(), 0xFFFF028Fu);  // the volumes were applied all the same
}

TEST_F(PlaybackTest, ExportOfAFreshComponentFailsAndCreatesNoFile) {
  TToneGen gen(nullptr);
  const fs::path target = dir_ / "fresh.wav";
  EXPECT_FALSE(gen.ExportFile(target.string()));
  EXPECT_FALSE(fs::exists(target));
  EXPECT_TRUE(fs::is_empty(dir_));
}

TEST_F(PlaybackTest, ExportWritesTheImageAsItStands) {
  TToneGen gen(nullptr);
  gen.SetAsync(false);
  gen.SetDuration(10);
  gen.SetDuration(100);
  gen.Play();
  const fs::path target = dir_ / "defaults.wav";
  ASSERT_TRUE(gen.ExportFile(target.string()));
  const std::vector<uint8_t> bytes = ReadFile(target);
  ASSERT_EQ(bytes.size(), 19276u);
  const std::vector<uint8_t> header = {
      0x52, 0x49, 0x46, 0x46, 0x24, 0x4B, 0x00, 0x00, 0x57, 0x41, 0x56, 0x45, 0x66, 0x6D, 0x74,
      0x20, 0x10, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x77, 0x01, 0x00, 0x00, 0xEE,
      0x02, 0x00, 0x02, 0x00, 0x10, 0x00, 0x64, 0x61, 0x74, 0x61, 0x00, 0x4B, 0x00, 0x00};
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 44), header);
  EXPECT_EQ(std::vector<uint8_t>(bytes.end() - 32, bytes.end()), std::vector<uint8_t>(32, 0x00));
  EXPECT_EQ(0, std::memcmp(bytes.data(), gen.GetDataBuffer(), bytes.size()));

  // Changed settings do not re-render an export.
  gen.SetFrequency(1000);
  const fs::path again = dir_ / "again.wav";
  ASSERT_TRUE(gen.ExportFile(again.string()));
  EXPECT_EQ(ReadFile(again), bytes);
  EXPECT_EQ(TToneGenTestPeer(gen).FRenderCount(), 1);
}

TEST_F(PlaybackTest, EightBitExportEndsInSilenceBytes) {
  TToneGen gen(nullptr);
  gen.SetResolution(tg8Bit);
  gen.SetQuality(tgLoQ);
  gen.SetDuration(15);
  ASSERT_TRUE(gen.PrepareADSR());
  const fs::path target = dir_ / "eight.wav";
  ASSERT_TRUE(gen.ExportFile(target.string()));
  const std::vector<uint8_t> bytes = ReadFile(target);
  ASSERT_EQ(bytes.size(), 661u + 76u);  // 15 ms at 44100 frames/s, one byte each
  EXPECT_EQ(std::vector<uint8_t>(bytes.end() - 32, bytes.end()), std::vector<uint8_t>(32, 0x80));
}

TEST_F(PlaybackTest, ExportReplacesAnExistingFileWhole) {
  const fs::path target = dir_ / "existing.wav";
  {
    std::ofstream out(target, std::ios::binary);
    out << std::string(50000, 'x');
  }
  TToneGen gen(nullptr);
  ASSERT_TRUE(gen.Prepare());
  ASSERT_TRUE(gen.ExportFile(target.string()));
  const std::vector<uint8_t> bytes = ReadFile(target);
  ASSERT_EQ(bytes.size(), 19276u);
  EXPECT_EQ(0, std::memcmp(bytes.data(), gen.GetDataBuffer(), bytes.size()));
}

TEST_F(PlaybackTest, ExportToABadNameFailsAndLeavesNothing) {
  TToneGen gen(nullptr);
  ASSERT_TRUE(gen.Prepare());
  const struct {
    std::string path;
    std::string reason;  // what the error text ends in
  } cases[] = {
      {dir_.string(), "Is a directory"},
      {(dir_ / "missing" / "x.wav").string(), "No such file or directory"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_FALSE(gen.ExportFile(c.path));
    EXPECT_EQ(gen.LastError(), tgeWriteFailed);
    EXPECT_EQ(gen.LastErrorText(), "cannot write '" + c.path + "': " + c.reason);
  }
  EXPECT_FALSE(gen.ExportFile(""));
  EXPECT_EQ(gen.LastError(), tgeWriteFailed);
  EXPECT_TRUE(fs::is_empty(dir_));
  // A good export clears the failure.
  EXPECT_TRUE(gen.ExportFile((dir_ / "good.wav").string()));
  EXPECT_EQ(gen.LastError(), tgeNone);
  EXPECT_EQ(gen.LastErrorText(), "");
}

// The 16-bit stereo samples of gen's image.
std::vector<StereoFrame> ImageFrames(const TToneGen& gen) {
  std::vector<StereoFrame> frames(static_cast<size_t>(gen.GetDataSize() - 44 - 32) / 4);
  std::memcpy(frames.data(), gen.GetDataBuffer() + 44, frames.size() * 4);
  return frames;
}

bool SameFrame(const StereoFrame& a, const StereoFrame& b) {
  return a.left == b.left && a.right == b.right;
}

TEST_F(PlaybackTest, ALoopGoesOnWithTheChangedToneAtAPeriodStart) {
  struct Case {
    const char* what;
    bool envelope;
    int16_t from_hertz, to_hertz;
    size_t period;  // frames of the tone playing when the change comes, at 44100 frames/s
  };
  const Case cases[] = {
      {"441 Hz to 882 Hz", false, 441, 882, 100},
      {"enveloped 882 Hz to 441 Hz", true, 882, 441, 50},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path recording = dir_ / "loop.raw";
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", recording.c_str(), 1);
    TToneGen gen(nullptr);
    gen.SetQuality(tgLoQ);
    gen.SetStereo(true);
    gen.SetDuration(30);
    gen.SetFrequency(c.from_hertz);
    gen.SetLoop(true);
    EXPECT_FALSE(gen.ContinueLoop());  // nothing plays yet
    c.envelope ? gen.PlayADSR() : gen.Play();
    ASSERT_EQ(gen.LastError(), tgeNone);
    const std::vector<StereoFrame> before = ImageFrames(gen);
    // Past the device's first buffer, so that the change lands in a later one.
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    gen.SetFrequency(c.to_hertz);
    ASSERT_TRUE(gen.ContinueLoop());
    const std::vector<StereoFrame> after = ImageFrames(gen);
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    gen.Stop();
    EXPECT_FALSE(gen.ContinueLoop());  // stopped

    // The recording: the first image repeated, then from a period start of it the second.
    const std::vector<StereoFrame> played = ReadRawStereo(recording.string());
    size_t at = 0;
    while (at < played.size() && SameFrame(played[at], before[at % before.size()])) ++at;
    ASSERT_LT(at, played.size()) << "the tone never changed";
    // Where a period of the first tone starts and the second tone's first frame would match.
    size_t switched = at - (at % before.size()) % c.period;
    ASSERT_EQ((switched % before.size()) % c.period, 0u);
    ASSERT_GT(played.size(), switched + after.size());
    for (size_t i = 0; i < after.size(); ++i) {
      ASSERT_TRUE(SameFrame(played[switched + i], after[i]))
          << "frame " << i << " after " << switched;
    }
  }
}

TEST_F(PlaybackTest, EveryWayOfPlayingSaysWhyNothingSounds) {
  struct Case {
    const char* what;
    const char* driver;
    bool envelope, async, loop, no_memory;
    TTGError expected;
  };
  const Case cases[] = {
      {"no output, plain, synchronous", "no-such-driver", false, false, false, false, tgeNoOutput},
      {"no output, enveloped, in the background", "no-such-driver", true, true, false, false,
       tgeNoOutput},
      {"no output, looping", "no-such-driver", false, true, true, false, tgeNoOutput},
      {"no memory for the image", "dummy", true, true, true, true, tgeNoMemory},
      {"an output, looping", "dummy", false, false, true, false, tgeNone},
      {"an output, enveloped, synchronous", "dummy", true, false, false, false, tgeNone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    setenv("SDL_AUDIODRIVER", c.driver, 1);
    SetImageAllocationFailsForTesting(c.no_memory);
    TToneGen gen(nullptr);
    gen.SetDuration(20);
    gen.SetAsync(c.async);
    gen.SetLoop(c.loop);
    c.envelope ? gen.PlayADSR() : gen.Play();
    EXPECT_EQ(gen.LastError(), c.expected);
    EXPECT_EQ(gen.LastErrorText().empty(), c.expected == tgeNone) << gen.LastErrorText();
    if (c.expected != tgeNone) {
      EXPECT_FALSE(SoundServiceIsPlaying());
    }
    gen.Stop();
  }
}

TEST_F(PlaybackTest, DataBufferIsTheLatestImage) {
  TToneGen gen(nullptr);
  EXPECT_EQ(gen.GetDataBuffer(), nullptr);
  ASSERT_TRUE(gen.Prepare());
  gen.SetStereo(true);
  ASSERT_TRUE(gen.Prepare());
  const uint8_t* image = gen.GetDataBuffer();
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(image), 4), "RIFF");
  EXPECT_EQ(image[22], 2);  // the stereo rendering's channel count
  EXPECT_EQ(TToneGenTestPeer(gen).FDataSize(), 38476);
}

}  // namespace
