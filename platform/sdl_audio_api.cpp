#include "sdl_audio_api.h"

#include <dlfcn.h>

#include <string>

namespace {

constexpr const char* kLibraryName = "libSDL2-2.0.so.0";

struct LoadedApi {
  SdlAudioApi api{};
  bool complete = false;
  std::string error;
};

template <typename Function>
bool Resolve(void* library, const char* name, Function* entry, std::string* error) {
  void* symbol = dlsym(library, name);
  if (symbol == nullptr) {
    *error = std::string(kLibraryName) + " lacks " + name;
    return false;
  }
  *entry = reinterpret_cast<Function>(symbol);
  return true;
}

LoadedApi Load() {
  LoadedApi loaded;
  // Local: SDL's symbols stay out of the global namespace, where they could pre-empt others'.
  void* library = dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* why = dlerror();
    loaded.error = why != nullptr ? why : std::string("cannot load ") + kLibraryName;
    return loaded;
  }
  SdlAudioApi& api = loaded.api;
  std::string* error = &loaded.error;
  loaded.complete =
      Resolve(library, "SDL_InitSubSystem", &api.InitSubSystem, error) &&
      Resolve(library, "SDL_QuitSubSystem", &api.QuitSubSystem, error) &&
      Resolve(library, "SDL_OpenAudioDevice", &api.OpenAudioDevice, error) &&
      Resolve(library, "SDL_CloseAudioDevice", &api.CloseAudioDevice, error) &&
      Resolve(library, "SDL_PauseAudioDevice", &api.PauseAudioDevice, error) &&
      Resolve(library, "SDL_LockAudioDevice", &api.LockAudioDevice, error) &&
      Resolve(library, "SDL_UnlockAudioDevice", &api.UnlockAudioDevice, error) &&
      Resolve(library, "SDL_GetAudioDeviceStatus", &api.GetAudioDeviceStatus, error) &&
      Resolve(library, "SDL_GetNumAudioDevices", &api.GetNumAudioDevices, error) &&
      Resolve(library, "SDL_SetHint", &api.SetHint, error) &&
      Resolve(library, "SDL_GetCurrentAudioDriver", &api.GetCurrentAudioDriver, error);
  if (!loaded.complete) {
    // A half table is never handed out, so nothing can reach the library any more.
    loaded.api = SdlAudioApi{};
    dlclose(library);
  }
  return loaded;
}

// Loaded on first use; C++ makes the initialisation of a function-local static thread-safe.
const LoadedApi& Loaded() {
  static const LoadedApi loaded = Load();
  return loaded;
}

}  // namespace

const SdlAudioApi* SdlAudio() {
  const LoadedApi& loaded = Loaded();
  return loaded.complete ? &loaded.api : nullptr;
}

const char* SdlAudioError() {
  return Loaded().error.c_str();
}
