// The sound service, played through SDL's disk driver: what the device receives is written to a
// raw file (signed 16-bit stereo at the image's rate), in real time.
#include "sound_service.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "signal_analysis.h"
#include "tonegen_testing.h"
#include "wave_render.h"
#include "wave_volume.h"

namespace {

using Clock = std::chrono::steady_clock;

// The driver must be chosen before the first SDL call of the process.
const std::string& DiskFile() {
  static const std::string path = "/tmp/zelkgen-sound-" + std::to_string(getpid()) + ".raw";
  return path;
}
const bool kDriverChosen = [] {
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", DiskFile().c_str(), 1);
  return true;
}();

int64_t FileSize(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? info.st_size : -1;
}

// What the device received, from the first sounding frame on: a device that is still paused
// plays silence until the service starts it, a device buffer or two (up to 16384 frames each).
std::vector<StereoFrame> Played() {
  std::vector<StereoFrame> frames = ReadRawStereo(DiskFile());
  size_t first = 0;
  while (first < frames.size() && frames[first].left == 0 && frames[first].right == 0) ++first;
  EXPECT_LT(first, 2 * 16384u) << "the sound started late";
  frames.erase(frames.begin(), frames.begin() + static_cast<ptrdiff_t>(first));
  return frames;
}

void SleepMs(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// A RIFF/WAVE image holding the given samples (16-bit values, or bytes for 8 bits).
std::vector<uint8_t> MakeImage(int channels, int bits, int rate, const std::vector<int>& samples) {
  const int32_t size = static_cast<int32_t>(samples.size()) * bits / 8;
  const auto header = MakeWaveHeader(channels == 2, bits == 16, rate == 96000, size);
  std::vector<uint8_t> image(header.begin(), header.end());
  for (int v : samples) {
    image.push_back(static_cast<uint8_t>(v));
    if (bits == 16) image.push_back(static_cast<uint8_t>(v >> 8));
  }
  image.resize(image.size() + 32, bits == 16 ? 0 : 0x80);
  return image;
}

// Distinct, mostly nonzero 16-bit values.
std::vector<int> Pattern(size_t count, int seed) {
  std::vector<int> values(count);
  for (size_t i = 0; i < count; ++i) values[i] = static_cast<int>((i * 37 + seed) % 20000) - 10000;
  return values;
}

class SoundServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kDriverChosen);
    waveOutSetVolume(0, 0xFFFFFFFFu);
  }
  void TearDown() override {
    PlaySoundA(nullptr, nullptr, 0);
    waveOutSetVolume(0, 0xFFFFFFFFu);
    std::remove(DiskFile().c_str());
  }
};

TEST_F(SoundServiceTest, SynchronousPlayDeliversTheImageAndLastsItsDuration) {
  const auto samples = Pattern(44100 * 3 / 10, 5);  // 300 ms mono
  const auto image = MakeImage(1, 16, 44100, samples);
  const auto start = Clock::now();
  ASSERT_TRUE(PlaySoundA(image.data(), nullptr, SND_MEMORY));
  const auto elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  EXPECT_GE(elapsed, 295.0);
  EXPECT_LT(elapsed, 1000.0);
  EXPECT_FALSE(SoundServiceIsPlaying());

  const auto frames = Played();
  ASSERT_GE(frames.size(), samples.size());
  for (size_t i = 0; i < samples.size(); ++i) {
    ASSERT_EQ(frames[i].left, samples[i]) << "frame " << i;
    ASSERT_EQ(frames[i].right, samples[i]) << "frame " << i;
  }
  for (size_t i = samples.size(); i < frames.size(); ++i) {
    ASSERT_EQ(frames[i].left, 0);
    ASSERT_EQ(frames[i].right, 0);
  }
}

