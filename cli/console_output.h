// Writing to standard output or standard error without ever stopping a run. A reader that has
// gone (`| head -c 10`, a closed tee, a dropped SSH session) fails the write, which is dropped
// (SIGPIPE is ignored, process_signals.h); a write that would block, on a terminal whose output is
// stopped (Ctrl+S) or into a full pipe, is skipped. A terminal, pipe or FIFO is opened again
// for this with O_NONBLOCK, so that the shell's own descriptor keeps its blocking mode; a file
// takes the write as it is, since a file never makes one wait.
#pragma once

#include <string_view>

class ConsoleOutput {
 public:
  // fd: STDOUT_FILENO or STDERR_FILENO.
  explicit ConsoleOutput(int fd);
  ConsoleOutput(const ConsoleOutput&) = delete;
  ConsoleOutput& operator=(const ConsoleOutput&) = delete;
  ~ConsoleOutput();

  bool IsTerminal() const { return terminal_; }
  // Writes text in one go; false when it was dropped or cut short.
  bool Write(std::string_view text);

 private:
  int fd_;
  bool own_ = false;  // fd_ is our own non-blocking description
  bool terminal_ = false;
};
