#include "console_output.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

ConsoleOutput::ConsoleOutput(int fd) : fd_(fd), terminal_(isatty(fd) == 1) {
  struct stat info {};
  if (fstat(fd, &info) != 0 || !(S_ISCHR(info.st_mode) || S_ISFIFO(info.st_mode))) return;
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  const int own = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (own < 0) return;
  fd_ = own;
  own_ = true;
}

ConsoleOutput::~ConsoleOutput() {
  if (own_) close(fd_);
}

bool ConsoleOutput::Write(std::string_view text) {
  if (!own_) {
    // A socket, or a terminal that could not be opened again: write only when it takes data.
    struct stat info {};
    pollfd ready{fd_, POLLOUT, 0};
    if (fstat(fd_, &info) == 0 && !S_ISREG(info.st_mode) &&
        (poll(&ready, 1, 0) != 1 || (ready.revents & POLLOUT) == 0)) {
      return false;
    }
  }
  ssize_t written = -1;
  do {
    written = write(fd_, text.data(), text.size());
  } while (written < 0 && errno == EINTR);
  return written == static_cast<ssize_t>(text.size());
}
