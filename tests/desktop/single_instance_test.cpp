// One copy at a time: the lock and the raise request in this process, then the real program
// twice (the second hands over to the first and ends), once killed (it blocks nothing), and
// under a window manager (the raise brings the minimised main window back).
#include "single_instance.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "desktop_fixture.h"
#include "private_dbus.h"
#include "private_xvfb.h"
#include "scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Sets an environment variable (or removes it, for nullopt) and puts it back afterwards.
class EnvironmentOverride {
 public:
  EnvironmentOverride(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
  ~EnvironmentOverride() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(SingleInstance, OneHolderAtATimeWhateverItsKindAndTheLockGoesWithIt) {
  ScratchDir runtime;
  EnvironmentOverride xdg("XDG_RUNTIME_DIR", runtime.Path().string());
  std::string why;
  auto first = std::make_unique<SingleInstance>();
  ASSERT_EQ(first->Acquire(true, &why), SingleInstance::Lock::Owned) << why;
  SingleInstance window_copy, player_copy;
  EXPECT_EQ(window_copy.Acquire(true, &why), SingleInstance::Lock::HeldElsewhere);
  EXPECT_EQ(player_copy.Acquire(false, &why), SingleInstance::Lock::HeldElsewhere);
  first.reset();
  EXPECT_EQ(player_copy.Acquire(false, &why), SingleInstance::Lock::Owned) << why;
  EXPECT_EQ(window_copy.Acquire(true, &why), SingleInstance::Lock::HeldElsewhere);
  EXPECT_TRUE(fs::exists(runtime.Path() / "zelkgen.lock"));
}

TEST(SingleInstance, ARaiseRequestReachesTheHolderWithTheLaunchersToken) {
  ScratchDir runtime;
  EnvironmentOverride xdg("XDG_RUNTIME_DIR", runtime.Path().string());
  struct Case {
    std::optional<std::string> activation_token;
    std::optional<std::string> startup_id;
    const char* passed_on;
  };
  const Case cases[] = {
      {"wayland-7f3a", std::nullopt, "wayland-7f3a"},
      {std::nullopt, "x11-launch_TIME42", "x11-launch_TIME42"},
      {"wayland-1", "x11-2", "wayland-1"},
      {std::nullopt, std::nullopt, ""},
  };
  std::string why;
  SingleInstance holder;
  ASSERT_EQ(holder.Acquire(true, &why), SingleInstance::Lock::Owned) << why;
  std::vector<QString> received;
  QObject::connect(&holder, &SingleInstance::RaiseRequested,
                   [&](const QString& token) { received.push_back(token); });
  // A request sent before the holder watches waits for it.
  ASSERT_TRUE(SingleInstance::RequestRaise());
  holder.WatchForRaise();
  ASSERT_EQ(received.size(), 1u);
  for (const Case& c : cases) {
    EnvironmentOverride token("XDG_ACTIVATION_TOKEN", c.activation_token);
    EnvironmentOverride startup("DESKTOP_STARTUP_ID", c.startup_id);
    received.clear();
    ASSERT_TRUE(SingleInstance::RequestRaise());
    EXPECT_TRUE(WaitUntil([&] { return !received.empty(); }));
    Settle(50);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].toStdString(), c.passed_on);
  }

  // A flood of requests makes a raise or two, not one each.
  received.clear();
  const int flood = socket(AF_UNIX, SOCK_DGRAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  (runtime.Path() / "zelkgen.socket").string().copy(address.sun_path, sizeof address.sun_path - 1);
  for (int i = 0; i < 5000; ++i) {
    sendto(flood, "raise", 5, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&address), sizeof address);
    if (i % 50 == 0) QCoreApplication::processEvents();
  }
  close(flood);
  Settle(600);
  EXPECT_GE(received.size(), 1u);
  EXPECT_LE(received.size(), 4u);
}

