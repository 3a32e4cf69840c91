// The desktop services of a treatment run against mocked services on private buses: the
// inhibitor against suspend and blanking (portal, else logind and the screen saver), the task
// bar progress, the notification at the end, and what stays held when the process ends.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "app_fixture.h"
#include "audio_output_testing.h"
#include "child_process.h"
#include "desktop_fixture.h"
#include "desktop_run_services.h"
#include "launcher_progress.h"
#include "run_inhibitor.h"
#include "run_notifier.h"
#include "treatment_programs.h"

namespace {

const QString kLogindHeld = "sleep:idle|zelkgen|Playing BX virus|block";

// Records the launcher entry's Update signals seen on the session bus.
class LauncherListener : public QObject {
  Q_OBJECT

 public:
  struct Update {
    QString uri;
    double progress = -1;
    bool visible = false;
  };

  LauncherListener() {
    ProbeBus(TestBus::kSession)
        .connect(QString(), QString(), "com.canonical.Unity.LauncherEntry", "Update", this,
                 SLOT(Updated(QString, QVariantMap)));
  }
  ~LauncherListener() override {
    ProbeBus(TestBus::kSession)
        .disconnect(QString(), QString(), "com.canonical.Unity.LauncherEntry", "Update", this,
                    SLOT(Updated(QString, QVariantMap)));
  }

  std::vector<Update> updates;

