#include "private_folder.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "regular_file.h"

namespace {

// True when nobody else can have made or replaced the folders above path: each one, up to /,
// belongs to this user or to root and nobody else may write in it, unless it is sticky (/tmp),
// where only an entry's owner may replace it.
bool OnlyThisUserMadeTheWay(const std::string& path, std::string* why) {
  for (std::string folder = path; folder.size() > 1;) {
    folder = folder.substr(0, std::max<size_t>(folder.find_last_of('/'), 1));
    struct stat info {};
    if (stat(folder.c_str(), &info) != 0) {
      *why = folder + ": " + std::strerror(errno);
      return false;
    }
    if ((info.st_uid != geteuid() && info.st_uid != 0) ||
        ((info.st_mode & 022) != 0 && (info.st_mode & S_ISVTX) == 0)) {
      *why = folder + " is open to other users";
      return false;
    }
  }
  return true;
}

// Makes path and the folders above it that are missing, each for this user only.
void MakeFolders(const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    mkdir(path.substr(0, slash).c_str(), 0700);
  }
  mkdir(path.c_str(), 0700);
}

// $XDG_STATE_HOME/zelkgen, else ~/.local/state/zelkgen; empty when there is no home.
std::string StateFolderPath() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') return std::string(state) + "/zelkgen";
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] != '/') {
    const passwd* entry = getpwuid(geteuid());
    home = entry != nullptr ? entry->pw_dir : nullptr;
  }
  if (home == nullptr || home[0] != '/') return {};
  return std::string(home) + "/.local/state/zelkgen";
}

}  // namespace

bool IsPrivateFolder(const std::string& path, std::string* why) {
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
  } else if (access(path.c_str(), W_OK | X_OK) != 0) {
    *why = path + " cannot be written";
  } else {
    return true;
  }
  return false;
}

std::string PrivateStateFolder(bool make, std::string* why) {
  const std::string folder = StateFolderPath();
  if (folder.empty()) {
    *why = "no home folder";
    return {};
  }
  if (make) MakeFolders(folder);
  if (!IsPrivateFolder(folder, why) || !OnlyThisUserMadeTheWay(folder, why)) return {};
  return folder;
}

bool ReadStateFile(const std::string& name, size_t most_bytes, std::string* bytes,
                   std::string* why) {
  bytes->clear();
  std::string folder_why;
  const std::string folder = PrivateStateFolder(false, &folder_why);
  if (folder.empty()) return true;  // nothing kept yet, or a folder another could have made
  const std::string path = folder + "/" + name;
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0 && errno == ENOENT) return true;
  std::FILE* file = OpenRegularFile(path, why, false);
  if (file == nullptr) {
    *why = path + ": " + *why;
    return false;
  }
  bytes->resize(most_bytes);
  const size_t size = std::fread(bytes->data(), 1, most_bytes, file);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  bytes->resize(size);
  if (failed) *why = path + ": cannot be read";
  return !failed;
}

bool WriteStateFile(const std::string& name, const std::string& bytes, std::string* why) {
  const std::string folder = PrivateStateFolder(true, why);
  if (folder.empty()) return false;
  const std::string path = folder + "/" + name;
  std::string temporary = path + ".XXXXXX";
  const int fd = mkostemp(temporary.data(), O_CLOEXEC);  // 0600
  if (fd < 0) {
    *why = folder + ": " + std::strerror(errno);
    return false;
  }
  size_t done = 0;
  errno = 0;
  while (done < bytes.size()) {
    const ssize_t written = write(fd, bytes.data() + done, bytes.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) break;
    done += static_cast<size_t>(written);
  }
  int cause = done == bytes.size() ? 0 : (errno != 0 ? errno : EIO);
  if (cause == 0 && fsync(fd) != 0) cause = errno;
  if (close(fd) != 0 && cause == 0) cause = errno;
  if (cause == 0 && rename(temporary.c_str(), path.c_str()) != 0) cause = errno;
  if (cause == 0) return true;
  unlink(temporary.c_str());
  *why = path + ": " + std::strerror(cause);
  return false;
}
