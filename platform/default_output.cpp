#include "default_output.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "alsa_quiet.h"
#include "app_identity.h"
#include "pulse_sinks.h"

namespace {

// SDL's PulseAudio driver waits for the server in a poll that closing the device does not
// interrupt: with a suspended or frozen server a close would wait as long as the server does. A
// signal whose handler does nothing makes that poll return, and the audio thread then sees the
// close. SIGURG is otherwise ignored by default and unused here.
constexpr int kWakeSignal = SIGURG;
// A close normally takes up to a device buffer and a round trip to the server.
constexpr auto kWakeAfter = std::chrono::milliseconds(100);

void DoNothing(int) {}

// SDL's starts and stops of its audio, and its device opens and closes, come from two threads (the
// output thread and the tone generator's callers) and are not safe beside each other.
std::mutex& SdlAudioMutex() {
  static std::mutex* const mutex = new std::mutex;  // never destroyed: see output_thread.h
  return *mutex;
}

void InstallWakeHandler() {
  static const bool installed = [] {
    struct sigaction current {};
    if (sigaction(kWakeSignal, nullptr, &current) != 0) return false;
    const bool handled = (current.sa_flags & SA_SIGINFO) != 0 ||
                         (current.sa_handler != SIG_DFL && current.sa_handler != SIG_IGN);
    if (handled) return true;  // someone's handler interrupts the wait just as well
    struct sigaction wake {};
    wake.sa_handler = DoNothing;
    sigemptyset(&wake.sa_mask);
    return sigaction(kWakeSignal, &wake, nullptr) == 0;
  }();
  (void)installed;
}

// SDL names its playback threads "SDLAudioP" and the device's number; used when the callback has
// not run yet and so has not told its thread.
pid_t FindAudioThread(SDL_AudioDeviceID device) {
  const std::string wanted = "SDLAudioP" + std::to_string(device) + "\n";
  DIR* tasks = opendir("/proc/self/task");
  if (tasks == nullptr) return 0;
  pid_t found = 0;
  while (const dirent* entry = readdir(tasks)) {
    if (entry->d_name[0] == '.') continue;
    const std::string path = std::string("/proc/self/task/") + entry->d_name + "/comm";
    char name[32] = {};
    if (FILE* comm = std::fopen(path.c_str(), "r")) {
      const size_t read = std::fread(name, 1, sizeof name - 1, comm);
      std::fclose(comm);
      if (wanted.compare(0, std::string::npos, name, read) == 0) {
        found = static_cast<pid_t>(std::atoi(entry->d_name));
        break;
      }
    }
  }
  closedir(tasks);
  return found;
}

// While alive, wakes the output's audio thread every kWakeAfter, starting kWakeAfter from now.
class CloseWaker {
 public:
  explicit CloseWaker(const DefaultOutput& output)
      : thread_([this, &output] {
          std::unique_lock<std::mutex> lock(mutex_);
          while (!cv_.wait_for(lock, kWakeAfter, [this] { return done_; })) {
            pid_t audio = output.audio_thread.load(std::memory_order_relaxed);
            if (audio == 0) audio = FindAudioThread(output.device);
            if (audio != 0) tgkill(getpid(), audio, kWakeSignal);
          }
        }) {}
  ~CloseWaker() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    cv_.notify_one();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
  std::thread thread_;  // last: it uses the members above
};

// SDL's audio thread: no allocation, no lock, no logging.
void CountingCallback(void* userdata, Uint8* buffer, int length) {
  auto* output = static_cast<DefaultOutput*>(userdata);
  if (output->audio_thread.load(std::memory_order_relaxed) == 0) {
    output->audio_thread.store(gettid(), std::memory_order_relaxed);
  }
  output->buffers.fetch_add(1, std::memory_order_relaxed);
  output->callback(output->userdata, buffer, length);
}

// The application's name and icon for the mixer. libpulse adds every PULSE_PROP_* variable to a
// client's properties; SDL has no hint for the icon. A value the user set is kept, as SDL keeps
// hints given in the environment.
//
// And real-time scheduling for the audio thread where the desktop grants it: with this hint SDL
// asks rtkit (or the desktop portal's Realtime interface) for SCHED_RR instead of a nice level,
// so that a busy machine does not make the thread late. Without rtkit nothing changes.
void PrepareSdl(const SdlAudioApi& sdl) {
  static const bool icon_named = [] {
    return setenv("PULSE_PROP_application.icon_name", kAppIconName, 0) == 0;
  }();
  (void)icon_named;
  sdl.SetHint(SDL_HINT_APP_NAME, kAppName);
  sdl.SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, kAppName);
  sdl.SetHint(SDL_HINT_THREAD_FORCE_REALTIME_TIME_CRITICAL, "1");
}

// The names of the outputs SDL lists; its audio subsystem is running.
std::vector<std::string> OutputNames(const SdlAudioApi& sdl) {
  std::vector<std::string> names;
  const int count = sdl.GetNumAudioDevices(0);
  for (int k = 0; k < count; ++k) {
    if (const char* name = sdl.GetAudioDeviceName(k, 0)) names.emplace_back(name);
  }
  return names;
}

