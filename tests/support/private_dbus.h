// Private D-Bus buses for tests: two dbus-daemons standing in for the session and the system bus,
// and python3-dbusmock services started and stopped on them per test. The daemons run with a
// configuration of their own, without service activation, so nothing installed on the machine
// is ever started on them; their sockets live in a private directory. Each mock logs every call
// it receives, one line each ("<time> Notify "zelkgen" 0 ..."), into a file the test reads.
// The user's own buses are never reached.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

enum class TestBus { kSession, kSystem };

class PrivateBuses {
 public:
  PrivateBuses() = default;
  PrivateBuses(const PrivateBuses&) = delete;
  PrivateBuses& operator=(const PrivateBuses&) = delete;
  ~PrivateBuses();

  // Starts both daemons and waits until they print their addresses. On failure returns false
  // with the reason (for a test skip message) and leaves nothing running.
  bool Start(std::string* why);
  void Stop();

  // "unix:path=..." of each bus; empty until started.
  const std::string& Address(TestBus bus) const {
    return bus == TestBus::kSession ? session_address_ : system_address_;
  }

  // DBUS_SESSION_BUS_ADDRESS and DBUS_SYSTEM_BUS_ADDRESS for a child process.
  std::vector<std::string> ClientEnvironment() const;
  // The same, set in this process (before its first use of either bus).
  void ExportEnvironment() const;

  // Stops both daemons (SIGSTOP), as buses that hang stop answering, and lets them go on
  // (SIGCONT). Stop and the destructor let frozen daemons go on first.
  bool Freeze() const;
  bool Thaw() const;

  // True when name has an owner on the bus.
  bool NameHasOwner(TestBus bus, const std::string& name) const;

 private:
  pid_t StartDaemon(const std::string& name, std::string* address);

  std::string dir_;
  pid_t session_pid_ = -1;
  pid_t system_pid_ = -1;
  std::string session_address_;
  std::string system_address_;
};

// Environment entries that point both buses at a socket nobody listens on, for a process that
// must find no bus at all (and must not start one of its own).
std::vector<std::string> NoBusEnvironment();

// One python3-dbusmock service on one of the private buses.
class DBusMock {
 public:
  // template_name: one of dbusmock's own templates ("logind", "notification_daemon") or the
  // path of a template file; bus_name: the name the template claims, which Start waits for;
  // parameters: the template's JSON parameters, or empty.
  DBusMock(const PrivateBuses& buses, TestBus bus, std::string template_name, std::string bus_name,
           std::string parameters = "");
  DBusMock(const DBusMock&) = delete;
  DBusMock& operator=(const DBusMock&) = delete;
  ~DBusMock();

  // Starts the mock and waits until it owns its name. On failure returns false with the reason.
  bool Start(std::string* why);
  void Stop();

  // Everything the mock logged so far.
  std::string Log() const;
  // The logged lines that contain text.
  std::vector<std::string> LogLines(const std::string& text) const;

 private:
  const PrivateBuses& buses_;
  TestBus bus_;
  std::string template_;
  std::string bus_name_;
  std::string parameters_;
  std::string log_path_;
  pid_t pid_ = -1;
};
