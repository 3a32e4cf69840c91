// The player without a window, zelkgen --play, run as a user would with no display at all and
// playing into a private PulseAudio null sink: each step's tone in order, its status lines, a
// signal mid-step ending it at once in silence, and the refusals with their messages and status.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "private_dbus.h"
#include "private_pulse.h"
#include "scratch_dir.h"
#include "signal_analysis.h"

namespace {

using namespace std::chrono_literals;

constexpr size_t kRate = 44100;

// No display of any kind, a runtime folder of the test's own (its one-copy lock), no D-Bus and
// the private server through SDL's PulseAudio driver only, so a card is never reached.
std::vector<std::string> PlayerEnvironment(const PrivatePulse& pulse, const ScratchDir& runtime) {
  chmod(runtime.Path().c_str(), 0700);
  std::vector<std::string> environment = pulse.ClientEnvironment();
  environment.insert(environment.end(),
                     {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=",
                      "SDL_AUDIODRIVER=pulseaudio", "XDG_RUNTIME_DIR=" + runtime.Path().string(),
                      "LSAN_OPTIONS=suppressions=" ZELKGEN_LSAN_SUPPRESSIONS});
  for (const std::string& entry : NoBusEnvironment()) environment.push_back(entry);
  return environment;
}

// A whole-hertz step n repeats every 44099 / n frames at 44100 frames per second.
double Played(double hertz) {
  return hertz * 44100.0 / 44099.0;
}

// Share of the frames in [begin, end) at the range's own peak: all of a square, few of a sine.
double ShareAtPeak(const std::vector<StereoFrame>& frames, size_t begin, size_t end) {
  const int peak = PeakLevel(frames, begin, end);
  size_t at_peak = 0;
  for (size_t i = begin; i < end; ++i) at_peak += std::abs(frames[i].left) == peak;
  return double(at_peak) / double(end - begin);
}

TEST(Player, PlaysEachStepsToneInOrderWithAStatusLineForEachStep) {
  struct Case {
    const char* shape;  // nullptr: the default
    bool square;
  };
  for (const Case& c : {Case{nullptr, true}, Case{"sine", false}}) {
    SCOPED_TRACE(c.shape ? c.shape : "default shape");
    PrivatePulse pulse;
    std::string why;
    if (!pulse.Start(&why)) GTEST_SKIP() << "no private PulseAudio: " << why;
    ScratchDir scratch, runtime;
    const std::string recording = (scratch.Path() / "capture.raw").string();
    ASSERT_TRUE(pulse.StartRecording(recording, &why)) << why;
    std::vector<std::string> argv = {ZELKGEN_PROGRAM, "--play", "bx", "--test-step-ms", "3000"};
    if (c.shape) argv.insert(argv.end(), {"--shape", c.shape});
    const ProgramRun run =
        RunProgram(argv, PlayerEnvironment(pulse, runtime), scratch.Path().string());
    std::this_thread::sleep_for(300ms);
    pulse.StopRecording();

    EXPECT_EQ(run.status, 0) << run.err;
    // Not a terminal: one line per step as it starts, then how the run ended.
    EXPECT_EQ(run.out,
              "BX virus: step 1 of 2, 2128HZ, 0:03 left in the step, 0:06 left in the run\n"
              "BX virus: step 2 of 2, 3713HZ, 0:03 left in the step, 0:03 left in the run\n"
              "BX virus: finished\n");
    EXPECT_EQ(run.err.find("error code"), std::string::npos) << run.err;

    // The first step's tone at the start of the sound, the second's at its end. The null sink's
    // monitor loses the start of the first stream, up to about 1.6 s of it.
    const std::vector<StereoFrame> frames = ReadRawStereo(recording);
    const FrameRange sound = AudibleRange(frames);
    ASSERT_GT(sound.end - sound.begin, kRate * 7 / 2);
    const FrameRange first = {sound.begin + kRate / 10, sound.begin + kRate / 2};
    const FrameRange second = {sound.end - kRate, sound.end - kRate / 5};
    EXPECT_NEAR(MeasureFrequency(frames, first.begin, first.end), Played(2128), 0.5);
    EXPECT_NEAR(MeasureFrequency(frames, second.begin, second.end), Played(3713), 0.5);
    for (const FrameRange& step : {first, second}) {
      if (c.square) {
        EXPECT_GT(ShareAtPeak(frames, step.begin, step.end), 0.9);
      } else {
        EXPECT_LT(ShareAtPeak(frames, step.begin, step.end), 0.2);
      }
    }
  }
}

TEST(Player, ASignalMidStepEndsItAtOnceInSilenceWithStatusZero) {
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(signal_number));
    PrivatePulse pulse;
    std::string why;
    if (!pulse.Start(&why)) GTEST_SKIP() << "no private PulseAudio: " << why;
    ScratchDir scratch, runtime;
    const std::string recording = (scratch.Path() / "capture.raw").string();
    ASSERT_TRUE(pulse.StartRecording(recording, &why)) << why;
    const std::string out = (scratch.Path() / "stdout").string();
    pid_t player =
        SpawnChild({ZELKGEN_PROGRAM, "--play", "bx"}, PlayerEnvironment(pulse, runtime), out);
    ASSERT_GT(player, 0);
    // A three-minute step: sounding, with its whole time ahead of it.
    const auto deadline = std::chrono::steady_clock::now() + 15s;
    while (AudibleRange(ReadRawStereo(recording)).end < kRate / 2 &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(50ms);
    }
    ASSERT_GE(AudibleRange(ReadRawStereo(recording)).end, kRate / 2) << "no tone";
    kill(player, signal_number);
    const int status = WaitForExit(player, 1000ms);
    TerminateChild(player);
    EXPECT_EQ(status, 0);
    std::this_thread::sleep_for(700ms);
    pulse.StopRecording();