 public slots:
  void Updated(const QString& uri, const QVariantMap& properties) {
    updates.push_back({uri, properties.value("progress", -1.0).toDouble(),
                       properties.value("progress-visible").toBool()});
  }
};

TEST(RunEndSummary, NamesTheProgramAndHowItsRunEnded) {
  struct Case {
    const char* program;
    RunOutcome how;
    int step;
    int step_count;
    const char* summary;
  };
  const Case cases[] = {
      {"Zelk general", RunOutcome::Finished, 10, 10, "Zelk general: finished"},
      {"BX virus", RunOutcome::Stopped, 1, 2, "BX virus: stopped at step 1 of 2"},
      {"BX virus", RunOutcome::Failed, 2, 2, "BX virus: failed at step 2 of 2"},
      {"Zelk general", RunOutcome::Stopped, 9, 10, "Zelk general: stopped at step 9 of 10"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RunEndSummary(c.program, c.how, c.step, c.step_count).toStdString(), c.summary);
  }
}

struct InhibitCase {
  const char* name;
  std::string portal;  // "" none, "ok", or how it fails
  bool logind;
  bool screen_saver;
  bool held_by_portal;
  bool held_by_fallback;  // logind where it runs, the screen saver where it runs
  const char* line;       // what the one line on stderr says is missing, or nullptr
};

TEST(RunInhibitor, HoldsWhereTheDesktopOffersAndGivesAllBackAtRelease) {
  SKIP_WITHOUT_BUSES();
  const InhibitCase cases[] = {
      {"portal", "ok", true, true, true, false, nullptr},
      {"no portal", "", true, true, false, true, nullptr},
      {"portal without inhibit", "call", true, true, false, true, nullptr},
      {"portal refusing", "response", true, true, false, true, nullptr},
      {"logind only", "", true, false, false, true, "from blanking the screen during the run"},
      {"screen saver only", "", false, true, false, true, "from suspending during the run"},
  };
  for (const InhibitCase& c : cases) {
    SCOPED_TRACE(c.name);
    InhibitServices services(c.portal, c.logind, c.screen_saver);
    std::string why;
    ASSERT_TRUE(services.Start(&why)) << why;
    StderrCapture errors;
    RunInhibitor inhibitor;
    inhibitor.Hold("Playing BX virus");
    inhibitor.Hold("Playing BX virus");  // a second Hold takes nothing more

    const bool logind_held = c.held_by_fallback && c.logind;
    const bool screen_saver_held = c.held_by_fallback && c.screen_saver;
    EXPECT_TRUE(WaitUntil([&] {
      return (!c.held_by_portal || PortalInhibitions().size() == 1) &&
             (!logind_held || LogindInhibitors() == QStringList{kLogindHeld}) &&
             (!screen_saver_held || ScreenSaverCookies().size() == 1) &&
             (c.line == nullptr || errors.Lines().size() == 1);
    }));
    Settle(300);
    const bool with_portal = !c.portal.empty();
    if (c.held_by_portal) {
      EXPECT_EQ(PortalInhibitions().size(), 1);
      // Suspend (4) and idle (8), with the reason.
      EXPECT_EQ(
          services.portal_mock.LogLines("Inhibit \"\" 12 {\"handle_token\": \"zelkgen").size(), 1u);
      EXPECT_EQ(services.portal_mock.LogLines("\"reason\": \"Playing BX virus\"").size(), 1u);
    }
    if (c.portal == "response") {
      EXPECT_EQ(services.portal_mock.LogLines("refused").size(), 1u);
    }
    if (c.logind) {
      EXPECT_EQ(LogindInhibitors(), logind_held ? QStringList{kLogindHeld} : QStringList{});
    }
    if (c.screen_saver) {
      EXPECT_EQ(ScreenSaverCookies().size(), screen_saver_held ? 1 : 0);
      EXPECT_EQ(
          services.screen_saver_mock.LogLines("Inhibit \"zelkgen\" \"Playing BX virus\"").size(),
          screen_saver_held ? 1u : 0u);
    }
    const std::vector<std::string> lines = errors.Lines();
    ASSERT_EQ(lines.size(), c.line == nullptr ? 0u : 1u);
    if (c.line != nullptr) {
      EXPECT_NE(lines[0].find(std::string("zelkgen: cannot keep the computer ") + c.line),
                std::string::npos)
          << lines[0];
    }

    inhibitor.Release();
    EXPECT_TRUE(WaitUntil([&] {
      return (!with_portal || PortalInhibitions().isEmpty()) &&
             (!c.logind || LogindInhibitors().isEmpty()) &&
             (!c.screen_saver || ScreenSaverCookies().isEmpty());
    }));
    // Given back by this process, not dropped by the bus: its connection is still there.
    if (c.held_by_portal) {
      EXPECT_EQ(services.portal_mock.LogLines("closed").size(), 1u);
    }
    if (screen_saver_held) {
      EXPECT_EQ(services.screen_saver_mock.LogLines("UnInhibit 7001").size(), 1u);
    }
  }
}

TEST(RunInhibitor, AnswersArrivingAfterReleaseAreGivenBackAtOnce) {
  SKIP_WITHOUT_BUSES();
  for (const std::string portal : {"ok", ""}) {
    SCOPED_TRACE(portal.empty() ? "logind and screen saver" : "portal");
    // Without a portal, the screen saver answers late enough for the run to have ended.
    InhibitServices services(portal, true, true, portal.empty() ? "{\"delay_ms\": 500}" : "");
    std::string why;
    ASSERT_TRUE(services.Start(&why)) << why;
    StderrCapture errors;
    RunInhibitor inhibitor;
    inhibitor.Hold("Playing BX virus");
    if (portal.empty()) {
      ASSERT_TRUE(
          WaitUntil([&] { return !services.screen_saver_mock.LogLines("Inhibit").empty(); }));
    }
    inhibitor.Release();  // before the answer
    EXPECT_TRUE(WaitUntil([&] {
      return (portal.empty() || PortalInhibitions().isEmpty()) && LogindInhibitors().isEmpty() &&
             ScreenSaverCookies().isEmpty();
    }));
    if (portal.empty()) {
      EXPECT_EQ(services.screen_saver_mock.LogLines("UnInhibit 7001").size(), 1u);
    } else {
      EXPECT_EQ(services.portal_mock.LogLines("closed").size(), 1u);
    }
    Settle(300);
    EXPECT_TRUE(errors.Lines().empty());
  }
}

TEST(DesktopRunServices, EveryEndOfARunReleasesHidesTheProgressAndNotifiesOnce) {
  SKIP_WITHOUT_BUSES();
  struct Case {
    const TreatmentProgram& program;
    RunOutcome how;
    int last_step;
    const char* detail;
    const char* summary;
    int urgency;  // 1 normal, 2 critical
  };
  const Case cases[] = {
      {ZelkGeneralProgram, RunOutcome::Finished, 10, "", "Zelk general: finished", 1},
      {BXVirusProgram, RunOutcome::Stopped, 1, "", "BX virus: stopped at step 1 of 2", 1},
      {BXVirusProgram, RunOutcome::Failed, 2,
       "Wiedergabe kann nicht gestartet werden. (error code: 3)", "BX virus: failed at step 2 of 2",
       2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.summary);
    const QString program = QString::fromStdString(c.program.Name);
    const int step_count = int(c.program.Steps.size());
    InhibitServices services("", true, true);
    DBusMock notifications(TestBuses(), TestBus::kSession, "notification_daemon",
                           "org.freedesktop.Notifications");
    std::string why;
    ASSERT_TRUE(services.Start(&why) && notifications.Start(&why)) << why;
    LauncherListener launcher;
    DesktopRunServices desktop;

    for (int step = 1; step <= c.last_step; ++step) {
      desktop.StepStarted(program, step, step_count);
      ASSERT_TRUE(WaitUntil([&] { return launcher.updates.size() == size_t(step); }));
      if (step == 1) {
        // Held from the first step on, and only once for the run.
        EXPECT_TRUE(WaitUntil(
            [&] { return LogindInhibitors().size() == 1 && ScreenSaverCookies().size() == 1; }));
        EXPECT_EQ(LogindInhibitors().at(0).section('|', 2, 2).toStdString(),
                  "Playing " + program.toStdString());
      }
    }
    desktop.RunEnded(program, c.how, c.last_step, step_count, c.detail);
    EXPECT_TRUE(WaitUntil([&] {
      return LogindInhibitors().isEmpty() && ScreenSaverCookies().isEmpty() &&
             launcher.updates.size() == size_t(c.last_step) + 1 &&
             !notifications.LogLines("Notify").empty();
    }));
    Settle(300);

    // The task bar shows the share of the run before each step, then nothing.
    ASSERT_EQ(launcher.updates.size(), size_t(c.last_step) + 1);
    for (int step = 1; step <= c.last_step; ++step) {
      const LauncherListener::Update& update = launcher.updates[step - 1];
      EXPECT_EQ(update.uri.toStdString(), "application://org.zelkgen.Zelkgen.desktop");
      EXPECT_DOUBLE_EQ(update.progress, double(step - 1) / step_count);
      EXPECT_TRUE(update.visible);
    }
    EXPECT_FALSE(launcher.updates.back().visible);
    EXPECT_EQ(services.screen_saver_mock.LogLines("Inhibit \"zelkgen\"").size(), 1u);

    const std::vector<std::string> notified = notifications.LogLines("Notify");
    ASSERT_EQ(notified.size(), 1u);
    const std::string expected = std::string("Notify \"zelkgen\" 0 \"org.zelkgen.Zelkgen\" \"") +
                                 c.summary + "\" \"" + c.detail + "\" []";
    EXPECT_NE(notified[0].find(expected), std::string::npos) << notified[0];
    EXPECT_NE(notified[0].find("\"urgency\": " + std::to_string(c.urgency)), std::string::npos)
        << notified[0];
  }
}

TEST(DesktopRunServices, TheTaskBarFollowsTheRunsTimeAndAPauseGivesTheInhibitorBack) {
  SKIP_WITHOUT_BUSES();
  InhibitServices services("", true, true);
  std::string why;
  ASSERT_TRUE(services.Start(&why)) << why;
  LauncherListener launcher;
  DesktopRunServices desktop;
  const auto held = [] { return LogindInhibitors().size() == 1; };
  desktop.StepStarted("BX virus", 1, 2);
  ASSERT_TRUE(WaitUntil(held));
  // 1:30 into the first of two three-minute steps, then paused there.
  StepProgress progress{1, 2, nullptr, 90000, 270000, 360000, false};
  desktop.RunProgress(progress);
  desktop.StepPaused();
  EXPECT_TRUE(WaitUntil([] { return LogindInhibitors().isEmpty(); }));
  progress.paused = true;
  desktop.RunProgress(progress);
  desktop.StepResumed("BX virus");
  EXPECT_TRUE(WaitUntil(held));
  ASSERT_TRUE(WaitUntil([&] { return launcher.updates.size() == 3; }));
  EXPECT_EQ(launcher.updates[1].progress, 0.25);
  EXPECT_EQ(launcher.updates[2].progress, 0.25);
}

TEST(LauncherProgress, ShowsAFractionFromZeroToOneAndHidesOnce) {
  SKIP_WITHOUT_BUSES();
  LauncherListener launcher;
  LauncherProgress progress;
  progress.Hide();  // nothing shown yet: nothing sent
  const double shown[] = {-0.5, 0.25, 1.5, std::numeric_limits<double>::quiet_NaN()};
  const double expected[] = {0.0, 0.25, 1.0, 0.0};
  for (double fraction : shown) progress.Show(fraction);
  progress.Hide();
  progress.Hide();
  ASSERT_TRUE(WaitUntil([&] { return launcher.updates.size() >= 5; }));
  Settle(300);
  ASSERT_EQ(launcher.updates.size(), 5u);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(launcher.updates[i].progress, expected[i]) << "Show(" << shown[i] << ")";
    EXPECT_TRUE(launcher.updates[i].visible);
  }
  EXPECT_FALSE(launcher.updates[4].visible);
}

