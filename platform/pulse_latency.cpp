#include "pulse_latency.h"

#include <dlfcn.h>
#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <pulse/proplist.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <type_traits>

namespace {

// libpulse's functions, from the copy SDL loaded; all null when it is not loaded.
struct Libpulse {
  decltype(&pa_mainloop_new) mainloop_new = nullptr;
  decltype(&pa_mainloop_get_api) mainloop_get_api = nullptr;
  decltype(&pa_mainloop_prepare) mainloop_prepare = nullptr;
  decltype(&pa_mainloop_poll) mainloop_poll = nullptr;
  decltype(&pa_mainloop_dispatch) mainloop_dispatch = nullptr;
  decltype(&pa_mainloop_free) mainloop_free = nullptr;
  decltype(&pa_context_new) context_new = nullptr;
  decltype(&pa_context_connect) context_connect = nullptr;
  decltype(&pa_context_get_state) context_get_state = nullptr;
  decltype(&pa_context_disconnect) context_disconnect = nullptr;
  decltype(&pa_context_unref) context_unref = nullptr;
  decltype(&pa_context_get_sink_input_info_list) sink_inputs = nullptr;
  decltype(&pa_proplist_gets) proplist_gets = nullptr;
  decltype(&pa_operation_unref) operation_unref = nullptr;

  bool Load() {
    void* library = dlopen("libpulse.so.0", RTLD_NOW | RTLD_NOLOAD);
    if (library == nullptr) return false;
    bool all = true;
    auto find = [&](auto& function, const char* name) {
      function =
          reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(library, name));
      all = all && function != nullptr;
    };
    find(mainloop_new, "pa_mainloop_new");
    find(mainloop_get_api, "pa_mainloop_get_api");
    find(mainloop_prepare, "pa_mainloop_prepare");
    find(mainloop_poll, "pa_mainloop_poll");
    find(mainloop_dispatch, "pa_mainloop_dispatch");
    find(mainloop_free, "pa_mainloop_free");
    find(context_new, "pa_context_new");
    find(context_connect, "pa_context_connect");
    find(context_get_state, "pa_context_get_state");
    find(context_disconnect, "pa_context_disconnect");
    find(context_unref, "pa_context_unref");
    find(sink_inputs, "pa_context_get_sink_input_info_list");
    find(proplist_gets, "pa_proplist_gets");
    find(operation_unref, "pa_operation_unref");
    dlclose(library);  // SDL's reference keeps it loaded
    return all;
  }
};

struct Query {
  const Libpulse* pulse = nullptr;
  const char* stream_name = nullptr;
  std::string pid;
  bool listed = false;
  uint32_t index = 0;
  int64_t usec = -1;
};

void SinkInputSeen(pa_context* /*context*/, const pa_sink_input_info* info, int eol, void* data) {
  auto& query = *static_cast<Query*>(data);
  if (eol != 0 || info == nullptr) {
    query.listed = true;
    return;
  }
  const char* name = query.pulse->proplist_gets(info->proplist, PA_PROP_MEDIA_NAME);
  const char* pid = query.pulse->proplist_gets(info->proplist, PA_PROP_APPLICATION_PROCESS_ID);
  if (name == nullptr || std::strcmp(name, query.stream_name) != 0) return;
  if (pid != nullptr && query.pid != pid) return;
  // A stream of an output being closed may still be listed beside the new one.
  if (query.usec >= 0 && info->index < query.index) return;
  query.index = info->index;
  query.usec = static_cast<int64_t>(info->buffer_usec + info->sink_usec);
}

}  // namespace

int64_t PulsePlaybackLatencyUsec(const char* stream_name, std::chrono::milliseconds timeout) {
  Libpulse pulse;
  if (!pulse.Load()) return -1;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  pa_mainloop* loop = pulse.mainloop_new();
  if (loop == nullptr) return -1;
  pa_context* context = pulse.context_new(pulse.mainloop_get_api(loop), "zelkgen latency");
  Query query{&pulse, stream_name, std::to_string(getpid())};
  pa_operation* listing = nullptr;
  if (context != nullptr &&
      pulse.context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
    while (!query.listed) {
      const pa_context_state_t state = pulse.context_get_state(context);
      if (!PA_CONTEXT_IS_GOOD(state)) break;
      if (state == PA_CONTEXT_READY && listing == nullptr) {
        listing = pulse.sink_inputs(context, SinkInputSeen, &query);
        if (listing == nullptr) break;
      }
      const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || pulse.mainloop_prepare(loop, static_cast<int>(left.count())) < 0 ||
          pulse.mainloop_poll(loop) < 0 || pulse.mainloop_dispatch(loop) < 0) {
        break;
      }
    }
  }
  if (listing != nullptr) pulse.operation_unref(listing);
  if (context != nullptr) {
    pulse.context_disconnect(context);
    pulse.context_unref(context);
  }
  pulse.mainloop_free(loop);
  return query.listed ? query.usec : -1;
}
