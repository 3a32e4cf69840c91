// The sound service against a real sound server: a private PulseAudio daemon with a null sink,
// recorded from its monitor. Skipped, with the reason, where the daemon cannot run.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "private_pulse.h"
#include "scratch_dir.h"
#include "signal_analysis.h"
#include "sound_service.h"
#include "wave_render.h"
#include "wave_volume.h"

// SDL 2.26's PulseAudio backend leaves a few libpulse operation records unreleased on every
// device open, inside libpulse; LeakSanitizer should not blame the sound service.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libpulse.so\n";
}

namespace {

namespace fs = std::filesystem;

class SoundServicePulseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!pulse_.StartForSdl(&why)) GTEST_SKIP() << "no private PulseAudio: " << why;
    ASSERT_TRUE(scratch_.Created());
    waveOutSetVolume(0, 0xFFFFFFFFu);
    // A fresh null sink may hold back its first stream: a short silent sound goes first.
    ToneSettings quiet;
    quiet.FAMAmplitudes[0] = 100;
    quiet.AMUseMultiplier = false;
    quiet.FAMFrequencies[0] = 0.0f;
    quiet.Quality = tgLoQ;
    std::vector<uint8_t> silence(static_cast<size_t>(WaveImageSize(quiet)));
    RenderWaveImage(quiet, false, silence.data());
    ASSERT_TRUE(PlaySoundA(silence.data(), nullptr, SND_MEMORY)) << "the server took no sound";
  }
  void TearDown() override {
    PlaySoundA(nullptr, nullptr, 0);
    waveOutSetVolume(0, 0xFFFFFFFFu);
    pulse_.Stop();
  }

  // Plays the image synchronously while the sink is recorded.
  std::vector<StereoFrame> PlayAndRecord(const std::vector<uint8_t>& image) {
    const std::string path = (dir_ / "capture.raw").string();
    std::string why;
    EXPECT_TRUE(pulse_.StartRecording(path, &why)) << why;
    EXPECT_TRUE(PlaySoundA(image.data(), nullptr, SND_MEMORY));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the last buffers
    pulse_.StopRecording();
    return ReadRawStereo(path);
  }

  PrivatePulse pulse_;
  ScratchDir scratch_{"zelkgen-svc-"};
  const fs::path& dir_ = scratch_.Path();
};

std::vector<uint8_t> OneKilohertz(int16_t duration) {
  ToneSettings s;
  s.Frequency = 1000;
  s.Duration = duration;
  s.Quality = tgLoQ;
  s.Stereo = true;
  std::vector<uint8_t> image(static_cast<size_t>(WaveImageSize(s)));
  RenderWaveImage(s, false, image.data());
  return image;
}

TEST_F(SoundServicePulseTest, ToneComesBackAtItsFrequencyAndLength) {
  const auto frames = PlayAndRecord(OneKilohertz(1000));
  const FrameRange audible = AudibleRange(frames);
  ASSERT_GT(audible.end - audible.begin, 0u) << "nothing came through";
  // 1000 ms of sound, measured between the gaps a busy machine may leave in the recording.
  const std::vector<FrameRange> segments = SoundSegments(frames);
  EXPECT_NEAR(SoundingFrames(segments), 44100.0, 44100 * 0.05);
  // The rendered period lengths run 44 (nine times) and 45: exactly 1000 Hz on average.
  EXPECT_NEAR(MeasureFrequency(frames, segments), 1000.0, 5.0);
  EXPECT_NEAR(PeakLevel(frames, audible.begin, audible.end), 32767, 200);
}

TEST_F(SoundServicePulseTest, VolumeWordReachesTheServerPerChannel) {
  waveOutSetVolume(0, 0x4000FFFFu);  // right a quarter
  const auto frames = PlayAndRecord(OneKilohertz(500));
  const FrameRange audible = AudibleRange(frames);
  ASSERT_GT(audible.end - audible.begin, 4410u) << "nothing came through";
  int left = 0;
  int right = 0;
  for (size_t i = audible.begin; i < audible.end; ++i) {
    left = std::max(left, std::abs(int{frames[i].left}));
    right = std::max(right, std::abs(int{frames[i].right}));
  }
  EXPECT_NEAR(left, 32767, 200);
  EXPECT_NEAR(right, 32767 / 4, 200);
}

TEST_F(SoundServicePulseTest, TheMixerShowsTheToneGeneratorByName) {
  const std::vector<uint8_t> image = OneKilohertz(100);
  ASSERT_TRUE(PlaySoundA(image.data(), nullptr, SND_MEMORY | SND_ASYNC | SND_LOOP));
  const std::string inputs = pulse_.SinkInputs();
  EXPECT_NE(inputs.find("media.name = \"Tone generator\""), std::string::npos) << inputs;
}

}  // namespace
