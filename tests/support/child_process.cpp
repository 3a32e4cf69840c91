#include "child_process.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iterator>
#include <thread>

#include "scratch_dir.h"

extern char** environ;

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

bool OnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return false;
  const std::string dirs = path;
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    const std::string candidate = dirs.substr(start, end - start) + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

pid_t SpawnChild(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env,
                 const std::string& stdout_path, const std::string& stderr_path) {
  std::vector<std::string> env_strings;
  for (char** e = environ; *e != nullptr; ++e) env_strings.emplace_back(*e);
  for (const auto& entry : extra_env) {
    const std::string name = entry.substr(0, entry.find('=') + 1);
    std::erase_if(env_strings, [&](const std::string& s) { return s.rfind(name, 0) == 0; });
    env_strings.push_back(entry);
  }
  std::vector<char*> envp;
  for (auto& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = argv;
  std::vector<char*> argp;
  for (auto& s : args) argp.push_back(s.data());
  argp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO,
                                   stdout_path.empty() ? "/dev/null" : stdout_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO,
                                   stderr_path.empty() ? "/dev/null" : stderr_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, argp[0], &actions, nullptr, argp.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

int WaitForExit(pid_t& pid, std::chrono::milliseconds limit) {
  if (pid <= 0) return -1;  // waitpid would take any child for it
  const auto until = std::chrono::steady_clock::now() + limit;
  do {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      pid = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  } while (std::chrono::steady_clock::now() < until);
  return -1;
}

ProgramRun RunProgram(const std::vector<std::string>& argv,
                      const std::vector<std::string>& extra_env, const std::string& folder,
                      std::chrono::milliseconds limit) {
  const std::string out_path = folder + "/program.out";
  const std::string err_path = folder + "/program.err";
  ProgramRun run;
  pid_t pid = SpawnChild(argv, extra_env, out_path, err_path);
  if (pid < 0) return run;
  run.status = WaitForExit(pid, limit);
  if (pid > 0) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  run.out = ReadFile(out_path);
  run.err = ReadFile(err_path);
  std::remove(out_path.c_str());
  std::remove(err_path.c_str());
  return run;
}

bool CatchesSignal(pid_t pid, int signal_number) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("SigCgt:", 0) == 0) {
      return (std::stoull(line.substr(7), nullptr, 16) >> (signal_number - 1)) & 1;
    }
  }
  return false;
}

void TerminateChild(pid_t& pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  if (WaitForExit(pid, std::chrono::seconds(2)) >= 0) return;
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  pid = -1;
}

std::optional<UserIds> UnprivilegedUser() {
  const passwd* entry = getpwnam("nobody");
  if (entry == nullptr || entry->pw_uid == 0) return std::nullopt;
  return UserIds{entry->pw_uid, entry->pw_gid};
}

OrdinaryUser::OrdinaryUser(const std::string& tag) : name_("zk" + std::to_string(getpid()) + tag) {
  if (geteuid() != 0) {
    why_ = "only root can make the users this test needs";
    return;
  }
  const ScratchDir scratch("zelkgen-useradd-");
  const ProgramRun made = RunProgram({"useradd", "-M", "-N", "-s", "/usr/sbin/nologin", name_}, {},
                                     scratch.Path().string(), std::chrono::seconds(30));
  const passwd* entry = made.status == 0 ? getpwnam(name_.c_str()) : nullptr;
  if (entry == nullptr) {
    why_ = "useradd " + name_ + " failed: " + made.err;
    return;
  }
  ids_ = UserIds{entry->pw_uid, entry->pw_gid};
}

OrdinaryUser::~OrdinaryUser() {
  const ScratchDir scratch("zelkgen-userdel-");
  if (ids_) RunProgram({"userdel", name_}, {}, scratch.Path().string(), std::chrono::seconds(30));
}

int RunInChild(const std::function<int()>& body, const std::optional<UserIds>& user) {
  std::fflush(nullptr);  // nothing buffered is printed twice
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (user && (setgroups(0, nullptr) != 0 || setgid(user->gid) != 0 || setuid(user->uid) != 0 ||
                 geteuid() != user->uid)) {
      _exit(125);
    }
    // The child never returns into its caller: it would go on with the parent's work.
    int result = 126;
    try {
      result = body();
    } catch (const std::exception& error) {
      std::fprintf(stderr, "child threw: %s\n", error.what());
    } catch (...) {
      std::fprintf(stderr, "child threw\n");
    }
    std::fflush(nullptr);
    _exit(result);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
