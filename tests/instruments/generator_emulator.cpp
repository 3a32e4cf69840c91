#include "generator_emulator.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

int64_t SteadyNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.rfind(prefix, 0) == 0;
}

long double Number(const std::string& text) {
  return std::strtold(text.c_str(), nullptr);
}

std::string Fixed(long double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*Lf", decimals, value);
  return text;
}

// Reads lines from fd until stop or the peer closes; each line goes to serve, its reply back.
template <typename Serve>
bool ServeLines(int fd, const std::atomic<bool>& stop, Serve serve) {
  std::string pending;
  while (!stop) {
    pollfd poll_fd{fd, POLLIN, 0};
    const int ready = ::poll(&poll_fd, 1, 20);
    if (ready < 0) return false;
    if (ready == 0) continue;
    char chunk[512];
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n <= 0) {
      // A pty master reads EIO while no one holds the slave open: wait for the program to open it.
      if (n < 0 && errno == EIO) {
        ::usleep(10000);
        continue;
      }
      return false;
    }
    pending.append(chunk, static_cast<size_t>(n));
    for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
      std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!serve(line)) return false;
    }
  }
  return true;
}

}  // namespace

GeneratorEmulator::GeneratorEmulator(EmulatorBehaviour behaviour)
    : behaviour_(std::move(behaviour)),
      silent_left_(behaviour_.SilentCount),
      start_ns_(SteadyNs()) {}

GeneratorEmulator::~GeneratorEmulator() = default;

int64_t GeneratorEmulator::NowMs() const {
  return (SteadyNs() - start_ns_) / 1000000;
}

void GeneratorEmulator::Log(const std::string& command) {
  log_.push_back({NowMs(), command});
}

std::vector<LoggedCommand> GeneratorEmulator::Log() const {
  std::lock_guard lock(mutex_);
  return log_;
}

std::vector<std::string> GeneratorEmulator::Commands() const {
  std::vector<std::string> texts;
  for (const LoggedCommand& entry : Log()) texts.push_back(entry.Text);
  return texts;
}

EmulatorChannel GeneratorEmulator::Channel(int n) const {
  std::lock_guard lock(mutex_);
  return channels_[n - 1];
}

std::string GeneratorEmulator::Serve(const std::string& command, const char* line_end) {
  std::string reply;
  bool answered = false;
  {
    std::lock_guard lock(mutex_);
    Log(command);
    answered = Answer(command, &reply);
    if (!behaviour_.SilentPrefix.empty() && StartsWith(command, behaviour_.SilentPrefix) &&
        silent_left_ != 0) {
      if (silent_left_ > 0) --silent_left_;
      answered = false;
    }
  }
  if (!answered) return {};
  if (behaviour_.ReplyDelayMs > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(behaviour_.ReplyDelayMs));
  }
  return reply + line_end;
}

// --- serial ---

SerialEmulator::SerialEmulator(EmulatorBehaviour behaviour, const char* prefix,
                               const char* line_end)
    : GeneratorEmulator(std::move(behaviour)), line_end_(line_end) {
  termios raw{};
  cfmakeraw(&raw);
  if (::openpty(&master_, &slave_, nullptr, &raw, nullptr) != 0) std::abort();
  name_ = std::string(prefix) + ::ttyname(slave_);
}

void SerialEmulator::Start() {
  thread_ = std::thread([this] { Run(); });
}

SerialEmulator::~SerialEmulator() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (master_ >= 0) ::close(master_);
  if (slave_ >= 0) ::close(slave_);
}

void SerialEmulator::Run() {
  int served = 0;
  ServeLines(master_, stop_, [&](const std::string& line) {
    WriteAll(master_, Serve(line, line_end_));
    ++served;
    return behaviour_.PullAfterCommands == 0 || served < behaviour_.PullAfterCommands;
  });
  // Pulled (or stopped): the port goes away with both ends.
  ::close(master_);
  ::close(slave_);
  master_ = slave_ = -1;
}

// --- FY6x00 ---

FyEmulator::FyEmulator(EmulatorBehaviour behaviour)
    : SerialEmulator(std::move(behaviour), "fy:", "\n") {
  if (behaviour_.Identity.empty()) behaviour_.Identity = "FY6900-60M";
  Start();
}

bool FyEmulator::Answer(const std::string& command, std::string* reply) {
  reply->clear();
  if (command == "UMO") return *reply = behaviour_.Identity, true;
  if (command == "UVE") return *reply = "V1.0", true;
  if (command.size() < 3) return true;
  const char kind = command[0];
  EmulatorChannel& channel = channels_[command[1] == 'F' ? 1 : 0];
  const char what = command[2];
  const std::string value = command.substr(3);
  if (kind == 'R') {
    if (what == 'F') *reply = Fixed(channel.Hertz, 6);
    if (what == 'N') *reply = channel.On ? "1" : "0";
    return true;
  }
  if (kind != 'W') return true;
  if (what == 'F') {
    const long double hertz = behaviour_.WmfAsHertz ? Number(value) : Number(value) / 1e6L;
    // The generator keeps to its range.
    channel.Hertz = std::min(hertz, 60e6L);
  }
  if (what == 'N') channel.On = value == "1";
  return true;
}

// --- JDS6600 ---

JdsEmulator::JdsEmulator(EmulatorBehaviour behaviour)
    : SerialEmulator(std::move(behaviour), "jds:", "\r\n") {
  if (behaviour_.Identity.empty()) behaviour_.Identity = "60";
  registers_[23] = registers_[24] = "0,0";
  Start();
}

std::string JdsEmulator::RegisterValue(int reg) const {
  std::lock_guard lock(mutex_);
  const auto found = registers_.find(reg);
  return found == registers_.end() ? "" : found->second;
}

