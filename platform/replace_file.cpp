#include "replace_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

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

// The kernel's rule for links in shared folders (fs.protected_symlinks): a link in a sticky folder
// everybody may write is followed only for its owner or when the folder's owner made it. Applied
// here as well, since the links are followed here by name and the rule may be off.
bool LinkMayBeFollowed(const std::string& folder, const struct stat& link) {
  struct stat shared {};
  if (::stat(folder.c_str(), &shared) != 0) return false;
  const bool open_to_all = (shared.st_mode & S_ISVTX) != 0 && (shared.st_mode & S_IWOTH) != 0;
  return !open_to_all || link.st_uid == ::geteuid() || link.st_uid == shared.st_uid;
}

struct FinalNameResult {
  std::string name;          // empty when the links do not end, cannot be read or are refused
  std::string refused_link;  // the link not followed, when that was the reason
};

// Follows symbolic links through every part of path to the name of the file itself, which need
// not exist: a dangling link names the file to create. A missing folder is kept as named (the
// open that follows fails).
FinalNameResult FinalName(const std::string& path) {
  std::string resolved;  // no links in it; "" is the current folder, "/" the root
  std::vector<std::string> left;
  const auto push_parts = [&left](const std::string& text) {
    std::vector<std::string> parts;
    for (size_t begin = 0; begin <= text.size();) {
      const size_t end = std::min(text.find('/', begin), text.size());
      if (end > begin) parts.push_back(text.substr(begin, end - begin));
      begin = end + 1;
    }
    left.insert(left.begin(), parts.begin(), parts.end());
  };
  if (path.front() == '/') resolved = "/";
  push_parts(path);
  const auto joined = [&resolved](const std::string& part) {
    if (resolved.empty()) return part;
    return resolved == "/" ? "/" + part : resolved + "/" + part;
  };
  int followed = 0;
  bool missing = false;
  while (!left.empty()) {
    const std::string part = left.front();
    left.erase(left.begin());
    const std::string candidate = joined(part);
    struct stat info {};
    if (part == "." || part == ".." || missing || ::lstat(candidate.c_str(), &info) != 0) {
      if (!missing && errno != ENOENT && part != "." && part != "..") return {};
      // ".." after a missing or plain folder is left to the open, as is what follows a missing one.
      missing = missing || (part != "." && part != "..");
      resolved = candidate;
      continue;
    }
    if (!S_ISLNK(info.st_mode)) {
      resolved = candidate;
      continue;
    }
    if (++followed > kMostLinksFollowed) return {};
    if (!LinkMayBeFollowed(resolved.empty() ? "." : resolved, info)) return {{}, candidate};
    std::string text(PATH_MAX, '\0');
    const ssize_t length = ::readlink(candidate.c_str(), text.data(), text.size());
    if (length <= 0 || static_cast<size_t>(length) >= text.size()) return {};
    text.resize(static_cast<size_t>(length));
    if (text.front() == '/') resolved = "/";
    push_parts(text);
  }
  return {resolved, {}};
}

// Temporary names: ".zelkgen-" and eight hexadecimal digits.
constexpr char kTemporaryPrefix[] = ".zelkgen-";
constexpr size_t kTemporaryTagLength = 8;
// A temporary of ours this old is left from an export that was killed.
constexpr auto kStaleAfter = std::chrono::hours(24);

// A short name nobody holds yet, made by try_name (which returns false with errno EEXIST for a
// taken name), so that the temporary fits wherever the target's own name fits.
template <typename TryName>
bool TakeTemporaryName(std::string* name, TryName try_name) {
  static std::atomic<uint32_t> counter{0};
  const auto now =
      static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  for (int attempt = 0; attempt < 100; ++attempt) {
    const uint32_t tag =
        (static_cast<uint32_t>(::getpid()) * 2654435761u) ^ (counter.fetch_add(1) * 40503u) ^ now;
    char text[24];
    std::snprintf(text, sizeof text, "%s%08x", kTemporaryPrefix, tag);
    *name = text;
    if (try_name(text)) return true;
    if (errno != EEXIST) return false;
  }
  return false;
}

bool IsTemporaryName(const char* name) {
  const size_t prefix = sizeof kTemporaryPrefix - 1;
  if (std::strncmp(name, kTemporaryPrefix, prefix) != 0) return false;
  if (std::strlen(name) != prefix + kTemporaryTagLength) return false;
  for (const char* c = name + prefix; *c != '\0'; ++c) {
    if (!std::isxdigit(static_cast<unsigned char>(*c))) return false;
  }
  return true;
}