TEST(DesktopRunServices, WithoutAnyServiceTheRunGoesOnWithOneLine) {
  SKIP_WITHOUT_BUSES();
  StderrCapture errors;
  DesktopRunServices desktop;
  desktop.StepStarted("BX virus", 1, 2);
  EXPECT_TRUE(WaitUntil([&] { return !errors.Lines().empty(); }));
  desktop.StepStarted("BX virus", 2, 2);
  desktop.RunEnded("BX virus", RunOutcome::Failed, 2, 2, "Wiedergabe kann nicht gestartet werden.");
  Settle(500);
  const std::vector<std::string> lines = errors.Lines("");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(
      lines[0].rfind("zelkgen: cannot keep the computer from suspending or blanking the screen "
                     "during the run (logind: ",
                     0),
      0u)
      << lines[0];
}

// The process ids of every connection on the bus.
std::vector<uint> ConnectionProcesses(TestBus bus) {
  std::vector<uint> pids;
  QDBusConnection probe = ProbeBus(bus);
  const QStringList names = probe.interface()->registeredServiceNames().value();
  for (const QString& name : names) {
    if (name.startsWith(':')) pids.push_back(probe.interface()->servicePid(name).value());
  }
  return pids;
}

// The real program, with a runtime folder of its own (its one-copy lock never meets the user's)
// and SDL's dummy driver (nothing heard).
struct ProgramProcess {
  pid_t pid = -1;
  ScratchDir dir;
  ScratchDir runtime{"zelkgen-runtime-"};
  std::string Output(const char* name) const { return ReadFile(dir.Path() / name); }
  int Wait(int limit_ms) { return WaitForExit(pid, std::chrono::milliseconds(limit_ms)); }
  ~ProgramProcess() { TerminateChild(pid); }
};

