// The audio thread's real-time priority asked of a mocked rtkit on the private system bus: the
// priority asked for within the broker's most, the process's real-time time limited first, and a
// refusing or missing broker answered with the reason.
#include "realtime_audio.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

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
    const RealtimeAnswer answer = RealtimeAudio().Ask(thread);
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

}  // namespace
