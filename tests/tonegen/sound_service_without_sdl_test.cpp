// The sound service where SDL2 cannot be loaded. ctest points LD_LIBRARY_PATH at a stand-in
// libSDL2-2.0.so.0 (tests/synth/sdl2_without_audio.cpp) that lacks the audio functions.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sound_service.h"
#include "tone_gen.h"
#include "tonegen_testing.h"
#include "wave_render.h"

namespace {

bool StandInComesFirst() {
  const char* path = getenv("LD_LIBRARY_PATH");
  return path != nullptr && std::string(path).starts_with(ZELKGEN_SDL_STAND_IN_DIR);
}

TEST(SoundServiceWithoutSdl, ASoundReturnsFalseAndStartsNothing) {
  if (!StandInComesFirst()) {
    GTEST_SKIP() << "needs LD_LIBRARY_PATH=" ZELKGEN_SDL_STAND_IN_DIR " (ctest sets it)";
  }
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  // A valid image: 0.1 s of 16-bit stereo at 44100 frames per second, a full-scale square.
  const int32_t data_size = 4410 * 4;
  const auto header = MakeWaveHeader(true, true, false, data_size);
  std::vector<uint8_t> image(header.begin(), header.end());
  for (int frame = 0; frame < 4410; ++frame) {
    const int16_t value = (frame / 50) % 2 == 0 ? 30000 : -30000;
    for (int channel = 0; channel < 2; ++channel) {
      image.push_back(static_cast<uint8_t>(value));
      image.push_back(static_cast<uint8_t>(value >> 8));
    }
  }
  for (const uint32_t flags :
       {SND_MEMORY, SND_MEMORY | SND_ASYNC, SND_MEMORY | SND_ASYNC | SND_LOOP}) {
    EXPECT_FALSE(PlaySoundA(image.data(), nullptr, flags)) << "flags " << flags;
    EXPECT_FALSE(SoundServiceIsPlaying()) << "flags " << flags;
  }
  EXPECT_TRUE(PlaySoundA(nullptr, nullptr, 0));

  TToneGen gen(nullptr);
  gen.SetLoop(true);
  gen.Play();
  EXPECT_FALSE(SoundServiceIsPlaying());
  gen.Stop();
}

}  // namespace