TEST_F(SoundServiceTest, StereoAndEightBitImagesPlayAsTheyAre) {
  // Stereo at 96000: left and right apart.
  std::vector<int> stereo;
  for (int v : Pattern(9600, 11)) {
    stereo.push_back(v);
    stereo.push_back(-v / 2);
  }
  auto image = MakeImage(2, 16, 96000, stereo);
  ASSERT_TRUE(PlaySoundA(image.data(), nullptr, SND_MEMORY));
  auto frames = Played();
  ASSERT_GE(frames.size(), 9600u);
  for (size_t i = 0; i < 9600; ++i) {
    ASSERT_EQ(frames[i].left, stereo[2 * i]);
    ASSERT_EQ(frames[i].right, stereo[2 * i + 1]);
  }
  // 8-bit mono: the byte minus 128, scaled to 16 bits.
  std::vector<int> bytes(4410);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<int>(i * 7 % 256);
  image = MakeImage(1, 8, 44100, bytes);
  ASSERT_TRUE(PlaySoundA(image.data(), nullptr, SND_MEMORY));
  frames = Played();
  ASSERT_GE(frames.size(), bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) {
    ASSERT_EQ(frames[i].left, (bytes[i] - 128) * 256);
    ASSERT_EQ(frames[i].right, (bytes[i] - 128) * 256);
  }
}

TEST_F(SoundServiceTest, VolumeWordScalesLeftAndRightApart) {
  const auto samples = Pattern(4410, 3);
  const auto image = MakeImage(1, 16, 44100, samples);
  waveOutSetVolume(0, 0x4000FFFFu);  // left full, right a quarter
  ASSERT_TRUE(PlaySoundA(image.data(), nullptr, SND_MEMORY));
  const auto frames = Played();
  ASSERT_GE(frames.size(), samples.size());
  for (size_t i = 0; i < samples.size(); ++i) {
    ASSERT_EQ(frames[i].left, samples[i]);
    ASSERT_EQ(frames[i].right, samples[i] * 0x4000 / 65535) << "frame " << i;
  }
  waveOutSetVolume(0, 0x0000FFFFu);  // right silent
  ASSERT_TRUE(PlaySoundA(image.data(), nullptr, SND_MEMORY));
  const auto muted = Played();
  ASSERT_GE(muted.size(), samples.size());
  EXPECT_EQ(PeakLevel(muted, 0, muted.size()), 10000);
  for (const StereoFrame& f : muted) ASSERT_EQ(f.right, 0);
}

TEST_F(SoundServiceTest, LoopRepeatsUntilStoppedAndStopIsImmediate) {
  const auto samples = Pattern(2205, 17);  // 50 ms
  const auto image = MakeImage(1, 16, 44100, samples);
  ASSERT_TRUE(PlaySoundA(image.data(), nullptr, SND_MEMORY | SND_ASYNC | SND_LOOP));
  SleepMs(400);
  EXPECT_TRUE(SoundServiceIsPlaying());
  ASSERT_TRUE(PlaySoundA(nullptr, nullptr, 0));
  EXPECT_FALSE(SoundServiceIsPlaying());
  const int64_t size = FileSize(DiskFile());
  SleepMs(100);
  EXPECT_EQ(FileSize(DiskFile()), size) << "frames arrived after the stop";

  const auto frames = Played();
  ASSERT_GE(frames.size(), samples.size() * 5) << "fewer than five repetitions in 400 ms";
  for (size_t i = 0; i < frames.size(); ++i) {
    ASSERT_EQ(frames[i].left, samples[i % samples.size()]) << "frame " << i;
  }
}

TEST_F(SoundServiceTest, AsyncPlayReturnsAtOnceAndStopCutsItShort) {
  const auto samples = Pattern(44100 * 2, 23);  // 2 s
  const auto image = MakeImage(1, 16, 44100, samples);
  const auto start = Clock::now();
  ASSERT_TRUE(PlaySoundA(image.data(), nullptr, SND_MEMORY | SND_ASYNC));
  const double call_ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  EXPECT_LT(call_ms, 200.0);
  EXPECT_TRUE(SoundServiceIsPlaying());
  SleepMs(200);
  PlaySoundA(nullptr, nullptr, 0);
  const auto frames = Played();
  EXPECT_GT(frames.size(), 2205u);
  EXPECT_LT(frames.size(), samples.size() / 2);
  SleepMs(100);
  EXPECT_EQ(Played().size(), frames.size());
}

TEST_F(SoundServiceTest, OnceEndsByItselfAndANewSoundReplacesTheOld) {
  const auto first = MakeImage(1, 16, 44100, Pattern(2205, 1));
  ASSERT_TRUE(PlaySoundA(first.data(), nullptr, SND_MEMORY | SND_ASYNC));
  SleepMs(300);
  EXPECT_FALSE(SoundServiceIsPlaying());

  ASSERT_TRUE(PlaySoundA(first.data(), nullptr, SND_MEMORY | SND_ASYNC | SND_LOOP));
  const auto second_samples = Pattern(4410, 99);
  const auto second = MakeImage(1, 16, 44100, second_samples);
  ASSERT_TRUE(PlaySoundA(second.data(), nullptr, SND_MEMORY));
  const auto frames = Played();
  ASSERT_GE(frames.size(), second_samples.size());
  for (size_t i = 0; i < second_samples.size(); ++i) ASSERT_EQ(frames[i].left, second_samples[i]);
  EXPECT_FALSE(SoundServiceIsPlaying());
}

