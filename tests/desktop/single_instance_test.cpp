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

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
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
    const char* name;
    const char* runtime;  // "private", "open" (0777), "unwritable" (0500), "relative", or unset
    const char*
        made_first;   // what another user (or the user) made first: "tmp" (the old
                      // /tmp/zelkgen-<uid>), "state", "state open", "state link", "home open"
    bool state_home;  // $XDG_STATE_HOME names the state folder's parent
    const char* why;  // nullptr: guarded, two copies never run at once
  };
  const Case cases[] = {
      {"private runtime folder", "private", nullptr, false, nullptr},
      {"no runtime folder", nullptr, nullptr, false, nullptr},
      {"relative runtime folder", "relative", nullptr, false, nullptr},
      {"runtime folder open to all", "open", nullptr, false, nullptr},
      {"unwritable runtime folder", "unwritable", nullptr, false, nullptr},
      {"the old shared fallback taken by another user", nullptr, "tmp", false, nullptr},
      {"$XDG_STATE_HOME", nullptr, nullptr, true, nullptr},
      {"state folder of another user", nullptr, "state", false, "belongs to another user"},
      {"state folder open to all", nullptr, "state open", false, "is open to other users"},
      {"state folder a link", nullptr, "state link", false, "is not a directory"},
      {"home open to all", nullptr, "home open", false, "is open to other users"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir runtime, home, temp;
    const std::string made = c.made_first ? c.made_first : "";
    for (const fs::path& dir : {runtime.Path(), home.Path(), temp.Path()}) {
      ASSERT_EQ(chown(dir.c_str(), user->uid, user->gid), 0) << "not root";
    }
    chmod(runtime.Path().c_str(), std::string(c.runtime ? c.runtime : "") == "open"         ? 0777
                                  : std::string(c.runtime ? c.runtime : "") == "unwritable" ? 0500
                                                                                            : 0700);
    chmod(home.Path().c_str(), made == "home open" ? 0777 : 0700);
    const fs::path state = home.Path() / ".local/state/zelkgen";
    if (made == "tmp") fs::create_directory(temp.Path() / ("zelkgen-" + std::to_string(user->uid)));
    if (made.rfind("state", 0) == 0) {
      fs::create_directories(state.parent_path());
      chown(state.parent_path().c_str(), user->uid, user->gid);
      chown(state.parent_path().parent_path().c_str(), user->uid, user->gid);
      if (made == "state link") {
        fs::create_directory_symlink(temp.Path(), state);
      } else {
        fs::create_directory(state);
        chmod(state.c_str(), made == "state open" ? 0777 : 0700);
        if (made == "state open") chown(state.c_str(), user->uid, user->gid);
      }
    }
    const bool in_runtime = std::string(c.runtime ? c.runtime : "") == "private";
    const fs::path expected = in_runtime     ? runtime.Path()
                              : c.state_home ? home.Path() / "zelkgen"
                                             : state;
    const int result = RunInChild(
        [&] {
          if (c.runtime == nullptr) {
            unsetenv("XDG_RUNTIME_DIR");
          } else {
            setenv("XDG_RUNTIME_DIR",
                   std::string(c.runtime) == "relative" ? "run/user" : runtime.Path().c_str(), 1);
          }
          setenv("HOME", home.Path().c_str(), 1);
          setenv("TMPDIR", temp.Path().c_str(), 1);
          if (c.state_home) {
            setenv("XDG_STATE_HOME", home.Path().c_str(), 1);
          } else {
            unsetenv("XDG_STATE_HOME");
          }
          std::string why;
          SingleInstance first, second;
          const SingleInstance::Lock lock = first.Acquire(true, &why);
          if (c.why != nullptr) {
            if (lock == SingleInstance::Lock::Unavailable && why.find(c.why) != std::string::npos)
              return 0;
            std::fprintf(stderr, "lock %d (%s)\n", int(lock), why.c_str());
            return 1;
          }
          struct stat info {};
          if (lock != SingleInstance::Lock::Owned ||
              second.Acquire(true, &why) != SingleInstance::Lock::HeldElsewhere ||
              !fs::exists(expected / "zelkgen.lock") || stat(expected.c_str(), &info) != 0 ||
              (info.st_mode & 0777) != 0700) {
            std::fprintf(stderr, "lock %d (%s), not guarded in %s\n", int(lock), why.c_str(),
                         expected.c_str());
            return 1;
          }
          return 0;
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
  pid_t Start(const std::string& stderr_path = "") {
    started_.push_back(SpawnChild({ZELKGEN_PROGRAM}, environment_, "", stderr_path));
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

}  // namespace
