#include "single_instance.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "app_identity.h"

namespace {

constexpr char kLockName[] = "/zelkgen.lock";
constexpr char kSocketName[] = "/zelkgen.socket";
constexpr char kRaiseRequest[] = "raise";
// "raise", the token and a path of up to PATH_MAX bytes, one a line.
constexpr size_t kLongestRequest = 6144;

// A directory only this user can reach, so that no one else can hold or fake the lock.
bool IsPrivateDirectory(const std::string& path, std::string* why) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) {
    *why = path + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISDIR(info.st_mode)) {
    *why = path + " is not a directory";
  } else if (info.st_uid != geteuid()) {
    *why = path + " belongs to another user";
  } else if ((info.st_mode & 077) != 0) {
    *why = path + " is open to other users";
  } else {
    return true;
  }
  return false;
}

// $XDG_RUNTIME_DIR, else <temporary directory>/zelkgen-<uid>, made when missing; empty (with
// the reason) when neither is private.
std::string LockDirectory(std::string* why) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::string ignored;
  if (runtime != nullptr && runtime[0] == '/' && IsPrivateDirectory(runtime, &ignored)) {
    return runtime;
  }
  const char* temp = std::getenv("TMPDIR");
  const std::string base = temp != nullptr && temp[0] == '/' ? temp : "/tmp";
  const std::string dir = base + "/zelkgen-" + std::to_string(geteuid());
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    *why = dir + ": " + std::strerror(errno);
    return {};
  }
  return IsPrivateDirectory(dir, why) ? dir : std::string();
}

bool SocketAddress(const std::string& path, sockaddr_un* address) {
  *address = {};
  address->sun_family = AF_UNIX;
  if (path.size() >= sizeof address->sun_path) return false;
  std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
  return true;
}

}  // namespace

SingleInstance::SingleInstance(QObject* parent) : QObject(parent) {}

SingleInstance::~SingleInstance() {
  delete notifier_;
  if (socket_fd_ >= 0) {
    close(socket_fd_);
    unlink(socket_path_.c_str());
  }
  if (lock_fd_ >= 0) close(lock_fd_);
}

bool SingleInstance::AcquireOrWarn(bool accept_raise) {
  std::string why;
  switch (Acquire(accept_raise, &why)) {
    case Lock::Owned:
      return true;
    case Lock::Unavailable:
      std::fprintf(stderr, "%s: cannot make sure that only one copy runs (%s)\n", kAppName,
                   why.c_str());
      return true;
    case Lock::HeldElsewhere:
      break;
  }
  return false;
}

SingleInstance::Lock SingleInstance::Acquire(bool accept_raise, std::string* why) {
  if (lock_fd_ >= 0) return Lock::Owned;
  const std::string dir = LockDirectory(why);
  if (dir.empty()) return Lock::Unavailable;
  // The lock file itself is never removed: a copy could then lock a file nobody else sees.
  const std::string lock_path = dir + kLockName;
  const int fd = open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    *why = lock_path + ": " + std::strerror(errno);
    return Lock::Unavailable;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    close(fd);
    if (error == EWOULDBLOCK) return Lock::HeldElsewhere;
    *why = lock_path + ": " + std::strerror(error);
    return Lock::Unavailable;
  }
  lock_fd_ = fd;

  // Whatever socket file is there was left by an earlier owner.
  socket_path_ = dir + kSocketName;
  unlink(socket_path_.c_str());
  sockaddr_un address;
  if (!accept_raise || !SocketAddress(socket_path_, &address)) return Lock::Owned;
  socket_fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (socket_fd_ >= 0 &&
      bind(socket_fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    close(socket_fd_);
    socket_fd_ = -1;
  }
  return Lock::Owned;
}

void SingleInstance::WatchForRaise() {
  if (socket_fd_ < 0 || notifier_ != nullptr) return;
  notifier_ = new QSocketNotifier(socket_fd_, QSocketNotifier::Read);
  connect(notifier_, &QSocketNotifier::activated, this, &SingleInstance::ReadRequests);
  // Requests sent while the program was starting wait in the socket.
  ReadRequests();
}

void SingleInstance::ReadRequests() {
  char buffer[kLongestRequest];
  for (;;) {
    const ssize_t size = recv(socket_fd_, buffer, sizeof buffer, MSG_DONTWAIT);
    if (size < 0) return;
    const std::string request(buffer, static_cast<size_t>(size));
    const size_t line_end = request.find('\n');
    if (request.substr(0, line_end) != kRaiseRequest) continue;
    std::string token =
        line_end == std::string::npos ? std::string() : request.substr(line_end + 1);
    // The program file takes the rest: a path may hold any byte but NUL.
    if (const size_t file_at = token.find('\n'); file_at != std::string::npos) {
      const std::string file = token.substr(file_at + 1);
      token.resize(file_at);
      if (!file.empty()) emit OpenRequested(QString::fromLocal8Bit(file));
    }
    emit RaiseRequested(QString::fromUtf8(token));
  }
}

bool SingleInstance::RequestRaise(const std::string& program_file) {
  std::string why;
  const std::string dir = LockDirectory(&why);
  sockaddr_un address;
  if (dir.empty() || !SocketAddress(dir + kSocketName, &address)) return false;
  std::string request = kRaiseRequest;
  const char* token = std::getenv("XDG_ACTIVATION_TOKEN");
  if (token == nullptr || token[0] == '\0') token = std::getenv("DESKTOP_STARTUP_ID");
  if (token != nullptr && token[0] != '\0') request += std::string("\n") + token;
  if (request.size() > kLongestRequest) request = kRaiseRequest;
  if (!program_file.empty()) {
    if (request.find('\n') == std::string::npos) request += '\n';
    request += '\n' + program_file;
    if (request.size() > kLongestRequest) return false;
  }

  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool sent = false;
  // A copy that has just taken the lock binds its socket a moment later.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (!sent && std::chrono::steady_clock::now() < deadline) {
    sent = sendto(fd, request.data(), request.size(), MSG_DONTWAIT,
                  reinterpret_cast<const sockaddr*>(&address), sizeof address) >= 0;
    if (!sent) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  close(fd);
  return sent;
}
