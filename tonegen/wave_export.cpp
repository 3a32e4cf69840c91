#include "wave_export.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// Writes all bytes, continuing after short writes; a write that stores nothing is a failure.
bool WriteAll(int fd, const uint8_t* bytes, size_t size) {
  while (size > 0) {
    const size_t chunk = size < (size_t{1} << 30) ? size : (size_t{1} << 30);
    const ssize_t written = ::write(fd, bytes, chunk);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

// A symbolic link names the file the caller means: replace that file, not the link.
std::string ResolveTarget(const std::string& path) {
  struct stat link_info {};
  if (::lstat(path.c_str(), &link_info) != 0 || !S_ISLNK(link_info.st_mode)) return path;
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return path;
  std::string target(resolved);
  std::free(resolved);
  return target;
}

// Only makes a clash with a name left behind by another process unlikely; O_EXCL decides.
uint64_t Nanoseconds() {
  return static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Opens a new file beside the target under a name nobody else holds (O_EXCL).
int CreateTemporaryBeside(const std::string& target, std::string* temporary) {
  static std::atomic<unsigned> counter{0};
  const size_t slash = target.find_last_of('/');
  const std::string prefix = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const unsigned serial = counter.fetch_add(1);
    *temporary = prefix + "." + base + ".tmp" + std::to_string(::getpid()) + "-" +
                 std::to_string(serial) + "-" + std::to_string(Nanoseconds() & 0xFFFFF);
    const int fd =
        ::open(temporary->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd >= 0) return fd;
    if (errno != EEXIST) return -1;
  }
  return -1;
}

}  // namespace

bool ReplaceFileContents(const std::string& path, const void* data, size_t size) {
  if (path.empty() || path.back() == '/') return false;
  if (data == nullptr && size > 0) return false;
  const std::string target = ResolveTarget(path);

  // A directory under that name can never be replaced by a file.
  struct stat existing {};
  const bool target_exists = ::stat(target.c_str(), &existing) == 0;
  if (target_exists && !S_ISREG(existing.st_mode)) return false;

  std::string temporary;
  const int fd = CreateTemporaryBeside(target, &temporary);
  if (fd < 0) return false;

  bool ok = true;
  // The replacement keeps the permissions the old file had.
  if (target_exists) ok = ::fchmod(fd, existing.st_mode & 07777) == 0;
  ok = ok && WriteAll(fd, static_cast<const uint8_t*>(data), size);
  ok = ok && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  ok = ok && ::rename(temporary.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(temporary.c_str());
    return false;
  }

  // Make the new name itself durable; the data is already safe, so a failure here is not one.
  const int directory = ::open(DirectoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory >= 0) {
    ::fsync(directory);
    ::close(directory);
  }
  return true;
}