    const std::vector<StereoFrame> frames = ReadRawStereo(recording);
    ASSERT_GT(frames.size(), kRate);
    // Between the gaps a busy machine may leave in the recording.
    EXPECT_NEAR(MeasureFrequency(frames, SoundSegments(frames)), Played(2128), 0.5);
    // Silence after the end: the recording's last half second is quiet.
    EXPECT_LE(PeakLevel(frames, frames.size() - kRate / 2, frames.size()), 100);
    EXPECT_EQ(ReadFile(out),
              "BX virus: step 1 of 2, 2128HZ, 3:00 left in the step, 6:00 left in the run\n"
              "BX virus: stopped at step 1 of 2\n");
  }
}

TEST(Player, RefusesWithOneMessageAndStatusOne) {
  struct Case {
    const char* name;
    bool server;        // a sound server runs
    bool another_copy;  // a copy plays already
    const char* out;
    const char* err;
  };
  const Case cases[] = {
      {"no sound server", false, false, "BX virus: failed at step 1 of 2\n",
       "BASS.dll error!\n(error code: 1)\n"},
      {"another copy plays", true, true, "", "zelkgen: another copy is already running\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PrivatePulse pulse;
    std::string why;
    if (!pulse.Start(&why)) GTEST_SKIP() << "no private PulseAudio: " << why;
    ScratchDir scratch, runtime;
    const std::vector<std::string> environment = PlayerEnvironment(pulse, runtime);
    // The server's address stays, with nothing behind it.
    if (!c.server) pulse.Stop();
    pid_t first = -1;
    if (c.another_copy) {
      const std::string out = (scratch.Path() / "first").string();
      first = SpawnChild({ZELKGEN_PROGRAM, "--play", "zelk"}, environment, out);
      ASSERT_GT(first, 0);
      const auto deadline = std::chrono::steady_clock::now() + 15s;
      while (std::filesystem::file_size(out) == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
      }
    }
    const ProgramRun run =
        RunProgram({ZELKGEN_PROGRAM, "--play", "bx"}, environment, scratch.Path().string());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
    if (c.another_copy) {
      EXPECT_EQ(WaitForExit(first, 0ms), -1) << "the first copy did not play on";
      TerminateChild(first);
    }
  }
}

}  // namespace
