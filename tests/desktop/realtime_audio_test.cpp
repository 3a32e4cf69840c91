// The audio thread's real-time priority asked of a mocked rtkit on the private system bus: the
// priority asked for within the broker's most, the process's real-time time limited first, and a
// refusing or missing broker answered with the reason; without a broker, the scheduler asked
// directly within what the process may give itself.
#include "realtime_audio.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "desktop_fixture.h"

namespace {

TEST(RealtimeAudio, AsksTheBrokerWithinItsLimitsAndSaysWhyWhenRefused) {
  SKIP_WITHOUT_BUSES();
  struct Case {
    const char* name;
    bool broker;
    std::string parameters;
    bool granted;
    int priority;  // asked for; 0: not asked
  };
  const Case cases[] = {
      {"a desktop's rtkit", true, "", true, 10},
      {"a broker that grants at most 5", true, R"({"max_priority": 5})", true, 5},
      {"a broker that grants none", true, R"({"max_priority": 0})", false, 0},
      {"a refusing broker", true, R"({"refuse": true})", false, 10},
      {"no broker", false, "", false, 0},
  };
  const pid_t thread = gettid();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DBusMock mock(TestBuses(), TestBus::kSystem, ZELKGEN_DBUS_TEMPLATES "/realtime_kit.py",
                  "org.freedesktop.RealtimeKit1", c.parameters);
    std::string why;
    if (c.broker) {
      ASSERT_TRUE(mock.Start(&why)) << why;
    }
    // The scheduler is left alone here: this test may run as root, which it would grant.
    const RealtimeAnswer answer = RealtimeAudio(QDBusConnection::systemBus(), false).Ask(thread);
    EXPECT_EQ(answer.granted, c.granted);
    EXPECT_EQ(answer.priority, c.priority);
    EXPECT_EQ(answer.why.isEmpty(), c.granted) << answer.why.toStdString();
    const std::vector<std::string> asked =
        c.broker ? mock.LogLines("MakeThreadRealtime") : std::vector<std::string>{};
    if (c.priority == 0) {
      EXPECT_TRUE(asked.empty());
    } else {
      ASSERT_EQ(asked.size(), 1u);
      EXPECT_NE(asked[0].find("MakeThreadRealtime " + std::to_string(thread) + " " +
                              std::to_string(c.priority)),
                std::string::npos)
          << asked[0];
    }
  }
}

TEST(RealtimeAudio, LimitsTheProcesssRealtimeTimeToWhatTheBrokerAllows) {
  SKIP_WITHOUT_BUSES();
  DBusMock mock(TestBuses(), TestBus::kSystem, ZELKGEN_DBUS_TEMPLATES "/realtime_kit.py",
                "org.freedesktop.RealtimeKit1", R"({"rttime_usec_max": 150000})");
  std::string why;
  ASSERT_TRUE(mock.Start(&why)) << why;
  ASSERT_TRUE(RealtimeAudio().Ask(gettid()).granted);
  rlimit limit{};
  ASSERT_EQ(getrlimit(RLIMIT_RTTIME, &limit), 0);
  EXPECT_LE(limit.rlim_cur, rlim_t{150000});
  EXPECT_LE(limit.rlim_max, rlim_t{150000});
}

TEST(RealtimeAudio, WithoutABrokerSchedulesTheThreadItselfWhereTheProcessMay) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give a child process each limit and user";
  struct Case {
    const char* name;
    bool root;
    rlim_t rtprio;  // RLIMIT_RTPRIO
    int priority;   // SCHED_RR priority the thread gets; 0: left at normal priority
  };
  const Case cases[] = {
      {"root", true, 0, 10},
      {"a user granted rtprio 5", false, 5, 5},
      {"a user granted rtprio 99", false, 99, 10},
      {"a user granted none", false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Made before the fork: a child process must not start a bus connection of its own.
    RealtimeAudio realtime(QDBusConnection(QStringLiteral("no bus")));
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
      const rlimit limit{c.rtprio, c.rtprio};
      if (setrlimit(RLIMIT_RTPRIO, &limit) != 0) _exit(250);
      if (!c.root && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(251);
      const RealtimeAnswer answer = realtime.Ask(gettid());
      sched_param param{};
      const int policy = sched_getscheduler(0) & ~SCHED_RESET_ON_FORK;
      if (sched_getparam(0, &param) != 0) _exit(252);
      const int actual = policy == SCHED_RR ? param.sched_priority : 0;
      if (answer.granted && (!answer.direct || answer.priority != actual)) _exit(253);
      if (!answer.granted && answer.why.isEmpty()) _exit(254);
      _exit(actual + (answer.granted ? 100 : 0));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 250) {
      // Raising the hard limit takes CAP_SYS_RESOURCE, which a container may withhold.
      std::printf("[ SKIPPED  ] %s: the limit cannot be raised here\n", c.name);
      continue;
    }
    EXPECT_EQ(WEXITSTATUS(status), c.priority == 0 ? 0 : 100 + c.priority);
  }
}

}  // namespace
