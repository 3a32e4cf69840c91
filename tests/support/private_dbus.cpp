#include "private_dbus.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "child_process.h"

namespace {

// Python with Debian's modules (dbusmock), whatever python3 comes first on PATH.
constexpr const char* kSystemPython = "/usr/bin/python3";

// An empty file of its own in the temporary directory; its path, or empty.
std::string TempFile(const char* prefix) {
  std::string pattern = (std::filesystem::temp_directory_path() / prefix).string() + "XXXXXX";
  const int fd = mkstemp(pattern.data());
  if (fd < 0) return {};
  close(fd);
  return pattern;
}

// A bus that starts nothing by itself and lets its one user do anything on it.
std::string DaemonConfiguration(const std::string& socket_path) {
  return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
         " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
         "<busconfig>\n"
         "  <type>session</type>\n"
         "  <listen>unix:path=" +
         socket_path +
         "</listen>\n"
         "  <auth>EXTERNAL</auth>\n"
         "  <policy context=\"default\">\n"
         "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
         "    <allow eavesdrop=\"true\"/>\n"
         "    <allow own=\"*\"/>\n"
         "  </policy>\n"
         "</busconfig>\n";
}

}  // namespace

PrivateBuses::~PrivateBuses() {
  Stop();
}

pid_t PrivateBuses::StartDaemon(const std::string& name, std::string* address) {
  const std::string config = dir_ + "/" + name + ".conf";
  const std::string address_file = dir_ + "/" + name + ".address";
  std::ofstream(config) << DaemonConfiguration(dir_ + "/" + name + ".socket");
  pid_t pid = SpawnChild(
      {"dbus-daemon", "--config-file=" + config, "--print-address=1", "--nofork", "--nopidfile"},
      {}, address_file);
  if (pid <= 0) return -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    const std::string printed = ReadFile(address_file);
    const size_t end = printed.find('\n');
    if (end != std::string::npos) {
      *address = printed.substr(0, end);
      return pid;
    }
    if (WaitForExit(pid, std::chrono::milliseconds(0)) >= 0) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  TerminateChild(pid);
  return -1;
}

bool PrivateBuses::Start(std::string* why) {
  Stop();
  if (!OnPath("dbus-daemon") || !OnPath("dbus-send")) {
    *why = "dbus-daemon or dbus-send is not installed";
    return false;
  }
  std::string pattern = (std::filesystem::temp_directory_path() / "zelkgen-dbus-").string();
  pattern += "XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    *why = "cannot create a temporary directory";
    return false;
  }
  dir_ = pattern;
  session_pid_ = StartDaemon("session", &session_address_);
  system_pid_ = StartDaemon("system", &system_address_);
  if (session_pid_ <= 0 || system_pid_ <= 0) {
    *why = "dbus-daemon did not start";
    Stop();
    return false;
  }
  return true;
}

bool PrivateBuses::Freeze() const {
  return session_pid_ > 0 && system_pid_ > 0 && kill(session_pid_, SIGSTOP) == 0 &&
         kill(system_pid_, SIGSTOP) == 0;
}

bool PrivateBuses::Thaw() const {
  return session_pid_ > 0 && system_pid_ > 0 && kill(session_pid_, SIGCONT) == 0 &&
         kill(system_pid_, SIGCONT) == 0;
}

void PrivateBuses::Stop() {
  Thaw();
  TerminateChild(session_pid_);
  TerminateChild(system_pid_);
  session_address_.clear();
  system_address_.clear();
  std::error_code ignored;
  if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
  dir_.clear();
}

std::vector<std::string> PrivateBuses::ClientEnvironment() const {
  return {"DBUS_SESSION_BUS_ADDRESS=" + session_address_,
          "DBUS_SYSTEM_BUS_ADDRESS=" + system_address_};
}

void PrivateBuses::ExportEnvironment() const {
  setenv("DBUS_SESSION_BUS_ADDRESS", session_address_.c_str(), 1);
  setenv("DBUS_SYSTEM_BUS_ADDRESS", system_address_.c_str(), 1);
}

bool PrivateBuses::NameHasOwner(TestBus bus, const std::string& name) const {
  if (Address(bus).empty()) return false;
  const ProgramRun reply = RunProgram(
      {"dbus-send", "--bus=" + Address(bus), "--print-reply", "--dest=org.freedesktop.DBus",
       "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner", "string:" + name},
      {}, dir_, std::chrono::seconds(10));
  return reply.status == 0 && reply.out.find("boolean true") != std::string::npos;
}

std::vector<std::string> NoBusEnvironment() {
  return {"DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/zelkgen-no-session-bus",
          "DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/zelkgen-no-system-bus"};
}

DBusMock::DBusMock(const PrivateBuses& buses, TestBus bus, std::string template_name,
                   std::string bus_name, std::string parameters)
    : buses_(buses),
      bus_(bus),
      template_(std::move(template_name)),
      bus_name_(std::move(bus_name)),
      parameters_(std::move(parameters)) {}

DBusMock::~DBusMock() {
  Stop();
}

bool DBusMock::Start(std::string* why) {
  Stop();
  if (access(kSystemPython, X_OK) != 0) {
    *why = std::string(kSystemPython) + " is missing";
    return false;
  }
  log_path_ = TempFile("zelkgen-dbusmock-");
  if (log_path_.empty()) {
    *why = "cannot create the mock's log file";
    return false;
  }
  std::vector<std::string> argv = {
      kSystemPython, "-m",      "dbusmock",  bus_ == TestBus::kSystem ? "--system" : "--session",
      "--template",  template_, "--logfile", log_path_};
  if (!parameters_.empty()) {
    argv.push_back("--parameters");
    argv.push_back(parameters_);
  }
  const std::string errors = log_path_ + ".stderr";
  pid_ = SpawnChild(argv, buses_.ClientEnvironment(), "", errors);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (pid_ > 0 && std::chrono::steady_clock::now() < deadline) {
    if (buses_.NameHasOwner(bus_, bus_name_)) {
      unlink(errors.c_str());
      return true;
    }
    if (WaitForExit(pid_, std::chrono::milliseconds(0)) >= 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  *why = "dbusmock " + template_ + " did not claim " + bus_name_ + ": " + ReadFile(errors);
  unlink(errors.c_str());
  Stop();
  return false;
}

void DBusMock::Stop() {
  TerminateChild(pid_);
  if (!log_path_.empty()) unlink(log_path_.c_str());
  log_path_.clear();
}

std::string DBusMock::Log() const {
  return log_path_.empty() ? std::string() : ReadFile(log_path_);
}

std::vector<std::string> DBusMock::LogLines(const std::string& text) const {
  std::vector<std::string> lines;
  std::istringstream log(Log());
  std::string line;
  while (std::getline(log, line)) {
    if (line.find(text) != std::string::npos) lines.push_back(line);
  }
  return lines;
}
