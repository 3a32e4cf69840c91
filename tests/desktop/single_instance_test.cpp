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

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "child_process.h"
#include "desktop_fixture.h"
#include "private_dbus.h"
#include "private_xvfb.h"
#include "scratch_dir.h"

namespace {

namespace fs = std::filesystem;

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

TEST(SingleInstance, WithoutAPrivateRuntimeDirectoryAPrivateTemporaryOneServes) {
  struct Case {
    const char* name;
    const char* runtime_dir;  // "private", "open" (0777), "relative", or nullptr for unset
    const char* made_first;   // the fallback as found: nullptr (missing), "private", "open",
                              // "foreign" (another user's), "link" (a symbolic link)
    bool guarded;
    const char* why;  // for an unguarded start
  };
  const Case cases[] = {
      {"runtime dir", "private", nullptr, true, nullptr},
      {"no runtime dir", nullptr, nullptr, true, nullptr},
      {"relative runtime dir", "relative", "private", true, nullptr},
      {"runtime dir open to all", "open", nullptr, true, nullptr},
      {"fallback open to all", nullptr, "open", false, "is open to other users"},
      {"fallback of another user", nullptr, "foreign", false, "belongs to another user"},
      {"fallback a link", nullptr, "link", false, "is not a directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir runtime, temp, elsewhere;
    chmod(runtime.Path().c_str(), 0700);
    std::optional<std::string> runtime_value;
    if (c.runtime_dir != nullptr) {
      runtime_value =
          std::string(c.runtime_dir) == "relative" ? "run/user" : runtime.Path().string();
      if (std::string(c.runtime_dir) == "open") chmod(runtime.Path().c_str(), 0777);
    }
    const fs::path fallback = temp.Path() / ("zelkgen-" + std::to_string(geteuid()));
    if (c.made_first != nullptr) {
      const std::string made = c.made_first;
      if (made == "link") {
        fs::create_symlink(elsewhere.Path(), fallback);
      } else {
        fs::create_directory(fallback);
        chmod(fallback.c_str(), made == "open" ? 0777 : 0700);
        if (made == "foreign" && chown(fallback.c_str(), 65534, 65534) != 0) {
          GTEST_SKIP() << "cannot give a directory to another user (not root)";
        }
      }
    }
    EnvironmentOverride xdg("XDG_RUNTIME_DIR", runtime_value);
    EnvironmentOverride tmp("TMPDIR", temp.Path().string());

    std::string why;
    SingleInstance instance;
    const SingleInstance::Lock lock = instance.Acquire(true, &why);
    if (!c.guarded) {
      EXPECT_EQ(lock, SingleInstance::Lock::Unavailable);
      EXPECT_NE(why.find(c.why), std::string::npos) << why;
      EXPECT_TRUE(fs::is_empty(elsewhere.Path()));
      continue;
    }
    ASSERT_EQ(lock, SingleInstance::Lock::Owned) << why;
    const bool in_runtime = c.runtime_dir != nullptr && std::string(c.runtime_dir) == "private";
    const fs::path dir = in_runtime ? runtime.Path() : fallback;
    EXPECT_TRUE(fs::exists(dir / "zelkgen.lock"));
    EXPECT_TRUE(fs::exists(dir / "zelkgen.socket"));
    struct stat info {};
    ASSERT_EQ(stat(dir.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
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
  pid_t Start() {
    started_.push_back(SpawnChild({ZELKGEN_PROGRAM}, environment_));
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
