// The sound service and TToneGen in a program that does not link SDL2: rendering, stopping and
// destroying never load it; the first sound does.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include "sound_service.h"
#include "tone_gen.h"
#include "tonegen_testing.h"

namespace {

bool SdlLoaded() {
  void* library = dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_NOLOAD);
  if (library != nullptr) dlclose(library);
  return library != nullptr;
}

TEST(SoundServiceSdlLoading, OnlyASoundLoadsSdl) {
  if (SdlLoaded()) {
    GTEST_SKIP() << "SDL was loaded by an earlier test of this process; run this test alone "
                    "(ctest runs each test in a process of its own)";
  }
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  {
    TToneGen gen(nullptr);
    gen.SetDuration(50);
    // Each rendering first stops whatever sound may be reading the old image.
    ASSERT_TRUE(gen.Prepare());
    ASSERT_TRUE(gen.PrepareADSR());
    gen.Stop();
    EXPECT_TRUE(PlaySoundA(nullptr, nullptr, 0));
    EXPECT_FALSE(SoundServiceIsPlaying());
  }  // the destructor stops too
  EXPECT_FALSE(SdlLoaded()) << "SDL was loaded without a sound";

  TToneGen gen(nullptr);
  gen.SetLoop(true);
  gen.Play();
  EXPECT_TRUE(SdlLoaded());
  EXPECT_TRUE(SoundServiceIsPlaying());
  gen.Stop();
  EXPECT_FALSE(SoundServiceIsPlaying());
}

}  // namespace
