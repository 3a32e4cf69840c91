#include "private_xvfb.h"

#include <chrono>
#include <fstream>
#include <thread>

#include "child_process.h"

PrivateXvfb::~PrivateXvfb() {
  Stop();
}

bool PrivateXvfb::Start(std::string* why) {
  Stop();
  if (!dir_.Created()) {
    *why = "cannot create a temporary directory";
    return false;
  }
  // Xvfb writes the display number it chose, and a line break, once it accepts clients.
  const std::string number_file = (dir_.Path() / "display").string();
  pid_ = SpawnChild({"Xvfb", "-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"},
                    {}, number_file);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (pid_ > 0 && std::chrono::steady_clock::now() < deadline) {
    std::string line;
    std::ifstream file(number_file);
    if (std::getline(file, line) && !file.eof() && !line.empty()) {
      display_ = ":" + line;
      return true;
    }
    if (WaitForExit(pid_, std::chrono::milliseconds(20)) >= 0) break;
  }
  Stop();
  *why = "no Xvfb display could be started";
  return false;
}

void PrivateXvfb::Stop() {
  TerminateChild(pid_);
  display_.clear();
}
