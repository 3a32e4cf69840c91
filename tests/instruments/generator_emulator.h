// Stand-ins for signal generators, answering on a pseudo-terminal (FY6x00, JDS6600) or a loopback
// TCP port (SCPI) as the devices do, from their protocols. Each logs every command with the time
// it came, keeps the state the commands set, and can misbehave: slow replies, replies that never
// come, an error reply, a firmware that reads WMF as hertz, a JDS6600 unit with its registers
// numbered 10 lower, a link pulled. Each runs on a thread of its own.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct LoggedCommand {
  int64_t Ms;  // since the emulator started
  std::string Text = {};
};

// What the runs are checked by: the frequency read back and whether the output sounds.
struct EmulatorChannel {
  long double Hertz = 0.0L;
  bool On = true;  // a generator powers up sounding
};

struct EmulatorBehaviour {
  std::string Identity = {};      // UMO's reply, the MHz of :r00, or *IDN?'s reply
  int ReplyDelayMs = 0;           // before every reply
  std::string SilentPrefix = {};  // commands starting with it get no reply ...
  int SilentCount = 0;            // ... this many times (-1: always)
  std::string ErrorPrefix = {};   // SCPI: a setting starting with it is refused
  bool WmfAsHertz = false;        // FY: WMF's number read as hertz
  bool RegistersLower = false;    // JDS: every register 10 lower
  int PullAfterCommands = 0;      // the link is pulled after this many commands (0: never)
  bool ReopenAfterPull = false;   // SCPI: the port takes a new connection after the pull
};

class GeneratorEmulator {
 public:
  virtual ~GeneratorEmulator();
  GeneratorEmulator(const GeneratorEmulator&) = delete;
  GeneratorEmulator& operator=(const GeneratorEmulator&) = delete;

  // As --device takes it: "fy:/dev/pts/4", "jds:...", "scpi:127.0.0.1:PORT".
  const std::string& Name() const { return name_; }
  std::vector<LoggedCommand> Log() const;
  std::vector<std::string> Commands() const;  // the log's texts
  EmulatorChannel Channel(int n) const;
  // When the log's times count from, in steady_clock nanoseconds.
  int64_t StartNs() const { return start_ns_; }

 protected:
  explicit GeneratorEmulator(EmulatorBehaviour behaviour);
  // The reply line to a command (without its line end); false: no reply. Called with the state
  // locked.
  virtual bool Answer(const std::string& command, std::string* reply) = 0;
  void Log(const std::string& command);
  int64_t NowMs() const;
  // Serves the command; returns the bytes to send back (empty: none).
  std::string Serve(const std::string& command, const char* line_end);

  EmulatorBehaviour behaviour_;
  std::string name_;
  EmulatorChannel channels_[2];
  mutable std::mutex mutex_;
  std::atomic<bool> stop_{false};
  std::thread thread_;

 private:
  std::vector<LoggedCommand> log_;
  int silent_left_ = 0;
  int64_t start_ns_ = 0;
};

// The serial families on a pseudo-terminal: the program opens its slave path.
class SerialEmulator : public GeneratorEmulator {
 public:
  ~SerialEmulator() override;

 protected:
  SerialEmulator(EmulatorBehaviour behaviour, const char* prefix, const char* line_end);
  void Start();

 private:
  void Run();
  int master_ = -1;
  int slave_ = -1;
  const char* line_end_;
};

class FyEmulator : public SerialEmulator {
 public:
  explicit FyEmulator(EmulatorBehaviour behaviour);

 private:
  bool Answer(const std::string& command, std::string* reply) override;
};

class JdsEmulator : public SerialEmulator {
 public:
  explicit JdsEmulator(EmulatorBehaviour behaviour);
  std::string RegisterValue(int reg) const;

 private:
  bool Answer(const std::string& command, std::string* reply) override;
  std::map<int, std::string> registers_;
};

// SCPI on a loopback TCP port: Siglent's or Rigol's commands, by the identity it gives.
class ScpiEmulator : public GeneratorEmulator {
 public:
  explicit ScpiEmulator(EmulatorBehaviour behaviour);
  ~ScpiEmulator() override;

 private:
  bool Answer(const std::string& command, std::string* reply) override;
  void Run();
  bool Siglent() const;
  int listener_ = -1;
  int error_code_ = 0;
};
