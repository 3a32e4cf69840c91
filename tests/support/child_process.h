// Starting and ending the helper programs tests need (sound servers, recorders, X servers, the
// program itself).
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

// True when program is an executable somewhere on PATH.
bool OnPath(const std::string& program);

// Starts argv with this process's environment, extra_env entries ("NAME=value") replacing or
// adding to it; standard input from /dev/null, standard output to stdout_path (/dev/null when
// empty), standard error to /dev/null. Returns the process id, or -1.
pid_t SpawnChild(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env,
                 const std::string& stdout_path = "");

// Ends the child (SIGTERM, then SIGKILL after two seconds) and reaps it; pid becomes -1.
void TerminateChild(pid_t& pid);

// The ordinary account (`nobody`) a test running as root takes on to meet the permission checks
// root would pass; nullopt where the system has none.
struct UserIds {
  uid_t uid;
  gid_t gid;
};
std::optional<UserIds> UnprivilegedUser();

// Runs body in a forked child that first becomes user, with no supplementary groups, when one is
// given. Returns the child's exit status, body's result; 125 when the child could not become
// user, 126 when body threw, -1 when the child could not be started or did not exit normally.
int RunInChild(const std::function<int()>& body, const std::optional<UserIds>& user = std::nullopt);