TEST(SingleInstance, APlayerListensToNoRaiseAndClearsAStaleSocket) {
  ScratchDir runtime;
  EnvironmentOverride xdg("XDG_RUNTIME_DIR", runtime.Path().string());
  // What a crashed windowed copy leaves: a socket file nobody reads.
  const std::string socket_path = (runtime.Path() / "zelkgen.socket").string();
  const int stale = socket(AF_UNIX, SOCK_DGRAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  socket_path.copy(address.sun_path, sizeof address.sun_path - 1);
  ASSERT_EQ(bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  close(stale);
  ASSERT_TRUE(fs::exists(socket_path));

  std::string why;
  SingleInstance player;
  ASSERT_EQ(player.Acquire(false, &why), SingleInstance::Lock::Owned) << why;
  EXPECT_FALSE(fs::exists(socket_path));
  EXPECT_FALSE(SingleInstance::RequestRaise());
}

// As an ordinary user, for whom permissions count; "another user" is root.
TEST(SingleInstance, WithoutAUsableRuntimeFolderTheStateFolderServesAndNobodyElseCanSwitchItOff) {
  const auto user = UnprivilegedUser();
  if (!user) GTEST_SKIP() << "no unprivileged user";
  struct Case {
    std::string runtime;     // "private", "open" (0777), "unwritable" (0500), "relative", "": unset
    std::string made_first;  // "tmp" (the old shared fallback, /tmp/zelkgen-<uid>, by another
                             // user), "state" (another user's), "state open", "state link",
                             // "home open"
    bool state_home;         // $XDG_STATE_HOME names the state folder's parent
    const char* why;         // nullptr: guarded, two copies never run at once
  };
  const Case cases[] = {
      {"private", "", false, nullptr},
      {"", "", false, nullptr},
      {"relative", "", false, nullptr},
      {"open", "", false, nullptr},
      {"unwritable", "", false, nullptr},
      {"", "tmp", false, nullptr},
      {"", "", true, nullptr},
      {"", "state", false, "belongs to another user"},
      {"", "state open", false, "is open to other users"},
      {"", "state link", false, "is not a directory"},
      {"", "home open", false, "is open to other users"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.runtime + "/" + c.made_first + (c.state_home ? "/XDG_STATE_HOME" : ""));
    ScratchDir runtime, home, temp;
    for (const fs::path& dir : {runtime.Path(), home.Path(), temp.Path()}) {
      ASSERT_EQ(chown(dir.c_str(), user->uid, user->gid), 0) << "not root";
    }
    chmod(runtime.Path().c_str(), c.runtime == "open"         ? 0777
                                  : c.runtime == "unwritable" ? 0500
                                                              : 0700);
    chmod(home.Path().c_str(), c.made_first == "home open" ? 0777 : 0700);
    const fs::path state = home.Path() / ".local/state/zelkgen";
    if (c.made_first == "tmp")
      fs::create_directory(temp.Path() / ("zelkgen-" + std::to_string(user->uid)));
    if (c.made_first.rfind("state", 0) == 0) {
      fs::create_directories(state.parent_path());
      chown(state.parent_path().c_str(), user->uid, user->gid);
      chown(state.parent_path().parent_path().c_str(), user->uid, user->gid);
      if (c.made_first == "state link") {
        fs::create_directory_symlink(temp.Path(), state);
      } else {
        fs::create_directory(state);
        if (c.made_first == "state open") chown(state.c_str(), user->uid, user->gid);
        chmod(state.c_str(), c.made_first == "state open" ? 0777 : 0700);
      }
    }
    const fs::path expected = c.runtime == "private" ? runtime.Path()
                              : c.state_home         ? home.Path() / "zelkgen"
                                                     : state;
    const int result = RunInChild(
        [&] {
          setenv("XDG_RUNTIME_DIR", c.runtime == "relative" ? "run/user" : runtime.Path().c_str(),
                 1);
          if (c.runtime.empty()) unsetenv("XDG_RUNTIME_DIR");
          setenv("HOME", home.Path().c_str(), 1);
          setenv("TMPDIR", temp.Path().c_str(), 1);
          setenv("XDG_STATE_HOME", home.Path().c_str(), 1);
          if (!c.state_home) unsetenv("XDG_STATE_HOME");
          std::string why;
          SingleInstance first, second;
          const SingleInstance::Lock lock = first.Acquire(true, &why);
          struct stat info {};
          const bool as_expected =
              c.why != nullptr
                  ? lock == SingleInstance::Lock::Unavailable &&
                        why.find(c.why) != std::string::npos
                  : lock == SingleInstance::Lock::Owned &&
                        second.Acquire(true, &why) == SingleInstance::Lock::HeldElsewhere &&
                        fs::exists(expected / "zelkgen.lock") &&
                        stat(expected.c_str(), &info) == 0 && (info.st_mode & 0777) == 0700;
          if (!as_expected) std::fprintf(stderr, "lock %d (%s)\n", int(lock), why.c_str());
          return as_expected ? 0 : 1;
        },
        user);
    EXPECT_EQ(result, 0);
  }
}

// The real program on Qt's offscreen platform, with a runtime directory of its own.
class RealProgram {
 public:
  explicit RealProgram(const fs::path& runtime_dir) {
    environment_ = {"QT_QPA_PLATFORM=offscreen", "SDL_AUDIODRIVER=dummy",
                    "XDG_RUNTIME_DIR=" + runtime_dir.string(),
                    "LSAN_OPTIONS=suppressions=" ZELKGEN_LSAN_SUPPRESSIONS};
    for (const std::string& entry : NoBusEnvironment()) environment_.push_back(entry);
  }
  ~RealProgram() {
    for (pid_t& pid : started_) TerminateChild(pid);
  }
  void Add(const std::string& entry) { environment_.push_back(entry); }
  // Every copy started is ended with the test, whatever it asserted.
  pid_t Start(const std::string& stderr_path = "", const std::string& program_file = "") {
    std::vector<std::string> argv = {ZELKGEN_PROGRAM};
    if (!program_file.empty()) argv.push_back(program_file);
    started_.push_back(SpawnChild(argv, environment_, "", stderr_path));
    return started_.back();
  }
  // WaitForExit, forgetting a copy once it has been reaped.
  int Wait(pid_t pid, int limit_ms) {
    const pid_t waited = pid;
    const int result = WaitForExit(pid, std::chrono::milliseconds(limit_ms));
    if (result >= 0) std::erase(started_, waited);
    return result;
  }
  bool Running(pid_t pid) { return Wait(pid, 0) < 0; }

 private:
  std::vector<std::string> environment_;
  std::vector<pid_t> started_;
};

TEST(OneCopyAtATime, ASecondCopyHandsOverAndEndsAndAKilledCopyBlocksNothing) {
  ScratchDir runtime;
  chmod(runtime.Path().c_str(), 0700);
  RealProgram program(runtime.Path());
  pid_t first = program.Start();
  ASSERT_GT(first, 0);
  // The lock and the socket come first in the start-up.
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(runtime.Path() / "zelkgen.socket"); }));

  pid_t second = program.Start();
  EXPECT_EQ(program.Wait(second, kWaitMs), 0);
  EXPECT_TRUE(program.Running(first));

  // A copy that holds the lock but does not answer (stopped, hung) is named, not obeyed.
  kill(first, SIGSTOP);
  const ScratchDir out;
  const std::string err = (out.Path() / "stderr").string();
  pid_t unanswered = program.Start(err);
  EXPECT_EQ(program.Wait(unanswered, 3000), 1);
  EXPECT_NE(ReadFile(err).find("(process " + std::to_string(first) +
                               ") holds the lock but does "
                               "not answer"),
            std::string::npos)
      << ReadFile(err);
  kill(first, SIGCONT);

  kill(first, SIGKILL);
  EXPECT_EQ(program.Wait(first, kWaitMs), 128 + SIGKILL);
  // The killed copy's lock file and socket are still there; the next copy starts all the same
  // and listens on a socket of its own (a stale one refuses what is sent to it).
  ASSERT_TRUE(fs::exists(runtime.Path() / "zelkgen.socket"));
  pid_t third = program.Start();
  ASSERT_GT(third, 0);
  EnvironmentOverride xdg("XDG_RUNTIME_DIR", runtime.Path().string());
  ASSERT_TRUE(WaitUntil([] { return SingleInstance::RequestRaise(); }));
  pid_t fourth = program.Start();
  EXPECT_EQ(program.Wait(fourth, kWaitMs), 0);
  EXPECT_TRUE(program.Running(third)) << "the copy after the killed one did not stay";
}

