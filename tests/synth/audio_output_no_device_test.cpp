// BASS_Init with no sound server and no sound card reachable. The test builds that situation
// for this process alone: PulseAudio pointed at a socket that does not exist, with autospawn off,
// or ALSA given an empty configuration, so no user's server or card is ever touched.
#include <SDL.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "audio_output.h"
#include "scratch_dir.h"

namespace {

namespace fs = std::filesystem;

class NoDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(scratch_.Created()); }
  void TearDown() override { BASS_Free(); }

  void ExpectInitFindsNoDevice() {
    for (int attempt = 0; attempt < 3; ++attempt) {
      EXPECT_EQ(BASS_Init(-1, 44100, 0, nullptr, nullptr), 0);
      EXPECT_EQ(BASS_ErrorGetCode(), AUDIO_ERROR_NO_DEVICE) << "attempt " << attempt;
      EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u) << "a failed Init left SDL audio running";
    }
    // Nothing is open, so stream calls report that.
    EXPECT_EQ(BASS_StreamCreate(
                  44100, 2, 0, [](HSTREAM, void*, uint32_t n, void*) { return n; }, nullptr),
              0u);
    EXPECT_EQ(BASS_ErrorGetCode(), AUDIO_ERROR_NOT_INIT);
    EXPECT_EQ(BASS_ChannelPlay(1, 0), 0);
    EXPECT_EQ(BASS_ErrorGetCode(), AUDIO_ERROR_HANDLE);
  }

  ScratchDir scratch_{"zelkgen-nodev-"};
  const fs::path& dir_ = scratch_.Path();
};

TEST_F(NoDeviceTest, NoSoundServerMeansNoDevice) {
  const fs::path config = dir_ / "client.conf";
  std::ofstream(config) << "autospawn = no\n";
  setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
  setenv("PULSE_SERVER", ("unix:" + (dir_ / "missing" / "native").string()).c_str(), 1);
  setenv("PULSE_CLIENTCONFIG", config.c_str(), 1);
  setenv("PULSE_RUNTIME_PATH", dir_.c_str(), 1);
  ExpectInitFindsNoDevice();
}

TEST_F(NoDeviceTest, NoSoundCardMeansNoDevice) {
  const fs::path config = dir_ / "asound.conf";
  std::ofstream(config) << "\n";
  setenv("SDL_AUDIODRIVER", "alsa", 1);
  setenv("ALSA_CONFIG_PATH", config.c_str(), 1);
  ExpectInitFindsNoDevice();
}

}  // namespace
