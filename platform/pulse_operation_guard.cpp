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
//
// And the server's description as SDL reads it, made safe for a server with no output: the same
// driver copies the name of the server's default sink with strlen, which is null when the server
// has no sink at all (every sink unloaded, none loaded), and the program crashed at the start of
// SDL's audio or when the last sink went away during a run. The program's
// pa_context_get_server_info hands SDL's callback the description with an empty name instead of a
// null one: SDL then lists no output and fails to open one, the no-device error of the program.
#include <dlfcn.h>
#include <pulse/introspect.h>

#include <atomic>
#include <cstddef>
#include <utility>

#include "pulse_sinks.h"

namespace {

// Looked up in libpulse and what it links, never in the program: the functions here.
template <typename Function>
Function Libpulse(const char* name) {
  void* libpulse = dlopen("libpulse.so.0", RTLD_NOW | RTLD_NOLOAD);
  if (libpulse == nullptr) return nullptr;
  return reinterpret_cast<Function>(dlsym(libpulse, name));
}

// The callers' callbacks, one slot each; a handful of distinct ones at most (SDL's), so that no
// request needs memory of its own that a cancelled request would never give back.
constexpr size_t kCallbackSlots = 8;
template <typename Callback>
std::atomic<Callback> held_callbacks[kCallbackSlots];

template <size_t Slot>
void ServerInfoWithNames(pa_context* context, const pa_server_info* info, void* userdata) {
  const pa_server_info_cb_t callback = held_callbacks<pa_server_info_cb_t>[Slot].load();
  if (info == nullptr) {
    callback(context, info, userdata);
    return;
  }
  pa_server_info named = *info;
  if (named.default_sink_name == nullptr) named.default_sink_name = "";
  if (named.default_source_name == nullptr) named.default_source_name = "";
  callback(context, &named, userdata);
}

template <size_t Slot>
void SinkInfoRecorded(pa_context* context, const pa_sink_info* info, int eol, void* userdata) {
  if (eol == 0 && info != nullptr && info->name != nullptr) {
    RecordPulseSink({info->name, info->description != nullptr ? info->description : ""});
  }
  held_callbacks<pa_sink_info_cb_t>[Slot].load()(context, info, eol, userdata);
}

// The wrapper of each slot, by the callback's type.
template <typename Callback, size_t... Slot>
constexpr Callback kWrappers[] = {ServerInfoWithNames<Slot>...};
template <size_t... Slot>
constexpr pa_sink_info_cb_t kWrappers<pa_sink_info_cb_t, Slot...>[] = {SinkInfoRecorded<Slot>...};
template <typename Callback, size_t... Slot>
constexpr const Callback* Wrappers(std::index_sequence<Slot...>) {
  return kWrappers<Callback, Slot...>;
}

// The wrapper of the slot kept for callback, the caller's own callback when every slot holds
// another.
template <typename Callback>
Callback SlotFor(Callback callback) {
  if (callback == nullptr) return callback;
  const Callback* wrappers = Wrappers<Callback>(std::make_index_sequence<kCallbackSlots>());
  for (size_t slot = 0; slot < kCallbackSlots; ++slot) {
    Callback held = held_callbacks<Callback>[slot].load();
    if (held == nullptr && held_callbacks<Callback>[slot].compare_exchange_strong(held, callback)) {
      return wrappers[slot];
    }
    if (held == callback) return wrappers[slot];
  }
  return callback;
}

}  // namespace

extern "C" {

void pa_operation_unref(pa_operation* operation) {
  using Unref = void (*)(pa_operation*);
  static const Unref libpulse_unref = Libpulse<Unref>("pa_operation_unref");
  if (operation == nullptr || libpulse_unref == nullptr) return;
  libpulse_unref(operation);
}

pa_operation* pa_context_get_server_info(pa_context* context, pa_server_info_cb_t callback,
                                         void* userdata) {
  using Get = pa_operation* (*)(pa_context*, pa_server_info_cb_t, void*);
  static const Get libpulse_get = Libpulse<Get>("pa_context_get_server_info");
  // Called only by code that has libpulse loaded already.
  if (libpulse_get == nullptr) return nullptr;
  return libpulse_get(context, SlotFor(callback), userdata);
}

pa_operation* pa_context_get_sink_info_list(pa_context* context, pa_sink_info_cb_t callback,
                                            void* userdata) {
  using List = pa_operation* (*)(pa_context*, pa_sink_info_cb_t, void*);
  static const List libpulse_list = Libpulse<List>("pa_context_get_sink_info_list");
  if (libpulse_list == nullptr) return nullptr;
  // SDL lists the sinks once, when its audio starts; the record is that listing.
  ForgetPulseSinks();
  return libpulse_list(context, SlotFor(callback), userdata);
}

}  // extern "C"