// A signal as soon as the lock is taken, long before the windows exist, ends the program as
// orderly as a later one.
TEST(OneCopyAtATime, ASignalAtTheStartEndsItWithStatusZeroAndLeavesNoSocket) {
  ScratchDir runtime;
  chmod(runtime.Path().c_str(), 0700);
  RealProgram program(runtime.Path());
  const pid_t pid = program.Start();
  ASSERT_GT(pid, 0);
  const fs::path socket_file = runtime.Path() / "zelkgen.socket";
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!fs::exists(socket_file) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(200us);
  }
  kill(pid, SIGTERM);
  EXPECT_EQ(program.Wait(pid, kWaitMs), 0);
  EXPECT_FALSE(fs::exists(socket_file));
}

// The X server goes away (a crash, a logout that leaves the program behind), with no run and in
// the middle of a step: the program ends within a second with one line, its socket gone and its
// lock given back, so the next start works.
TEST(OneCopyAtATime, LosingTheDisplayEndsTheCopyAtOnceAndTheNextOneStarts) {
  for (const bool step_running : {false, true}) {
    SCOPED_TRACE(step_running ? "during a step" : "without a run");
    PrivateXvfb xvfb;
    std::string why;
    if (!xvfb.Start(&why)) GTEST_SKIP() << why;
    ScratchDir runtime, out;
    chmod(runtime.Path().c_str(), 0700);
    RealProgram program(runtime.Path());
    program.Add("QT_QPA_PLATFORM=xcb");
    program.Add("DISPLAY=" + xvfb.Display());
    const std::string err = (out.Path() / "stderr").string();
    const pid_t first = program.Start(err);
    const std::string window = xvfb.FindWindow("Dr. Zelk frequency ganarator");
    ASSERT_FALSE(window.empty()) << "the main window did not appear";
    if (step_running) {
      xvfb.Click(window, 340, 76);  // "BX virus (cancer prevention)"
      ASSERT_FALSE(xvfb.FindWindow("Current frequency").empty()) << "no step started";
    }
    xvfb.Kill();
    EXPECT_EQ(program.Wait(first, 1000), 1);
    // Its own line, and none of Qt's (a run adds the inhibitor's, without buses here).
    std::istringstream said(ReadFile(err));
    int display_lines = 0;
    for (std::string line; std::getline(said, line);) {
      EXPECT_EQ(line.rfind("zelkgen: ", 0), 0u) << line;
      display_lines += line.rfind("zelkgen: the display went away (", 0) == 0;
    }
    EXPECT_EQ(display_lines, 1);
    EXPECT_FALSE(fs::exists(runtime.Path() / "zelkgen.socket"));

    ASSERT_TRUE(xvfb.Start(&why)) << why;
    program.Add("DISPLAY=" + xvfb.Display());
    const pid_t next = program.Start();
    EXPECT_FALSE(xvfb.FindWindow("Dr. Zelk frequency ganarator").empty());
    EXPECT_TRUE(program.Running(next));
  }
}