void StartProgram(ProgramProcess& program, const std::vector<std::string>& arguments,
                  std::vector<std::string> environment) {
  chmod(program.runtime.Path().c_str(), 0700);
  environment.insert(environment.end(), {"DISPLAY=", "WAYLAND_DISPLAY=", "SDL_AUDIODRIVER=dummy",
                                         "XDG_RUNTIME_DIR=" + program.runtime.Path().string(),
                                         "LSAN_OPTIONS=suppressions=" ZELKGEN_LSAN_SUPPRESSIONS});
  std::vector<std::string> argv = {ZELKGEN_PROGRAM};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  program.pid = SpawnChild(argv, environment, (program.dir.Path() / "stdout").string(),
                           (program.dir.Path() / "stderr").string());
  ASSERT_GT(program.pid, 0);
}

TEST(DesktopServicesProcess, TheWindowReachesNoBusBeforeItsFirstRun) {
  SKIP_WITHOUT_BUSES();
  ProgramProcess program;
  StartProgram(program, {"-platform", "offscreen"}, TestBuses().ClientEnvironment());
  // Its end handlers are installed once the windows exist.
  ASSERT_TRUE(WaitUntil([&] { return CatchesSignal(program.pid, SIGTERM); }));
  Settle(300);
  for (TestBus bus : {TestBus::kSession, TestBus::kSystem}) {
    for (uint pid : ConnectionProcesses(bus)) EXPECT_NE(pid, uint(program.pid));
  }
}

TEST(DesktopServicesProcess, WithoutAnyBusThePlayersRunEndsNormallyWithOneLine) {
  ProgramProcess program;
  StartProgram(program, {"--play", "bx", "--test-step-ms", "100"}, NoBusEnvironment());
  EXPECT_EQ(program.Wait(kWaitMs), 0);
  EXPECT_EQ(program.Output("stderr"),
            "zelkgen: cannot keep the computer from suspending or blanking the screen during the "
            "run (no D-Bus system bus; no D-Bus session bus)\n");
  EXPECT_NE(program.Output("stdout").find("BX virus: finished\n"), std::string::npos);
}