bool JdsEmulator::Answer(const std::string& command, std::string* reply) {
  // ":wNN=value." or ":rNN=0."
  if (command.size() < 7 || command[0] != ':' || command[4] != '=' || command.back() != '.') {
    return false;
  }
  const int wire = std::atoi(command.substr(2, 2).c_str());
  const std::string value = command.substr(5, command.size() - 6);
  // Register 00 sits where it is on every unit; the rest move on a unit that numbers lower.
  const int reg = wire == 0 ? 0 : behaviour_.RegistersLower ? wire + 10 : wire;
  const bool known = wire == 0 || (behaviour_.RegistersLower ? wire >= 10 && wire <= 21
                                                             : wire >= 20 && wire <= 31);
  if (!known) return false;
  if (command[1] == 'r') {
    const std::string stored = reg == 0 ? behaviour_.Identity : registers_[reg];
    *reply = command.substr(0, 4) + "=" + stored + ".";
    return true;
  }
  if (command[1] != 'w') return false;
  registers_[reg] = value;
  const size_t comma = value.find(',');
  if (reg == 20) {
    channels_[0].On = value[0] == '1';
    channels_[1].On = comma != std::string::npos && value[comma + 1] == '1';
  }
  if (reg == 23 || reg == 24) {
    static const long double kUnit[] = {1.0L, 1e3L, 1e6L, 1e-3L, 1e-6L};
    const long double hundredths = Number(value.substr(0, comma));
    channels_[reg - 23].Hertz = hundredths / 100.0L * kUnit[std::atoi(value.c_str() + comma + 1)];
  }
  *reply = ":ok";
  return true;
}

// --- SCPI ---

ScpiEmulator::ScpiEmulator(EmulatorBehaviour behaviour) : GeneratorEmulator(std::move(behaviour)) {
  if (behaviour_.Identity.empty()) {
    behaviour_.Identity = "Rigol Technologies,DG1062Z,DG1ZA000000001,00.01.14";
  }
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener_, 4) != 0) {
    std::abort();
  }
  socklen_t length = sizeof address;
  ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
  name_ = "scpi:127.0.0.1:" + std::to_string(ntohs(address.sin_port));
  thread_ = std::thread([this] { Run(); });
}

ScpiEmulator::~ScpiEmulator() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (listener_ >= 0) ::close(listener_);
}

void ScpiEmulator::Run() {
  int served = 0;
  bool pulled = false;
  while (!stop_) {
    pollfd poll_fd{listener_, POLLIN, 0};
    if (::poll(&poll_fd, 1, 20) <= 0) continue;
    const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    // Replies go out at once, as an instrument's do.
    const int no_delay = 1;
    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &no_delay, sizeof no_delay);
    if (pulled && !behaviour_.ReopenAfterPull) {
      ::close(client);
      continue;
    }
    const bool ended = ServeLines(client, stop_, [&](const std::string& line) {
      WriteAll(client, Serve(line, "\n"));
      ++served;
      return pulled || behaviour_.PullAfterCommands == 0 || served < behaviour_.PullAfterCommands;
    });
    ::close(client);
    if (ended) continue;  // stopped
    if (!pulled && behaviour_.PullAfterCommands > 0 && served >= behaviour_.PullAfterCommands) {
      pulled = true;
      if (!behaviour_.ReopenAfterPull) {
        ::close(listener_);
        listener_ = -1;
        return;
      }
    }
  }
}

bool ScpiEmulator::Siglent() const {
  return behaviour_.Identity.find("Siglent") != std::string::npos;
}

bool ScpiEmulator::Answer(const std::string& command, std::string* reply) {
  if (command == "*IDN?") return *reply = behaviour_.Identity, true;
  if (command == "*OPC?") return *reply = "1", true;
  if (command == "SYST:ERR?") {
    *reply = error_code_ == 0 ? "0,\"No error\"" : "-222,\"Data out of range\"";
    error_code_ = 0;
    return true;
  }
  if (!behaviour_.ErrorPrefix.empty() && StartsWith(command, behaviour_.ErrorPrefix)) {
    error_code_ = -222;
    return false;
  }
  const size_t space = command.find(' ');
  const std::string head = command.substr(0, space);
  const std::string args = space == std::string::npos ? "" : command.substr(space + 1);
  if (Siglent()) {
    // C1:BSWV KEY,VALUE,...; C1:OUTP ON; C1:BSWV?
    EmulatorChannel& channel = channels_[command[1] == '2' ? 1 : 0];
    if (head.substr(2) == ":BSWV?") {
      *reply = head.substr(0, 2) + ":BSWV WVTP,SINE,FRQ," + Fixed(channel.Hertz, 3) + "HZ";
      return true;
    }
    if (head.substr(2) == ":OUTP") channel.On = args == "ON";
    if (head.substr(2) == ":BSWV") {
      const size_t at = args.find("FRQ,");
      if (at != std::string::npos) channel.Hertz = Number(args.substr(at + 4));
    }
    return false;
  }
  // Rigol DG1000Z: SOURn:APPL:SIN f,amp,offset,phase; SOURn:FREQ f; SOURn:FREQ?; OUTPn ON
  const int n = head.size() > 4 && head[4] == '2' ? 1 : 0;
  EmulatorChannel& channel = channels_[n];
  if (StartsWith(head, "OUTP")) {
    channel.On = args == "ON";
    return false;
  }
  const std::string what = head.size() > 6 ? head.substr(6) : "";
  if (what == "FREQ?") return *reply = Fixed(channel.Hertz, 3), true;
  if (what == "FREQ") channel.Hertz = Number(args);
  // APPL:SIN and APPL:SQU give the frequency first.
  if (StartsWith(what, "APPL:")) channel.Hertz = Number(args);
  return false;
}
