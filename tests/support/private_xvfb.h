// A private X server for tests: Xvfb picks a free display number itself (-displayfd), so no
// search over numbers is needed, and it is ended with SIGTERM, so it removes its lock file and
// socket. Nothing of the user's own display is touched.
#pragma once

#include <sys/types.h>

#include <string>

#include "scratch_dir.h"

class PrivateXvfb {
 public:
  PrivateXvfb() = default;
  PrivateXvfb(const PrivateXvfb&) = delete;
  PrivateXvfb& operator=(const PrivateXvfb&) = delete;
  ~PrivateXvfb();

  // Starts the server and waits until it accepts clients. On failure returns false with the
  // reason (for a test skip message) and leaves nothing running.
  bool Start(std::string* why);
  void Stop();

  // ":<number>"; empty until started.
  const std::string& Display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
  ScratchDir dir_{"zelkgen-xvfb-"};
};