// The system's names of the outputs SDL lists as names: a PulseAudio sink's own name where SDL's
// driver listed it as that name, else empty.
std::vector<std::string> SystemNames(const SdlAudioApi& sdl,
                                     const std::vector<std::string>& names) {
  std::vector<std::string> system_names(names.size());
  const char* driver = sdl.GetCurrentAudioDriver();
  if (driver == nullptr || std::strcmp(driver, "pulseaudio") != 0) return system_names;
  const std::vector<PulseSinkName> sinks = PulseSinksListed();
  const std::vector<std::string> sdl_names = SdlNamesOf(sinks);
  for (size_t k = 0; k < names.size(); ++k) {
    for (size_t j = 0; j < sinks.size(); ++j) {
      if (sdl_names[j] == names[k]) system_names[k] = sinks[j].name;
    }
  }
  return system_names;
}

}  // namespace

std::vector<std::string> OutputsNamed(const std::vector<std::string>& names,
                                      const std::string& wanted) {
  for (const std::string& name : names) {
    if (name == wanted) return {name};
  }
  const auto lower = [](std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
  };
  std::vector<std::string> found;
  for (const std::string& name : names) {
    if (!wanted.empty() && lower(name).find(lower(wanted)) != std::string::npos) {
      found.push_back(name);
    }
  }
  return found;
}

OutputList ListOutputs() {
  OutputList list;
  const SdlAudioApi* sdl = SdlAudio();
  if (sdl == nullptr) return list;
  const std::lock_guard<std::mutex> lock(SdlAudioMutex());
  QuietAlsaErrors();
  PrepareSdl(*sdl);
  if (sdl->InitSubSystem(SDL_INIT_AUDIO) != 0) return list;
  list.ok = true;
  list.names = OutputNames(*sdl);
  list.system_names = SystemNames(*sdl, list.names);
  char* default_name = nullptr;
  SDL_AudioSpec spec{};
  if (sdl->GetDefaultAudioInfo(&default_name, &spec, 0) == 0 && default_name != nullptr) {
    list.default_name = default_name;
    sdl->Free(default_name);
  }
  sdl->QuitSubSystem(SDL_INIT_AUDIO);
  return list;
}

OpenResult OpenDefaultOutput(const SDL_AudioSpec& wanted, const char* stream_name,
                             DefaultOutput* output, const char* driver, const std::string& device) {
  const SdlAudioApi* sdl = SdlAudio();
  if (sdl == nullptr) return OpenResult::NoDevice;
  const std::lock_guard<std::mutex> lock(SdlAudioMutex());
  InstallWakeHandler();
  QuietAlsaErrors();
  PrepareSdl(*sdl);
  if (driver != nullptr) sdl->SetHint(SDL_HINT_AUDIODRIVER, driver);
  const int started = sdl->InitSubSystem(SDL_INIT_AUDIO);
  if (driver != nullptr) sdl->SetHint(SDL_HINT_AUDIODRIVER, nullptr);
  // No driver could start: no sound server to connect to and no usable sound system.
  if (started != 0) return OpenResult::NoDevice;
  // SDL opens the default for a name it does not list; the chosen output is that one or none.
  if (!device.empty()) {
    const std::vector<std::string> names = OutputNames(*sdl);
    if (std::find(names.begin(), names.end(), device) == names.end()) {
      sdl->QuitSubSystem(SDL_INIT_AUDIO);
      return OpenResult::NoDevice;
    }
  }
  sdl->SetHint(SDL_HINT_AUDIO_DEVICE_STREAM_NAME, stream_name);
  output->callback = wanted.callback;
  output->userdata = wanted.userdata;
  output->buffers.store(0, std::memory_order_relaxed);
  output->audio_thread.store(0, std::memory_order_relaxed);
  SDL_AudioSpec counted = wanted;
  counted.callback = CountingCallback;
  counted.userdata = output;
  SDL_AudioSpec obtained{};
  const SDL_AudioDeviceID opened =
      sdl->OpenAudioDevice(device.empty() ? nullptr : device.c_str(), 0, &counted, &obtained, 0);
  if (opened == 0) {
    const bool no_devices = sdl->GetNumAudioDevices(0) == 0;
    sdl->QuitSubSystem(SDL_INIT_AUDIO);
    output->callback = nullptr;
    output->userdata = nullptr;
    return no_devices ? OpenResult::NoDevice : OpenResult::DriverFailed;
  }
  output->sdl = sdl;
  output->device = opened;
  output->driver = sdl->GetCurrentAudioDriver();
  output->obtained = obtained;
  return OpenResult::Opened;
}

void CloseDefaultOutput(DefaultOutput* output, bool wake_stuck_thread) {
  if (output->device == 0) return;
  const std::lock_guard<std::mutex> lock(SdlAudioMutex());
  if (wake_stuck_thread) {
    const CloseWaker waker(*output);
    output->sdl->CloseAudioDevice(output->device);  // joins SDL's audio thread
  } else {
    output->sdl->CloseAudioDevice(output->device);
  }
  output->sdl->QuitSubSystem(SDL_INIT_AUDIO);
  output->sdl = nullptr;
  output->device = 0;
  output->obtained = SDL_AudioSpec{};
  output->driver = nullptr;
  output->callback = nullptr;
  output->userdata = nullptr;
  output->buffers.store(0, std::memory_order_relaxed);
  output->audio_thread.store(0, std::memory_order_relaxed);
}

bool DefaultOutputLost(const DefaultOutput& output) {
  return output.device != 0 && output.sdl->GetAudioDeviceStatus(output.device) == SDL_AUDIO_STOPPED;
}
