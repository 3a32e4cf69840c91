#include "regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

std::FILE* OpenRegularFile(const std::string& path, std::string* why, bool follow_link) {
  // O_NONBLOCK: opening a pipe without a writer, or a device, returns at once.
  const int fd = open(
      path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (follow_link ? 0 : O_NOFOLLOW));
  if (fd < 0) {
    *why = errno == ELOOP && !follow_link ? "a symbolic link" : std::strerror(errno);
    return nullptr;
  }
  struct stat info {};
  std::FILE* file = nullptr;
  if (fstat(fd, &info) != 0) {
    *why = std::strerror(errno);
  } else if (S_ISDIR(info.st_mode)) {
    *why = std::strerror(EISDIR);
  } else if (!S_ISREG(info.st_mode)) {
    *why = "not a regular file";
  } else if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    // A regular file's reads wait for the disk only, as reads of any file do.
    *why = std::strerror(errno);
  } else {
    file = fdopen(fd, "rb");
    if (file == nullptr) *why = std::strerror(errno);
  }
  if (file == nullptr) close(fd);
  return file;
}
