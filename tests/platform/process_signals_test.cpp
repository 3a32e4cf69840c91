// The one catcher of the process's signals: every caught signal reaches the one pipe in order,
// only the quit signals count as a quit, and the pipe never blocks nor passes to a started program.
#include "process_signals.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <csignal>

namespace {

TEST(ProcessSignals, EveryCaughtSignalReachesTheOnePipeAndOnlyQuitSignalsCountAsAQuit) {
  CatchQuitSignals();
  CatchJobSignals();
  const int fd = CaughtSignalsFd();
  ASSERT_GE(fd, 0);
  EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
  EXPECT_NE(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
  EXPECT_EQ(NextCaughtSignal(), 0);  // nothing waits, and the read does not block

  const struct {
    int signal_number;
    int quit_after;  // what QuitSignalArrived answers after it
  } kCases[] = {{SIGCONT, 0},     {SIGTERM, SIGTERM}, {SIGTSTP, SIGTERM},
                {SIGINT, SIGINT}, {SIGHUP, SIGHUP},   {SIGCONT, SIGHUP}};
  for (const auto& c : kCases) {
    ASSERT_EQ(std::raise(c.signal_number), 0);
    EXPECT_EQ(QuitSignalArrived(), c.quit_after) << c.signal_number;
  }
  for (const auto& c : kCases) EXPECT_EQ(NextCaughtSignal(), c.signal_number);
  EXPECT_EQ(NextCaughtSignal(), 0);

  ReleaseJobSignals();
  ReleaseQuitSignals();
  EXPECT_EQ(std::signal(SIGTERM, SIG_DFL), SIG_DFL);
  EXPECT_EQ(std::signal(SIGTSTP, SIG_DFL), SIG_DFL);
}

}  // namespace
