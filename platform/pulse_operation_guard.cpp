// libpulse's pa_operation_unref, made safe for a null operation, in every program that may load
// SDL2.
//
// SDL 2.26's PulseAudio driver starts a thread at every start of its audio that subscribes to the
// server's device events and releases the subscription's request without looking whether it was
// made. A server that goes away after SDL has connected but before that thread subscribes (it is
// stopped, crashes or restarts while an output opens) leaves the request null, and libpulse's
// assertion on it aborts the whole program ("Assertion 'o' failed ... pa_operation_unref()").
//
// The program defines the function itself and exports it (platform/CMakeLists.txt). SDL is loaded
// later and the dynamic linker binds its libpulse calls to the program's definitions first, so
// SDL's release comes here: a null operation is ignored, every other goes to libpulse's own
// function. Without libpulse loaded there is no operation to release.
#include <dlfcn.h>

extern "C" {

struct pa_operation;

void pa_operation_unref(pa_operation* operation) {
  using Unref = void (*)(pa_operation*);
  static const Unref libpulse_unref = []() -> Unref {
    void* libpulse = dlopen("libpulse.so.0", RTLD_NOW | RTLD_NOLOAD);
    if (libpulse == nullptr) return nullptr;
    // Looked up in libpulse and what it links, never in the program: this very function.
    return reinterpret_cast<Unref>(dlsym(libpulse, "pa_operation_unref"));
  }();
  if (operation == nullptr || libpulse_unref == nullptr) return;
  libpulse_unref(operation);
}

}  // extern "C"
