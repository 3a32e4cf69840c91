#include "private_xvfb.h"

#include <signal.h>
#include <unistd.h>

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

bool PrivateXvfb::StartWindowManager(std::string* why) {
  if (!OnPath("openbox")) {
    *why = "openbox is not installed";
    return false;
  }
  // openbox runs its start-up command once it manages the screen; a window mapped before that
  // may be lost.
  const std::string ready = (dir_.Path() / "openbox-ready").string();
  manager_pid_ = SpawnChild({"openbox", "--startup", "touch " + ready}, {"DISPLAY=" + display_});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (manager_pid_ > 0 && std::chrono::steady_clock::now() < deadline) {
    if (access(ready.c_str(), F_OK) == 0) return true;
    if (WaitForExit(manager_pid_, std::chrono::milliseconds(20)) >= 0) break;
  }
  TerminateChild(manager_pid_);
  *why = "openbox did not start";
  return false;
}

std::string PrivateXvfb::XdoTool(const std::vector<std::string>& arguments) const {
  std::vector<std::string> argv = {"xdotool"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  const ScratchDir folder("zelkgen-xdotool-");
  const std::string output =
      RunProgram(argv, {"DISPLAY=" + display_}, folder.Path().string(), std::chrono::seconds(10))
          .out;
  return output.substr(0, output.find_first_of("\r\n"));
}

std::string PrivateXvfb::FindWindow(const std::string& caption) const {
  return XdoTool({"search", "--sync", "--onlyvisible", "--name", caption});
}

void PrivateXvfb::Click(const std::string& window, int x, int y) const {
  XdoTool({"mousemove", "--window", window, std::to_string(x), std::to_string(y), "click", "1"});
}

void PrivateXvfb::Kill() {
  if (pid_ > 0) kill(pid_, SIGKILL);
  const std::string number = display_.empty() ? "" : display_.substr(1);
  Stop();
  // What a killed server cannot remove itself.
  if (!number.empty()) {
    unlink(("/tmp/.X" + number + "-lock").c_str());
    unlink(("/tmp/.X11-unix/X" + number).c_str());
  }
}

void PrivateXvfb::Stop() {
  TerminateChild(manager_pid_);
  TerminateChild(pid_);
  display_.clear();
}