TEST(OneCopyAtATime, TheSecondCopyBringsTheMinimisedMainWindowBack) {
  PrivateXvfb xvfb;
  std::string why;
  if (!xvfb.Start(&why) || !xvfb.StartWindowManager(&why)) GTEST_SKIP() << why;
  ScratchDir runtime;
  chmod(runtime.Path().c_str(), 0700);
  RealProgram program(runtime.Path());
  program.Add("QT_QPA_PLATFORM=xcb");
  program.Add("DISPLAY=" + xvfb.Display());
  pid_t first = program.Start();
  ASSERT_GT(first, 0);
  const std::string caption = "Dr. Zelk frequency ganarator";
  const std::string window = xvfb.FindWindow(caption);
  ASSERT_FALSE(window.empty()) << "the main window did not appear";

  xvfb.XdoTool({"windowminimize", "--sync", window});
  const std::vector<std::string> visible_search = {"search", "--onlyvisible", "--name", caption};
  ASSERT_TRUE(WaitUntil([&] { return xvfb.XdoTool(visible_search).empty(); }))
      << "the window manager did not minimise the window";

  pid_t second = program.Start();
  EXPECT_EQ(program.Wait(second, kWaitMs), 0);
  EXPECT_TRUE(WaitUntil([&] { return xvfb.XdoTool(visible_search) == window; }))
      << "the main window stayed minimised";
  EXPECT_TRUE(WaitUntil([&] { return xvfb.XdoTool({"getactivewindow"}) == window; }))
      << "the main window is not the active one";
}