TEST(DesktopServicesProcess, NothingStaysHeldAfterThePlayerIsEndedBySignal) {
  SKIP_WITHOUT_BUSES();
  for (const int signal_number : {SIGTERM, SIGKILL}) {
    for (const std::string portal : {"ok", ""}) {
      SCOPED_TRACE(std::string(strsignal(signal_number)) +
                   (portal.empty() ? ", logind" : ", portal"));
      InhibitServices services(portal, true, true);
      DBusMock notifications(TestBuses(), TestBus::kSession, "notification_daemon",
                             "org.freedesktop.Notifications");
      std::string why;
      ASSERT_TRUE(services.Start(&why) && notifications.Start(&why)) << why;
      ProgramProcess program;
      StartProgram(program, {"--play", "bx"}, TestBuses().ClientEnvironment());
      ASSERT_TRUE(WaitUntil([&] {
        return portal.empty() ? LogindInhibitors() == QStringList{kLogindHeld} &&
                                    ScreenSaverCookies().size() == 1
                              : PortalInhibitions().size() == 1;
      }));
      kill(program.pid, signal_number);
      // SIGTERM ends the run as the user would; SIGKILL leaves its clean-up to the system.
      EXPECT_EQ(program.Wait(kWaitMs), signal_number == SIGTERM ? 0 : 128 + SIGKILL);
      EXPECT_TRUE(WaitUntil([&] {
        return (portal.empty() || PortalInhibitions().isEmpty()) && LogindInhibitors().isEmpty() &&
               ScreenSaverCookies().isEmpty();
      }));
      // The notification sent on the way out still gets there.
      Settle(300);
      EXPECT_EQ(notifications.LogLines("\"BX virus: stopped at step 1 of 2\"").size(),
                signal_number == SIGTERM ? 1u : 0u);
      EXPECT_EQ(notifications.LogLines("Notify").size(), signal_number == SIGTERM ? 1u : 0u);
    }
  }
}

// The windows' runs, ended in each way a run can end: the inhibitor is taken in the first step,
// given back at the end, and one notification says how the run ended.
TEST(WindowRuns, EveryWayARunEndsReleasesTheInhibitorAndNotifiesOnce) {
  SKIP_WITHOUT_BUSES();
  enum class Act { Timer, Skip, FailNextPlay, Close, EndProgram };
  struct Case {
    const char* name;
    std::vector<Act> acts;  // in each step of a BX virus run
    const char* summary;
    const char* detail;
  };
  const Case cases[] = {
      {"completed", {Act::Timer, Act::Timer}, "BX virus: finished", ""},
      {"skipped through", {Act::Skip, Act::Skip}, "BX virus: finished", ""},
      {"failed",
       {Act::FailNextPlay},
       "BX virus: failed at step 2 of 2",
       "Wiedergabe kann nicht gestartet werden. (error code: 2)"},
      {"closed", {Act::Close}, "BX virus: stopped at step 1 of 2", ""},
      {"program ended", {Act::Timer, Act::EndProgram}, "BX virus: stopped at step 2 of 2", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    InhibitServices services("", true, true);
    DBusMock notifications(TestBuses(), TestBus::kSession, "notification_daemon",
                           "org.freedesktop.Notifications");
    std::string why;
    ASSERT_TRUE(services.Start(&why) && notifications.Start(&why)) << why;
    CreateWindows();
    Form1->show();
    MessageBoxCatcher box(TForm3::kEndRunButton);  // when closed
    bool held_in_first_step = false;
    const auto held = [] {
      return LogindInhibitors() == QStringList{kLogindHeld} && ScreenSaverCookies().size() == 1;
    };
    StepDriver driver([&](int k) {
      if (k == 0) held_in_first_step = WaitUntil(held);
      switch (c.acts.at(size_t(k))) {
        case Act::Timer:
          FireTimer1();
          break;
        case Act::Skip:
          ClickSkip();
          break;
        case Act::FailNextPlay:
          AudioOutputFailNextForTesting(AudioCall::ChannelPlay, 2);
          FireTimer1();
          break;
        case Act::Close:
          Form3->close();
          break;
        case Act::EndProgram:
          Form1->EndApplication();
          break;
      }
    });
    Form1->Button5->click();
    EXPECT_EQ(driver.seen.size(), c.acts.size());
    EXPECT_TRUE(held_in_first_step);
    EXPECT_TRUE(WaitUntil([&] {
      return LogindInhibitors().isEmpty() && ScreenSaverCookies().isEmpty() &&
             !notifications.LogLines("Notify").empty();
    }));
    Settle(300);
    EXPECT_EQ(services.logind_mock.LogLines("Inhibit \"sleep:idle\"").size(), 1u);
    const std::vector<std::string> notified = notifications.LogLines("Notify");
    ASSERT_EQ(notified.size(), 1u);
    EXPECT_NE(notified[0].find(std::string("\"") + c.summary + "\" \"" + c.detail + "\""),
              std::string::npos)
        << notified[0];
    DestroyWindows();
  }
}

}  // namespace

#include "desktop_services_test.moc"
