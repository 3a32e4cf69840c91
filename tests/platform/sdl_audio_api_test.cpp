// The SDL2 loader in a process that does not link SDL2: the library comes in with the first
// sound and not before, and every caller, on any thread, gets one complete table.
#include "sdl_audio_api.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <iterator>
#include <thread>
#include <utility>
#include <vector>

#include "audio_output.h"
#include "audio_output_testing.h"

namespace {

constexpr const char* kSdlLibrary = "libSDL2-2.0.so.0";

bool SdlLoaded() {
  void* library = dlopen(kSdlLibrary, RTLD_NOW | RTLD_NOLOAD);
  if (library != nullptr) dlclose(library);
  return library != nullptr;
}

uint32_t Silence(HSTREAM, void*, uint32_t length, void*) {
  return length;
}

// First in this file, so that it also holds when the whole program runs in one process.
TEST(SdlAudioApi, OnlyTheFirstSoundLoadsSdl) {
  if (SdlLoaded()) {
    GTEST_SKIP() << "SDL was loaded by an earlier test of this process; run this test alone "
                    "(ctest runs each test in a process of its own)";
  }
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  // Stops and releases with nothing open, calls out of order, refused and injected failures.
  EXPECT_EQ(BASS_Stop(), 0);
  EXPECT_EQ(BASS_Free(), 0);
  EXPECT_EQ(BASS_StreamCreate(44100, 2, 0, Silence, nullptr), 0u);
  EXPECT_EQ(BASS_ChannelPlay(1, 0), 0);
  EXPECT_EQ(BASS_Init(-1, 48000, 0, nullptr, nullptr), 0);
  EXPECT_EQ(BASS_ErrorGetCode(), AUDIO_ERROR_FORMAT);
  AudioOutputFailNextForTesting(AudioCall::Init, AUDIO_ERROR_DRIVER);
  EXPECT_EQ(BASS_Init(-1, 44100, 0, nullptr, nullptr), 0);
  EXPECT_FALSE(SdlLoaded()) << "SDL was loaded without a sound";

  ASSERT_NE(BASS_Init(-1, 44100, 0, nullptr, nullptr), 0)
      << "code " << BASS_ErrorGetCode() << ": " << SdlAudioError();
  EXPECT_TRUE(SdlLoaded());
  const HSTREAM stream = BASS_StreamCreate(44100, 2, 0, Silence, nullptr);
  EXPECT_NE(stream, 0u);
  EXPECT_NE(BASS_ChannelPlay(stream, 0), 0);
  EXPECT_NE(BASS_Stop(), 0);
  EXPECT_NE(BASS_Free(), 0);
  EXPECT_EQ(BASS_ErrorGetCode(), AUDIO_OK);
}

TEST(SdlAudioApi, EveryThreadGetsTheSameCompleteTable) {
  // Several first calls at once: the library must be loaded and the table built exactly once.
  std::vector<const SdlAudioApi*> seen(8, nullptr);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < seen.size(); ++i) {
    threads.emplace_back([&seen, i] { seen[i] = SdlAudio(); });
  }
  for (std::thread& thread : threads) thread.join();

  const SdlAudioApi* api = SdlAudio();
  ASSERT_NE(api, nullptr) << SdlAudioError();
  EXPECT_STREQ(SdlAudioError(), "");
  for (size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i], api) << "thread " << i;
  EXPECT_EQ(SdlAudio(), api);

  // Each entry is the library's own function of that name (entries of one signature, such as
  // lock and unlock, could be swapped unnoticed otherwise).
  void* library = dlopen(kSdlLibrary, RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(library, nullptr) << "the table is there but the library is not loaded";
  const std::pair<const char*, void*> entries[] = {
      {"SDL_InitSubSystem", reinterpret_cast<void*>(api->InitSubSystem)},
      {"SDL_QuitSubSystem", reinterpret_cast<void*>(api->QuitSubSystem)},
      {"SDL_OpenAudioDevice", reinterpret_cast<void*>(api->OpenAudioDevice)},
      {"SDL_CloseAudioDevice", reinterpret_cast<void*>(api->CloseAudioDevice)},
      {"SDL_PauseAudioDevice", reinterpret_cast<void*>(api->PauseAudioDevice)},
      {"SDL_LockAudioDevice", reinterpret_cast<void*>(api->LockAudioDevice)},
      {"SDL_UnlockAudioDevice", reinterpret_cast<void*>(api->UnlockAudioDevice)},
      {"SDL_GetAudioDeviceStatus", reinterpret_cast<void*>(api->GetAudioDeviceStatus)},
      {"SDL_GetNumAudioDevices", reinterpret_cast<void*>(api->GetNumAudioDevices)},
      {"SDL_GetAudioDeviceName", reinterpret_cast<void*>(api->GetAudioDeviceName)},
      {"SDL_GetDefaultAudioInfo", reinterpret_cast<void*>(api->GetDefaultAudioInfo)},
      {"SDL_free", reinterpret_cast<void*>(api->Free)},
      {"SDL_SetHint", reinterpret_cast<void*>(api->SetHint)},
      {"SDL_GetCurrentAudioDriver", reinterpret_cast<void*>(api->GetCurrentAudioDriver)},
  };
  EXPECT_EQ(sizeof(SdlAudioApi), std::size(entries) * sizeof(void*))
      << "the table has an entry this test does not check";
  for (const auto& [name, entry] : entries) {
    EXPECT_NE(entry, nullptr) << name;
    EXPECT_EQ(entry, dlsym(library, name)) << name;
  }
  dlclose(library);
}

}  // namespace