// Started with a file with errors, then flooded with 10 000 more from later starts (sent
// straight to the socket): one errors view stands at any time, a raise is answered within a
// second throughout, and the main window's close box ends the program, its socket gone.
TEST(OneCopyAtATime, AFloodOfFilesWithErrorsKeepsOneErrorsViewAndTheWindowAnswering) {
  if (!OnPath("wmctrl")) GTEST_SKIP() << "wmctrl is not installed";
  PrivateXvfb xvfb;
  std::string why;
  if (!xvfb.Start(&why) || !xvfb.StartWindowManager(&why)) GTEST_SKIP() << why;
  ScratchDir runtime;
  chmod(runtime.Path().c_str(), 0700);
  const fs::path bad = runtime.Path() / "bad.zelkgen";
  std::ofstream(bad) << "zelkgen program: Bad\n0\n";
  RealProgram program(runtime.Path());
  program.Add("QT_QPA_PLATFORM=xcb");
  program.Add("DISPLAY=" + xvfb.Display());
  program.Add("XDG_STATE_HOME=" + (runtime.Path() / "state").string());
  pid_t pid = program.Start("", bad.string());
  const std::string main_window = xvfb.FindWindow("Dr. Zelk frequency ganarator");
  ASSERT_FALSE(main_window.empty()) << "the main window did not appear";
  ASSERT_FALSE(xvfb.FindWindow("Programs").empty()) << "no errors view at the start";

  EnvironmentOverride xdg("XDG_RUNTIME_DIR", runtime.Path().string());
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socket_path = (runtime.Path() / "zelkgen.socket").string();
  std::memcpy(address.sun_path, socket_path.c_str(), socket_path.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  // A full queue waits for the window to read; a window that stops reading fails the send.
  const timeval limit{5, 0};
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  const std::string request = "raise\n\n" + bad.string();
  for (int i = 1; i <= 10000; ++i) {
    ASSERT_GE(sendto(fd, request.data(), request.size(), 0,
                     reinterpret_cast<const sockaddr*>(&address), sizeof address),
              0)
        << "request " << i << " not taken";
    // Spread over some two seconds, so that the window opens the files several times.
    if (i % 100 == 0) std::this_thread::sleep_for(20ms);
    if (i % 2500 == 0) {
      bool answered = false;
      EXPECT_TRUE(SingleInstance::RequestRaise({}, 1000, &answered) && answered)
          << "no answer after " << i << " files";
    }
  }
  close(fd);
  std::this_thread::sleep_for(500ms);
  const ProgramRun views =
      RunProgram({"xdotool", "search", "--onlyvisible", "--name", "^Programs$"},
                 {"DISPLAY=" + xvfb.Display()}, runtime.Path().string());
  EXPECT_EQ(std::count(views.out.begin(), views.out.end(), '\n'), 1)
      << "errors views: " << views.out;
  RunProgram({"wmctrl", "-i", "-c", main_window}, {"DISPLAY=" + xvfb.Display()},
             runtime.Path().string());
  EXPECT_EQ(program.Wait(pid, 1000), 0) << "the close box did not end the program";
  EXPECT_FALSE(fs::exists(socket_path));
}

}  // namespace