TEST_F(SoundServiceTest, ImageMayBeFreedRightAfterAnAsyncStart) {
  const auto samples = Pattern(4410, 42);
  auto image = std::make_unique<std::vector<uint8_t>>(MakeImage(1, 16, 44100, samples));
  ASSERT_TRUE(PlaySoundA(image->data(), nullptr, SND_MEMORY | SND_ASYNC));
  std::memset(image->data(), 0x55, image->size());
  image.reset();
  SleepMs(250);
  PlaySoundA(nullptr, nullptr, 0);
  const auto frames = Played();
  ASSERT_GE(frames.size(), samples.size());
  for (size_t i = 0; i < samples.size(); ++i) ASSERT_EQ(frames[i].left, samples[i]);
}

TEST_F(SoundServiceTest, ImagesItCannotPlayStartNothing) {
  const auto good = MakeImage(1, 16, 44100, Pattern(441, 0));
  const auto with = [&](size_t offset, std::vector<uint8_t> bytes) {
    std::vector<uint8_t> image = good;
    std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<ptrdiff_t>(offset));
    return image;
  };
  std::vector<uint8_t> garbage(256);
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<uint8_t>(i * 131 + 7);
  const std::vector<std::pair<std::string, std::vector<uint8_t>>> bad{
      {"garbage", garbage},
      {"not RIFF", with(0, {'R', 'I', 'F', 'X'})},
      {"not WAVE", with(8, {'A', 'V', 'I', ' '})},
      {"float format", with(20, {3, 0})},
      {"three channels", with(22, {3, 0})},
      {"48000 frames per second", with(24, {0x80, 0xBB, 0, 0})},
      {"24 bits", with(34, {24, 0})},
      {"wrong block align", with(32, {4, 0})},
      {"wrong bytes per second", with(28, {1, 2, 3, 0})},
      {"data beyond the chunk", with(40, {0xFF, 0xFF, 0, 0})},
      {"no data chunk", with(36, {'d', 'u', 'm', 'p'})},
      {"fmt chunk too short", with(16, {8, 0, 0, 0})},
      {"chunk size in gigabytes", with(4, {0, 0, 0, 0x40})},
  };
  for (const auto& [what, image] : bad) {
    std::remove(DiskFile().c_str());
    EXPECT_FALSE(PlaySoundA(image.data(), nullptr, SND_MEMORY | SND_ASYNC)) << what;
    EXPECT_FALSE(SoundServiceIsPlaying()) << what;
    EXPECT_EQ(FileSize(DiskFile()), -1) << what << ": a device was opened";
  }
  // A file name or a loop that waits are not played either.
  EXPECT_FALSE(PlaySoundA(good.data(), nullptr, SND_ASYNC));
  EXPECT_FALSE(PlaySoundA(good.data(), nullptr, SND_MEMORY | SND_LOOP));
  EXPECT_TRUE(PlaySoundA(good.data(), nullptr, SND_MEMORY));  // the image itself is fine
}

TEST_F(SoundServiceTest, RenderedImagePlaysItsSamples) {
  ToneSettings s;
  s.Quality = tgLoQ;
  s.Duration = 15;  // an odd data size: the half frame at the end is not played
  std::vector<uint8_t> image(static_cast<size_t>(WaveImageSize(s)));
  RenderWaveImage(s, false, image.data());
  ASSERT_TRUE(PlaySoundA(image.data(), nullptr, SND_MEMORY));
  const auto frames = Played();
  // The sine's first frame is 0: what was played starts with frame 1.
  ASSERT_GE(frames.size(), 660u);
  for (size_t i = 1; i < 661; ++i) {
    const int16_t v = static_cast<int16_t>(image[44 + 2 * i] | (image[45 + 2 * i] << 8));
    ASSERT_EQ(frames[i - 1].left, v);
  }
  for (size_t i = 660; i < frames.size(); ++i) ASSERT_EQ(frames[i].left, 0);
}

}  // namespace
