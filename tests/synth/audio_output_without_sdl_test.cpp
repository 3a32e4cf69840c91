// The audio output layer where SDL2 cannot be loaded. ctest points LD_LIBRARY_PATH at a stand-in
// libSDL2-2.0.so.0 (sdl2_without_audio.cpp) that has SDL_InitSubSystem and no other audio
// function, so the loader finds the library but not a complete table.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "audio_output.h"
#include "sdl_audio_api.h"

namespace {

bool StandInComesFirst() {
  const char* path = getenv("LD_LIBRARY_PATH");
  return path != nullptr && std::string(path).starts_with(ZELKGEN_SDL_STAND_IN_DIR);
}

TEST(AudioOutputWithoutSdl, InitFindsNoDeviceAndTheRestStaysHarmless) {
  if (!StandInComesFirst()) {
    GTEST_SKIP() << "needs LD_LIBRARY_PATH=" ZELKGEN_SDL_STAND_IN_DIR " (ctest sets it)";
  }
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  for (int attempt = 0; attempt < 3; ++attempt) {
    EXPECT_EQ(BASS_Init(-1, 44100, 0, nullptr, nullptr), 0) << "attempt " << attempt;
    EXPECT_EQ(BASS_ErrorGetCode(), AUDIO_ERROR_NO_DEVICE) << "attempt " << attempt;
  }
  EXPECT_EQ(SdlAudio(), nullptr) << "a table without all its functions was handed out";
  EXPECT_STRNE(SdlAudioError(), "") << "nothing says why SDL is not there";

  EXPECT_EQ(BASS_StreamCreate(
                44100, 2, 0, [](HSTREAM, void*, uint32_t n, void*) { return n; }, nullptr),
            0u);
  EXPECT_EQ(BASS_ErrorGetCode(), AUDIO_ERROR_NOT_INIT);
  EXPECT_EQ(BASS_ChannelPlay(1, 0), 0);
  EXPECT_EQ(BASS_ErrorGetCode(), AUDIO_ERROR_HANDLE);
  EXPECT_EQ(BASS_Stop(), 0);
  EXPECT_EQ(BASS_ErrorGetCode(), AUDIO_ERROR_NOT_INIT);
  EXPECT_EQ(BASS_Free(), 0);
  EXPECT_EQ(BASS_ErrorGetCode(), AUDIO_ERROR_NOT_INIT);
}

}  // namespace
