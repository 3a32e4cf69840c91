// Measures how long a program takes from launch until a top-level window with a given caption is
// mapped on the X display, and the program's peak resident memory at that point.
//
//   window_watch "<caption>" <program> [args...]
// prints "<milliseconds> <peak KiB>" and ends the program. Run it under a bare X server (no
// window manager), so top-level windows are children of the root window.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

namespace {

bool HasCaption(Display* display, Window window, const char* caption) {
  char* name = nullptr;
  if (XFetchName(display, window, &name) == 0 || name == nullptr) return false;
  const bool match = std::strcmp(name, caption) == 0;
  XFree(name);
  return match;
}

long PeakResidentKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: window_watch <caption> <program> [args...]\n");
    return 2;
  }
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "cannot open the X display\n");
    return 2;
  }
  XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
  XSync(display, False);

  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    execvp(argv[2], argv + 2);
    _exit(127);
  }
  const auto deadline = start + std::chrono::seconds(20);
  double elapsed_ms = -1.0;
  while (elapsed_ms < 0.0 && std::chrono::steady_clock::now() < deadline) {
    while (XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
      if (event.type == MapNotify && HasCaption(display, event.xmap.window, argv[1])) {
        elapsed_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() -
                                                               start)
                         .count();
        break;
      }
    }
    if (elapsed_ms < 0.0) std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  const long peak = PeakResidentKiB(pid);
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  XCloseDisplay(display);
  if (elapsed_ms < 0.0) {
    std::fprintf(stderr, "no window \"%s\" appeared\n", argv[1]);
    return 1;
  }
  std::printf("%.1f %ld\n", elapsed_ms, peak);
  return 0;
}
