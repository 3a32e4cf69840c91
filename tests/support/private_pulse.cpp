#include "private_pulse.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "child_process.h"

namespace {

std::string MakeTempDir(const char* prefix) {
  std::string pattern = (std::filesystem::temp_directory_path() / prefix).string() + "XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) return {};
  return pattern;
}

}  // namespace

PrivatePulse::~PrivatePulse() {
  Stop();
}

std::vector<std::string> PrivatePulse::ClientEnvironment() const {
  return {"PULSE_SERVER=" + server_, "PULSE_RUNTIME_PATH=" + runtime_dir_,
          "PULSE_CLIENTCONFIG=" + client_config_, "PULSE_SINK=cap"};
}

void PrivatePulse::ExportEnvironment() const {
  for (const auto& entry : ClientEnvironment()) {
    const size_t eq = entry.find('=');
    setenv(entry.substr(0, eq).c_str(), entry.substr(eq + 1).c_str(), 1);
  }
}

bool PrivatePulse::StartForSdl(std::string* why, PulseSink sink) {
  if (!Start(why, sink)) return false;
  ExportEnvironment();
  setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
  return true;
}

bool PrivatePulse::RunPactl(const std::vector<std::string>& args) const {
  std::vector<std::string> argv = {"pactl"};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProgram(argv, ClientEnvironment(), home_dir_, std::chrono::seconds(10)).status == 0;
}

bool PrivatePulse::Start(std::string* why, PulseSink sink) {
  Stop();
  for (const char* program : {"pulseaudio", "pactl", "parec"}) {
    if (!OnPath(program)) {
      *why = std::string(program) +
             " is not installed (a sound server package other than "
             "pulseaudio may be present)";
      return false;
    }
  }
  runtime_dir_ = MakeTempDir("zelkgen-pulse-run-");
  home_dir_ = MakeTempDir("zelkgen-pulse-home-");
  if (runtime_dir_.empty() || home_dir_.empty()) {
    *why = "cannot create temporary directories";
    Stop();
    return false;
  }
  chmod(runtime_dir_.c_str(), 0700);
  client_config_ = home_dir_ + "/client.conf";
  std::ofstream(client_config_) << "autospawn = no\n";
  server_ = "unix:" + runtime_dir_ + "/native";
  sink_ = sink;
  return Launch(why);
}

bool PrivatePulse::Restart(std::string* why) {
  if (runtime_dir_.empty()) {
    *why = "no daemon was started";
    return false;
  }
  return Launch(why);
}

void PrivatePulse::Kill() {
  StopRecording();
  if (daemon_pid_ > 0) {
    kill(daemon_pid_, SIGKILL);
    WaitForExit(daemon_pid_, std::chrono::seconds(5));
  }
}

bool PrivatePulse::Freeze() const {
  return daemon_pid_ > 0 && kill(daemon_pid_, SIGSTOP) == 0;
}

bool PrivatePulse::Thaw() const {
  return daemon_pid_ > 0 && kill(daemon_pid_, SIGCONT) == 0;
}

bool PrivatePulse::UnloadSinks() const {
  return RunPactl(
      {"unload-module", sink_ == PulseSink::Null ? "module-null-sink" : "module-pipe-sink"});
}

bool PrivatePulse::SuspendSink(bool suspended) const {
  return RunPactl({"suspend-sink", "cap", suspended ? "1" : "0"});
}

std::string PrivatePulse::SinkInputs() const {
  return RunProgram({"pactl", "list", "sink-inputs"}, ClientEnvironment(), home_dir_,
                    std::chrono::seconds(10))
      .out;
}

bool PrivatePulse::Launch(std::string* why) {
  const std::string sink =
      sink_ == PulseSink::Null
          ? "module-null-sink sink_name=cap"
          : "module-pipe-sink sink_name=cap use_system_clock_for_timing=yes file=" + home_dir_ +
                "/cap.fifo";
  const std::vector<std::string> argv = {
      "pulseaudio",
      "-n",
      "--daemonize=no",
      "--exit-idle-time=-1",
      "--disable-shm=yes",
      "--use-pid-file=no",
      "--system=no",
      "--load=" + sink + " rate=44100 format=s16le channels=2",
      "--load=module-native-protocol-unix socket=" + runtime_dir_ + "/native auth-anonymous=1"};
  daemon_pid_ = SpawnChild(
      argv,
      {"HOME=" + home_dir_, "PULSE_RUNTIME_PATH=" + runtime_dir_, "XDG_CONFIG_HOME=" + home_dir_,
       "XDG_RUNTIME_DIR=" + runtime_dir_, "PULSE_STATE_PATH=" + home_dir_},
      "");
  if (daemon_pid_ <= 0) {
    *why = "pulseaudio could not be started";
    Stop();
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    if (WaitForExit(daemon_pid_, std::chrono::milliseconds(0)) >= 0) {
      *why = "pulseaudio exited at start-up";
      Stop();
      return false;
    }
    if (access((runtime_dir_ + "/native").c_str(), F_OK) == 0 && RunPactl({"info"})) {
      if (!RunPactl({"set-default-sink", "cap"})) {
        *why = "pactl could not select the sink";
        Stop();
        return false;
      }
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  *why = "pulseaudio did not answer within 10 s";
  Stop();
  return false;
}

bool PrivatePulse::LoadSink(const std::string& name, const std::string& description) const {
  return RunPactl({"load-module", "module-null-sink", "sink_name=" + name, "rate=44100",
                   "format=s16le", "channels=2",
                   "sink_properties=device.description=" + description});
}

bool PrivatePulse::StartRecording(const std::string& path, std::string* why, int latency_ms) {
  StopRecording();
  recorder_pid_ =
      SpawnChild({"parec", "-d", "cap.monitor", "--format=s16le", "--rate=44100", "--channels=2",
                  "--raw", "--latency-msec=" + std::to_string(latency_ms)},
                 ClientEnvironment(), path);
  if (recorder_pid_ <= 0) {
    *why = "parec could not be started";
    return false;
  }
  // parec needs a moment to connect before what is played reaches the file.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  if (WaitForExit(recorder_pid_, std::chrono::milliseconds(0)) >= 0) {
    *why = "parec exited at once";
    return false;
  }
  return true;
}

void PrivatePulse::StopRecording() {
  if (recorder_pid_ > 0) {
    // SIGINT lets parec write out what it still holds.
    kill(recorder_pid_, SIGINT);
    if (WaitForExit(recorder_pid_, std::chrono::seconds(1)) < 0) TerminateChild(recorder_pid_);
  }
}

void PrivatePulse::Stop() {
  Thaw();
  StopRecording();
  TerminateChild(daemon_pid_);
  std::error_code ignored;
  if (!runtime_dir_.empty()) std::filesystem::remove_all(runtime_dir_, ignored);
  if (!home_dir_.empty()) std::filesystem::remove_all(home_dir_, ignored);
  runtime_dir_.clear();
  home_dir_.clear();
  server_.clear();
}