// Removes this user's temporaries older than a day from the folder: what exports killed before
// they could clean up left where no unnamed temporary could be had. A folder that cannot be
// listed is left alone.
void RemoveStaleTemporaries(int folder) {
  const int listing = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing < 0) return;
  DIR* entries = ::fdopendir(listing);
  if (entries == nullptr) {
    ::close(listing);
    return;
  }
  const auto now = std::chrono::system_clock::now();
  while (const dirent* entry = ::readdir(entries)) {
    if (!IsTemporaryName(entry->d_name)) continue;
    struct stat info {};
    if (::fstatat(folder, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (!S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) continue;
    const auto modified = std::chrono::system_clock::from_time_t(info.st_mtim.tv_sec);
    if (now - modified >= kStaleAfter) ::unlinkat(folder, entry->d_name, 0);
  }
  ::closedir(entries);
}

// The written file under a name in the folder: the target's own when it does not exist yet (no
// one sees a partial name), else a temporary name then renamed over the target.
bool LinkIntoPlace(int fd, int folder, const std::string& name, bool exists) {
  // Linking an unnamed file takes its /proc path; AT_EMPTY_PATH would need a capability.
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  const auto link_as = [&](const char* as) {
    return ::linkat(AT_FDCWD, self.c_str(), folder, as, AT_SYMLINK_FOLLOW) == 0;
  };
  if (!exists && link_as(name.c_str())) return true;
  std::string temporary;
  if (!TakeTemporaryName(&temporary, link_as)) return false;
  if (::renameat(folder, temporary.c_str(), folder, name.c_str()) == 0) return true;
  ::unlinkat(folder, temporary.c_str(), 0);
  return false;
}

// Writes into a file with no name, which the system removes with everything in it should the
// process end before it is linked into place. -1 when the file system has no such files.
int OpenUnnamed(int folder) {
  if (::access("/proc/self/fd", X_OK) != 0) return -1;
  return ::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
}

bool ReplaceInFolder(int folder, const std::string& name, const ContentsWriter& write_contents) {
  struct stat existing {};
  const bool exists = ::fstatat(folder, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0;
  if (!exists && errno != ENOENT) return false;
  if (exists) {
    // Only a regular file can be replaced by one.
    if (!S_ISREG(existing.st_mode)) {
      if (S_ISDIR(existing.st_mode)) errno = EISDIR;
      return false;
    }
    // A file the user may not write is refused, as a shell redirection would refuse it.
    if (::faccessat(folder, name.c_str(), W_OK, AT_EACCESS) != 0) return false;
  }

  std::string temporary;  // empty while the file has no name
  int fd = OpenUnnamed(folder);
  if (fd < 0) {
    // Mode 0666: the umask applies.
    const auto create = [&](const char* as) {
      fd = ::openat(folder, as, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
      return fd >= 0;
    };
    if (!TakeTemporaryName(&temporary, create)) return false;
  }
  bool ok = true;
  if (exists) ok = ::fchmod(fd, existing.st_mode & 07777) == 0;
  ok = ok && write_contents(fd);
  ok = ok && ::fsync(fd) == 0;
  if (temporary.empty()) {
    ok = ok && LinkIntoPlace(fd, folder, name, exists);
    ok = (::close(fd) == 0) && ok;
  } else {
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::renameat(folder, temporary.c_str(), folder, name.c_str()) == 0;
    if (!ok) ::unlinkat(folder, temporary.c_str(), 0);
  }
  if (!ok) return false;
  // Make the new name itself durable; the data is already safe, so a failure here is not one.
  ::fsync(folder);
  RemoveStaleTemporaries(folder);
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
  const FinalNameResult final = FinalName(path);
  if (!final.refused_link.empty()) errno = EACCES;  // as the kernel refuses it
  if (final.name.empty()) return false;
  const std::string& target = final.name;
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

std::string WhyNotReplaced(const std::string& path, int cause) {
  if (!path.empty()) {
    const std::string link = FinalName(path).refused_link;
    if (!link.empty()) {
      return "'" + link +
             "' is a link another user made in a folder everybody may write; it is not followed";
    }
  }
  return cause != 0 ? std::strerror(cause) : "the file cannot be replaced";
}
