// The real program end to end: build/zelkgen on a private Xvfb display, playing into a private
// PulseAudio null sink. The test clicks "BX virus (cancer prevention)", then Skip twice about
// 1.5 s apart, records the sink's monitor and checks the two square tones, their antiphase and
// the silence after the run; then it ends the program with SIGTERM, as a logout would.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "private_dbus.h"
#include "private_pulse.h"
#include "private_xvfb.h"
#include "scratch_dir.h"
#include "signal_analysis.h"

namespace {

using namespace std::chrono_literals;

TEST(EndToEnd, BXVirusWithTwoSkipsPlaysBothSquareTonesInAntiphaseThenSilence) {
  for (const char* tool : {"Xvfb", "xdotool"}) {
    if (!OnPath(tool)) GTEST_SKIP() << tool << " is not installed";
  }
  PrivatePulse pulse;
  std::string why;
  if (!pulse.Start(&why)) GTEST_SKIP() << "no private PulseAudio: " << why;
  PrivateXvfb xvfb;
  if (!xvfb.Start(&why)) GTEST_SKIP() << why;
  const std::string& display = xvfb.Display();
  const ScratchDir runtime_dir("zelkgen-runtime-");

  const std::string recording = (std::filesystem::temp_directory_path() /
                                 ("zelkgen-e2e-" + std::to_string(getpid()) + ".raw"))
                                    .string();
  ASSERT_TRUE(pulse.StartRecording(recording, &why)) << why;

  std::vector<std::string> environment = pulse.ClientEnvironment();
  environment.push_back("DISPLAY=" + display);
  environment.push_back("QT_QPA_PLATFORM=xcb");
  environment.push_back("SDL_AUDIODRIVER=pulseaudio");
  // A copy of its own, whatever the user runs, and no desktop services of the user's.
  environment.push_back("XDG_RUNTIME_DIR=" + runtime_dir.Path().string());
  for (const std::string& entry : NoBusEnvironment()) environment.push_back(entry);
  // In a sanitizer build, what the system's sound and desktop libraries keep until exit is theirs.
  environment.push_back("LSAN_OPTIONS=suppressions=" ZELKGEN_LSAN_SUPPRESSIONS);
  pid_t program = SpawnChild({ZELKGEN_PROGRAM}, environment);
  ASSERT_GT(program, 0);

  const std::string main_window = xvfb.FindWindow("Dr. Zelk frequency ganarator");
  ASSERT_FALSE(main_window.empty()) << "the main window did not appear";
  xvfb.Click(main_window, 340, 76);  // "BX virus (cancer prevention)"
  for (int skip = 0; skip < 2; ++skip) {
    const std::string step_window = xvfb.FindWindow("Current frequency");
    ASSERT_FALSE(step_window.empty()) << "no Current frequency window for step " << skip + 1;
    std::this_thread::sleep_for(1500ms);
    xvfb.Click(step_window, 117, 68);  // Skip
    // The window may come back as a new X window: wait until this one has gone.
    for (int i = 0; i < 100; ++i) {
      if (xvfb.XdoTool({"search", "--onlyvisible", "--name", "Current frequency"}) != step_window) {
        break;
      }
      std::this_thread::sleep_for(10ms);
    }
  }
  std::this_thread::sleep_for(1000ms);
  pulse.StopRecording();

  // A logout's SIGTERM ends the program cleanly and at once.
  kill(program, SIGTERM);
  const int status = WaitForExit(program, 1000ms);
  TerminateChild(program);
  EXPECT_EQ(status, 0);

  const std::vector<StereoFrame> frames = ReadRawStereo(recording);
  std::filesystem::remove(recording);
  ASSERT_GT(frames.size(), 44100u);

  // A gap in the recording (a loaded machine) splits the tone; each side is measured on its own.
  const std::vector<FrameRange> segments = SoundSegments(frames);
  std::vector<double> seen;
  size_t frames_2128 = 0, frames_3713 = 0;
  size_t matching_antiphase = 0, audible = 0;
  for (const FrameRange& segment : segments) {
    if (segment.end - segment.begin < 4410) continue;  // a fragment of a buffer
    const double measured = MeasureFrequency(frames, segment.begin, segment.end);
    seen.push_back(measured);
    // A whole-hertz step n repeats every 44099 / n frames at 44100 frames per second.
    const double expected_first = 2128.0 * 44100.0 / 44099.0;
    const double expected_second = 3713.0 * 44100.0 / 44099.0;
    if (std::abs(measured - expected_first) <= expected_first * 1e-4) {
      EXPECT_EQ(frames_3713, 0u) << "2128 Hz after 3713 Hz";
      frames_2128 += segment.end - segment.begin;
    } else if (std::abs(measured - expected_second) <= expected_second * 1e-4) {
      frames_3713 += segment.end - segment.begin;
    } else {
      ADD_FAILURE() << "a tone of " << measured << " Hz";
    }
    EXPECT_EQ(PeakLevel(frames, segment.begin, segment.end), 26000);
    for (size_t i = segment.begin; i < segment.end; ++i) {
      ++audible;
      if (frames[i].left == -frames[i].right) ++matching_antiphase;
    }
  }
  // Each tone played for about the 1.5 s before its Skip. The null sink's monitor loses part of
  // the first stream's start, so only a quarter second of each is required.
  EXPECT_GT(frames_2128, 44100u / 4) << "2128 Hz frames";
  EXPECT_GT(frames_3713, 44100u / 4) << "3713 Hz frames";
  EXPECT_LT(frames_2128, 44100u * 3) << "2128 Hz frames";
  EXPECT_LT(frames_3713, 44100u * 3) << "3713 Hz frames";
  // Only the frames where one phase sits exactly at the table's last entry break the antiphase.
  EXPECT_GT(matching_antiphase, audible * 99 / 100);

  // Silence after the last Skip: the recording's last 0.7 s is quiet.
  const size_t tail = 44100 * 7 / 10;
  EXPECT_LE(PeakLevel(frames, frames.size() - tail, frames.size()), 100);
}

}  // namespace
