// Starting and ending the helper programs tests need (sound servers, recorders, X servers, tools,
// the program itself). Every helper goes through here, so each one is ended the same way: SIGTERM
// first, which lets servers remove their sockets and lock files, SIGKILL only when that fails.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// The whole of a file's bytes; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);

// True when program is an executable somewhere on PATH.
bool OnPath(const std::string& program);

// Starts argv with this process's environment, extra_env entries ("NAME=value") replacing or
// adding to it; standard input from /dev/null, standard output to stdout_path and standard
// error to stderr_path (/dev/null when empty). Returns the process id, or -1.
pid_t SpawnChild(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env,
                 const std::string& stdout_path = "", const std::string& stderr_path = "");

// Waits up to limit for the child to end and reaps it (pid becomes -1). Its exit status, 128 plus
// the signal's number when a signal ended it, or -1 when it is still running.
int WaitForExit(pid_t& pid, std::chrono::milliseconds limit);

// A program run to its end: the exit status as WaitForExit gives it (-1: killed after the time
// limit) and what it wrote on standard output and standard error.
struct ProgramRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs argv as SpawnChild does, catching its output in files of the folder.
ProgramRun RunProgram(const std::vector<std::string>& argv,
                      const std::vector<std::string>& extra_env, const std::string& folder,
                      std::chrono::milliseconds limit = std::chrono::seconds(60));

// True once the process has a handler of its own for signal_number (read from /proc): a sign
// that its start-up has got that far.
bool CatchesSignal(pid_t pid, int signal_number);

// Ends the child (SIGTERM, then SIGKILL after two seconds) and reaps it; pid becomes -1.
void TerminateChild(pid_t& pid);

// The ordinary account (`nobody`) a test running as root takes on to meet the permission checks
// root would pass; nullopt where the system has none.
struct UserIds {
  uid_t uid;
  gid_t gid;
};
std::optional<UserIds> UnprivilegedUser();

// An ordinary account made for one test (useradd, no home, no login) and removed with it: a
// second and third user for tests of what one user may do to another. Only root can make one;
// Made() is false elsewhere, with the reason in Why().
class OrdinaryUser {
 public:
  explicit OrdinaryUser(const std::string& tag);
  OrdinaryUser(const OrdinaryUser&) = delete;
  OrdinaryUser& operator=(const OrdinaryUser&) = delete;
  ~OrdinaryUser();

  bool Made() const { return ids_.has_value(); }
  const std::string& Why() const { return why_; }
  const UserIds& Ids() const { return *ids_; }

 private:
  std::string name_;
  std::string why_;
  std::optional<UserIds> ids_;
};

// Runs body in a forked child that first becomes user, with no supplementary groups, when one is
// given. Returns the child's exit status, body's result; 125 when the child could not become
// user, 126 when body threw, -1 when the child could not be started or did not exit normally.
int RunInChild(const std::function<int()>& body, const std::optional<UserIds>& user = std::nullopt);
