// A private PulseAudio daemon for tests: its own runtime directory and home, no user
// configuration, one sink "cap" at 44100 Hz s16le stereo, reached only through its own socket.
// Tests that need a real sound server start one, point this process at it (PULSE_SERVER) and
// record the sink's monitor with parec. The user's own server and speakers are never reached.
// A test may kill the daemon as a crash would and start a new one on the same socket.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

// The kind of sink "cap" is.
enum class PulseSink {
  // module-null-sink. After it has been idle, it holds a new stream back for up to 2 s.
  Null,
  // module-pipe-sink, clocked by the system clock, into a FIFO nobody reads: it takes every
  // stream at once and in real time, as a sound card's sink does.
  ClockedPipe,
};

class PrivatePulse {
 public:
  PrivatePulse() = default;
  PrivatePulse(const PrivatePulse&) = delete;
  PrivatePulse& operator=(const PrivatePulse&) = delete;
  ~PrivatePulse();

  // Starts the daemon and waits until it answers. On failure returns false with the reason
  // (for a test skip message) and leaves nothing running.
  bool Start(std::string* why, PulseSink sink = PulseSink::Null);
  void Stop();

  // Ends the daemon at once (SIGKILL), as a crash would, and the recording with it; the socket's
  // folder stays.
  void Kill();
  // Starts a new daemon, with the same sink, on the socket of the one killed, and waits until it
  // answers.
  bool Restart(std::string* why);

  // Stops the daemon (SIGSTOP), as a hung or overloaded server stops answering, and lets it go
  // on (SIGCONT). Stop and the destructor let a frozen daemon go on first.
  bool Freeze() const;
  bool Thaw() const;

  // Adds a second null sink name (44100 Hz s16le stereo) that outputs are listed by as description.
  bool LoadSink(const std::string& name, const std::string& description) const;

  // Unloads every null sink (the module of "cap" and LoadSink's), leaving a server that answers
  // with no output at all and no default.
  bool UnloadSinks() const;

  // Suspends the sink, as a server does with an idle or busy card, or resumes it.
  bool SuspendSink(bool suspended) const;

  // What `pactl list sink-inputs` prints.
  std::string SinkInputs() const;

  // "unix:<runtime dir>/native"; empty until started.
  const std::string& ServerAddress() const { return server_; }

  // Points this process (and its children) at the daemon and turns client autospawn off.
  void ExportEnvironment() const;

  // Start, then ExportEnvironment and select SDL's PulseAudio driver for this process.
  bool StartForSdl(std::string* why, PulseSink sink = PulseSink::Null);

  // Environment entries ("NAME=value") for a child process that should use the daemon.
  std::vector<std::string> ClientEnvironment() const;

  // Records the null sink's monitor (s16le, 44100 Hz, stereo, raw) into path until stopped.
  // A recorder that must lose nothing on a busy machine asks for a longer latency than 20 ms.
  bool StartRecording(const std::string& path, std::string* why, int latency_ms = 20);
  void StopRecording();

 private:
  bool RunPactl(const std::vector<std::string>& args) const;
  bool Launch(std::string* why);

  pid_t daemon_pid_ = -1;
  pid_t recorder_pid_ = -1;
  std::string runtime_dir_;
  std::string home_dir_;
  std::string client_config_;
  std::string server_;
  PulseSink sink_ = PulseSink::Null;
};
