#include "alsa_quiet.h"

#include <dlfcn.h>

namespace {

// The handler type of snd_lib_error_set_handler, without ALSA's headers.
using AlsaErrorHandler = void (*)(const char* file, int line, const char* function, int err,
                                  const char* format, ...);

extern "C" void DropAlsaError(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

void QuietAlsaErrors() {
  static const bool quiet = [] {
    // Kept loaded: SDL's ALSA driver opens the same library and its handler stays set.
    void* alsa = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
    if (alsa == nullptr) return false;
    using SetHandler = int (*)(AlsaErrorHandler);
    const auto set = reinterpret_cast<SetHandler>(dlsym(alsa, "snd_lib_error_set_handler"));
    return set != nullptr && set(DropAlsaError) == 0;
  }();
  (void)quiet;
}
