// A private X server for tests: Xvfb picks a free display number itself (-displayfd), so no
// search over numbers is needed, and it is ended with SIGTERM, so it removes its lock file and
// socket. Nothing of the user's own display is touched. Optionally the openbox window manager
// runs on it (title bars, focus, minimising); xdotool finds and clicks windows there.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

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
  // Starts openbox on the display and waits until it manages the screen.
  bool StartWindowManager(std::string* why);
  void Stop();
  // Ends the server at once (SIGKILL), as a crash would, and the window manager with it.
  void Kill();

  // ":<number>"; empty until started.
  const std::string& Display() const { return display_; }

  // Runs xdotool with arguments on the display; its first output line.
  std::string XdoTool(const std::vector<std::string>& arguments) const;
  // A visible window whose caption matches, waiting for it up to 10 s; empty if none.
  std::string FindWindow(const std::string& caption) const;
  // Clicks at window-relative x, y.
  void Click(const std::string& window, int x, int y) const;

 private:
  pid_t pid_ = -1;
  pid_t manager_pid_ = -1;
  std::string display_;
  ScratchDir dir_{"zelkgen-xvfb-"};
};
