#include "sdl_audio_api.h"

#include "library_at_first_use.h"

namespace {

const LoadedLibrary<SdlAudioApi>& Loaded() {
  return LibraryAtFirstUse<SdlAudioApi>(
      "libSDL2-2.0.so.0", [](SymbolResolver& resolve, SdlAudioApi& api) {
        return resolve("SDL_InitSubSystem", &api.InitSubSystem) &&
               resolve("SDL_QuitSubSystem", &api.QuitSubSystem) &&
               resolve("SDL_OpenAudioDevice", &api.OpenAudioDevice) &&
               resolve("SDL_CloseAudioDevice", &api.CloseAudioDevice) &&
               resolve("SDL_PauseAudioDevice", &api.PauseAudioDevice) &&
               resolve("SDL_LockAudioDevice", &api.LockAudioDevice) &&
               resolve("SDL_UnlockAudioDevice", &api.UnlockAudioDevice) &&
               resolve("SDL_GetAudioDeviceStatus", &api.GetAudioDeviceStatus) &&
               resolve("SDL_GetNumAudioDevices", &api.GetNumAudioDevices) &&
               resolve("SDL_GetAudioDeviceName", &api.GetAudioDeviceName) &&
               resolve("SDL_GetDefaultAudioInfo", &api.GetDefaultAudioInfo) &&
               resolve("SDL_free", &api.Free) && resolve("SDL_SetHint", &api.SetHint) &&
               resolve("SDL_GetCurrentAudioDriver", &api.GetCurrentAudioDriver);
      });
}

}  // namespace

const SdlAudioApi* SdlAudio() {
  return Loaded().Get();
}

const char* SdlAudioError() {
  return Loaded().error.c_str();
}
