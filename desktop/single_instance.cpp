#include "single_instance.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>

#include "app_identity.h"
#include "path_text.h"
#include "private_folder.h"

namespace {

constexpr char kLockName[] = "/zelkgen.lock";
constexpr char kSocketName[] = "/zelkgen.socket";
constexpr char kRaiseRequest[] = "raise";
constexpr char kRaiseAnswer[] = "raised";
// "raise", the token and a path of up to PATH_MAX bytes, one a line.
constexpr size_t kLongestRequest = 6144;
// At most four raises a second, whatever arrives: a flood of requests would otherwise keep the
// window manager busy. And at most this many requests are read at a time, so that a flood never
// holds the event loop.
constexpr auto kRaiseEvery = std::chrono::milliseconds(250);
constexpr int kRequestsPerRead = 64;

// $XDG_RUNTIME_DIR when it is private and writable, else the user's state folder (made when
// missing). Never a folder that everybody shares, such as /tmp: another user could make the
// folder there first and so switch the lock off. Empty (with the reason) when neither serves.
std::string LockDirectory(std::string* why) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::string ignored;
  if (runtime != nullptr && runtime[0] == '/' && IsPrivateFolder(runtime, &ignored)) {
    return runtime;
  }
  return PrivateStateFolder(true, why);
}

bool SocketAddress(const std::string& path, sockaddr_un* address) {
  *address = {};
  address->sun_family = AF_UNIX;
  if (path.size() >= sizeof address->sun_path) return false;
  std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
  return true;
}

}  // namespace

SingleInstance::SingleInstance(QObject* parent) : QObject(parent) {
  raise_later_.setSingleShot(true);
  connect(&raise_later_, &QTimer::timeout, this, &SingleInstance::Raise);
}

SingleInstance::~SingleInstance() {
  Release();
}

void SingleInstance::Release() {
  delete notifier_;
  notifier_ = nullptr;
  if (socket_fd_ >= 0) {
    close(socket_fd_);
    unlink(socket_path_.c_str());
    socket_fd_ = -1;
  }
  if (lock_fd_ >= 0) close(lock_fd_);
  lock_fd_ = -1;
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
  // Who holds it, for a later copy to name (HolderProcess).
  const std::string pid = std::to_string(getpid()) + "\n";
  if (ftruncate(fd, 0) != 0 || pwrite(fd, pid.data(), pid.size(), 0) < 0) {
    // The lock holds all the same; only the name of its holder is missing.
  }

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
  for (int read = 0; read < kRequestsPerRead; ++read) {
    sockaddr_un sender{};
    socklen_t sender_size = sizeof sender;
    const ssize_t size = recvfrom(socket_fd_, buffer, sizeof buffer, MSG_DONTWAIT,
                                  reinterpret_cast<sockaddr*>(&sender), &sender_size);
    if (size < 0) break;
    const std::string request(buffer, static_cast<size_t>(size));
    const size_t line_end = request.find('\n');
    if (request.substr(0, line_end) != kRaiseRequest) continue;
    // The requesting copy waits for this to know that a live copy got its request.
    if (sender_size > sizeof(sa_family_t)) {
      sendto(socket_fd_, kRaiseAnswer, sizeof kRaiseAnswer - 1, MSG_DONTWAIT,
             reinterpret_cast<const sockaddr*>(&sender), sender_size);
    }
    std::string token =
        line_end == std::string::npos ? std::string() : request.substr(line_end + 1);
    // The program file takes the rest: a path may hold any byte but NUL. Of a burst of
    // requests the latest file is opened, with the raise it came with.
    if (const size_t file_at = token.find('\n'); file_at != std::string::npos) {
      const std::string file = token.substr(file_at + 1);
      token.resize(file_at);
      if (!file.empty()) open_file_ = PathText(file);
    }
    raise_token_ = QString::fromUtf8(token);
    raise_asked_ = true;
  }
  Raise();
}

void SingleInstance::Raise() {
  if (!raise_asked_) return;
  const auto now = std::chrono::steady_clock::now();
  if (now < last_raise_ + kRaiseEvery) {
    if (!raise_later_.isActive()) {
      raise_later_.start(
          std::chrono::ceil<std::chrono::milliseconds>(last_raise_ + kRaiseEvery - now));
    }
    return;
  }
  raise_asked_ = false;
  last_raise_ = now;
  if (!open_file_.isEmpty()) emit OpenRequested(std::exchange(open_file_, QString()));
  emit RaiseRequested(raise_token_);
}

bool SingleInstance::RequestRaise(const std::string& program_file, int answer_wait_ms,
                                  bool* answered) {
  if (answered != nullptr) *answered = false;
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
  // A name of the kernel's choosing (Linux's abstract names), for the holder to answer to. Any
  // user could send to that name; connected to the holder's socket, which only this user can
  // have bound in the private folder, it takes datagrams from the holder alone, so nobody else
  // can answer "raised" in its place.
  const sa_family_t family = AF_UNIX;
  if (answer_wait_ms > 0) bind(fd, reinterpret_cast<const sockaddr*>(&family), sizeof family);
  bool sent = false;
  // A copy that has just taken the lock binds its socket a moment later.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (!sent && std::chrono::steady_clock::now() < deadline) {
    sent = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
           send(fd, request.data(), request.size(), MSG_DONTWAIT) >= 0;
    if (!sent) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (sent && answer_wait_ms > 0 && answered != nullptr) {
    pollfd answer{fd, POLLIN, 0};
    char text[sizeof kRaiseAnswer];
    *answered = poll(&answer, 1, answer_wait_ms) == 1 && recv(fd, text, sizeof text, 0) > 0;
  }
  close(fd);
  return sent;
}

int SingleInstance::HolderProcess() {
  std::string why;
  const std::string dir = LockDirectory(&why);
  if (dir.empty()) return 0;
  const int fd = open((dir + kLockName).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return 0;
  char text[24] = {};
  const ssize_t size = read(fd, text, sizeof text - 1);
  close(fd);
  return size > 0 ? std::atoi(text) : 0;
}
