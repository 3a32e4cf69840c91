// A private PulseAudio daemon for tests: its own runtime directory and home, no user
// configuration, one null sink "cap" at 44100 Hz s16le stereo, reached only through its own
// socket. Tests that need a real sound server start one, point this process at it (PULSE_SERVER)
// and record the sink's monitor with parec. The user's own server and speakers are never reached.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

class PrivatePulse {
 public:
  PrivatePulse() = default;
  PrivatePulse(const PrivatePulse&) = delete;
  PrivatePulse& operator=(const PrivatePulse&) = delete;
  ~PrivatePulse();

  // Starts the daemon and waits until it answers. On failure returns false with the reason
  // (for a test skip message) and leaves nothing running.
  bool Start(std::string* why);
  void Stop();

  // "unix:<runtime dir>/native"; empty until started.
  const std::string& ServerAddress() const { return server_; }

  // Points this process (and its children) at the daemon and turns client autospawn off.
  void ExportEnvironment() const;

  // Start, then ExportEnvironment and select SDL's PulseAudio driver for this process.
  bool StartForSdl(std::string* why);

  // Environment entries ("NAME=value") for a child process that should use the daemon.
  std::vector<std::string> ClientEnvironment() const;

  // Records the null sink's monitor (s16le, 44100 Hz, stereo, raw) into path until stopped.
  bool StartRecording(const std::string& path, std::string* why);
  void StopRecording();

 private:
  bool RunPactl(const std::vector<std::string>& args) const;

  pid_t daemon_pid_ = -1;
  pid_t recorder_pid_ = -1;
  std::string runtime_dir_;
  std::string home_dir_;
  std::string client_config_;
  std::string server_;
};
