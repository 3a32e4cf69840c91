#include "wave_export.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace {

// As many links as the kernel itself follows in one path.
constexpr int kMostLinksFollowed = 40;

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

struct FolderAndName {
  std::string folder;
  std::string name;
};

FolderAndName Split(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

// Follows symbolic links from path to the name of the file itself, which need not exist: a
// dangling link names the file to create. Empty when the links do not end or cannot be read.
std::string FinalName(const std::string& path) {
  std::string current = path;
  for (int followed = 0; followed <= kMostLinksFollowed; ++followed) {
    struct stat info {};
    if (::lstat(current.c_str(), &info) != 0) return errno == ENOENT ? current : std::string();
    if (!S_ISLNK(info.st_mode)) return current;
    std::string text(PATH_MAX, '\0');
    const ssize_t length = ::readlink(current.c_str(), text.data(), text.size());
    if (length <= 0 || static_cast<size_t>(length) >= text.size()) return {};
    text.resize(static_cast<size_t>(length));
    current = text.front() == '/' ? text : Split(current).folder + "/" + text;
  }
  return {};
}

// Opens a new file in the folder under a short name nobody holds yet (O_EXCL decides), so the
// temporary fits wherever the target's own name fits. Mode 0666: the umask applies.
int CreateTemporary(int folder, std::string* name) {
  static std::atomic<uint32_t> counter{0};
  const auto now =
      static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  for (int attempt = 0; attempt < 100; ++attempt) {
    const uint32_t tag =
        (static_cast<uint32_t>(::getpid()) * 2654435761u) ^ (counter.fetch_add(1) * 40503u) ^ now;
    char text[24];
    std::snprintf(text, sizeof text, ".zelkgen-%08x", tag);
    *name = text;
    const int fd =
        ::openat(folder, text, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd >= 0) return fd;
    if (errno != EEXIST) return -1;
  }
  return -1;
}

bool ReplaceInFolder(int folder, const std::string& name, const ContentsWriter& write_contents) {
  struct stat existing {};
  const bool exists = ::fstatat(folder, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0;
  if (!exists && errno != ENOENT) return false;
  if (exists) {
    // Only a regular file can be replaced by one.
    if (!S_ISREG(existing.st_mode)) return false;
    // A file the user may not write is refused, as a shell redirection would refuse it.
    if (::faccessat(folder, name.c_str(), W_OK, AT_EACCESS) != 0) return false;
  }

  std::string temporary;
  const int fd = CreateTemporary(folder, &temporary);
  if (fd < 0) return false;
  bool ok = true;
  if (exists) ok = ::fchmod(fd, existing.st_mode & 07777) == 0;
  ok = ok && write_contents(fd);
  ok = ok && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  ok = ok && ::renameat(folder, temporary.c_str(), folder, name.c_str()) == 0;
  if (!ok) {
    ::unlinkat(folder, temporary.c_str(), 0);
    return false;
  }
  // Make the new name itself durable; the data is already safe, so a failure here is not one.
  ::fsync(folder);
  return true;
}

}  // namespace

bool ReplaceFileContents(const std::string& path, const void* data, size_t size) {
  if (data == nullptr && size > 0) return false;
  return ReplaceFileWith(
      path, [&](int fd) { return WriteAll(fd, static_cast<const uint8_t*>(data), size); });
}

bool ReplaceFileWith(const std::string& path, const ContentsWriter& write_contents) {
  if (path.empty() || path.back() == '/') return false;
  const std::string target = FinalName(path);
  if (target.empty()) return false;
  const FolderAndName place = Split(target);
  if (place.name.empty() || place.name == "." || place.name == "..") return false;

  // A folder the user may write but not list still takes the file.
  int folder = ::open(place.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0 && errno == EACCES) {
    folder = ::open(place.folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  }
  if (folder < 0) return false;
  const bool written = ReplaceInFolder(folder, place.name, write_contents);
  ::close(folder);
  return written;
}
