// The real program end to end: build/zelkgen on a private Xvfb display, playing into a private
// PulseAudio null sink. The test clicks "BX virus (cancer prevention)", then Skip twice about
// 1.5 s apart, records the sink's monitor and checks the two square tones, their antiphase and
// the silence after the run; then it ends the program with SIGTERM, as a logout would.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
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

// The real program's surroundings: a private PulseAudio and a private X display.
bool StartSoundAndDisplay(PrivatePulse& pulse, PrivateXvfb& xvfb, std::string* why) {
  for (const char* tool : {"Xvfb", "xdotool"}) {
    if (!OnPath(tool)) {
      *why = std::string(tool) + " is not installed";
      return false;
    }
  }
  if (!pulse.Start(why)) {
    *why = "no private PulseAudio: " + *why;
    return false;
  }
  return xvfb.Start(why);
}

TEST(EndToEnd, BXVirusWithTwoSkipsPlaysBothSquareTonesInAntiphaseThenSilence) {
  PrivatePulse pulse;
  PrivateXvfb xvfb;
  std::string why;
  if (!StartSoundAndDisplay(pulse, xvfb, &why)) GTEST_SKIP() << why;
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

// A program file written by hand, handed by a second start to the copy that runs (through the
// one-copy socket), comes up ready to start; Enter starts it, and the sink receives the frequency
// as written, to a thousandth of a hertz, in antiphase.
TEST(EndToEnd, AProgramFileGivenToASecondStartPlaysInTheRunningWindow) {
  PrivatePulse pulse;
  PrivateXvfb xvfb;
  std::string why;
  if (!StartSoundAndDisplay(pulse, xvfb, &why)) GTEST_SKIP() << why;
  const ScratchDir scratch("zelkgen-e2e-file-");
  chmod(scratch.Path().c_str(), 0700);
  const std::string program_file = (scratch.Path() / "by hand.zelkgen").string();
  std::ofstream(program_file) << "zelkgen program: By hand\n1000.125 6s sine \"Test tone\"\n";
  const std::string recording = (scratch.Path() / "capture.raw").string();
  ASSERT_TRUE(pulse.StartRecording(recording, &why)) << why;

  std::vector<std::string> environment = pulse.ClientEnvironment();
  environment.insert(environment.end(),
                     {"DISPLAY=" + xvfb.Display(), "QT_QPA_PLATFORM=xcb",
                      "SDL_AUDIODRIVER=pulseaudio", "XDG_RUNTIME_DIR=" + scratch.Path().string(),
                      "XDG_STATE_HOME=" + (scratch.Path() / "state").string(),
                      "XDG_DATA_HOME=" + (scratch.Path() / "data").string(),
                      "LSAN_OPTIONS=suppressions=" ZELKGEN_LSAN_SUPPRESSIONS});
  for (const std::string& entry : NoBusEnvironment()) environment.push_back(entry);
  pid_t program = SpawnChild({ZELKGEN_PROGRAM}, environment);
  ASSERT_GT(program, 0);
  ASSERT_FALSE(xvfb.FindWindow("Dr. Zelk frequency ganarator").empty());
  const ProgramRun second =
      RunProgram({ZELKGEN_PROGRAM, program_file}, environment, scratch.Path().string());
  EXPECT_EQ(second.status, 0) << second.err;
  const std::string programs = xvfb.FindWindow("Programs");
  ASSERT_FALSE(programs.empty()) << "the Programs window did not come up";
  xvfb.XdoTool({"key", "--window", programs, "Return"});
  ASSERT_FALSE(xvfb.FindWindow("Current frequency").empty()) << "the program did not start";
  // The step ends once its frames have played, however late a loaded machine starts them.
  const auto given_up = std::chrono::steady_clock::now() + 20s;
  while (!xvfb.XdoTool({"search", "--onlyvisible", "--name", "Current frequency"}).empty() &&
         std::chrono::steady_clock::now() < given_up) {
    std::this_thread::sleep_for(100ms);
  }
  std::this_thread::sleep_for(1s);
  pulse.StopRecording();
  kill(program, SIGTERM);
  EXPECT_EQ(WaitForExit(program, 1000ms), 0);
  TerminateChild(program);

  const std::vector<StereoFrame> frames = ReadRawStereo(recording);
  const std::vector<FrameRange> segments = SoundSegments(frames, 8);
  ASSERT_FALSE(segments.empty());
  const FrameRange tone = *std::max_element(
      segments.begin(), segments.end(),
      [](const FrameRange& a, const FrameRange& b) { return a.end - a.begin < b.end - b.begin; });
  // The null sink's monitor may lose up to 1.6 s of a stream's start.
  ASSERT_GT(tone.end - tone.begin, 44100u * 3 / 2) << "less than 1.5 s of the 6 s tone recorded";
  EXPECT_NEAR(MeasureFrequency(frames, tone.begin, tone.end), 1000.125, 0.001);
  EXPECT_EQ(PeakLevel(frames, tone.begin, tone.end), 32767);
  EXPECT_EQ(MaxAntiphaseError(frames, tone.begin, tone.end), 0);
  EXPECT_LE(PeakLevel(frames, frames.size() - 44100 / 2, frames.size()), 100) << "no silence after";
}

// Under a window manager: the dock's match of the window with its desktop entry, and the main
// window's close box in the middle of a step, which must ask whether to end the whole run and
// then end the program as Exit does, although the step window is modal over it.
TEST(EndToEnd, UnderAWindowManagerTheCloseBoxAsksThenEndsAStepAndTheEntryMatchesTheWindow) {
  if (!OnPath("wmctrl")) GTEST_SKIP() << "wmctrl is not installed";
  PrivateXvfb xvfb;
  std::string why;
  if (!xvfb.Start(&why) || !xvfb.StartWindowManager(&why)) GTEST_SKIP() << why;
  const ScratchDir runtime_dir("zelkgen-runtime-");
  std::vector<std::string> environment = {"DISPLAY=" + xvfb.Display(), "QT_QPA_PLATFORM=xcb",
                                          "SDL_AUDIODRIVER=dummy",
                                          "XDG_RUNTIME_DIR=" + runtime_dir.Path().string(),
                                          "LSAN_OPTIONS=suppressions=" ZELKGEN_LSAN_SUPPRESSIONS};
  for (const std::string& entry : NoBusEnvironment()) environment.push_back(entry);
  pid_t program = SpawnChild({ZELKGEN_PROGRAM}, environment);
  ASSERT_GT(program, 0);
  const std::string main_window = xvfb.FindWindow("Dr. Zelk frequency ganarator");
  ASSERT_FALSE(main_window.empty()) << "the main window did not appear";

  const std::string entry = ReadFile(ZELKGEN_DESKTOP_FILE);
  const size_t key = entry.find("\nStartupWMClass=");
  ASSERT_NE(key, std::string::npos) << "no StartupWMClass";
  const size_t value = key + std::string("\nStartupWMClass=").size();
  const std::string wm_class = entry.substr(value, entry.find('\n', value) - value);
  EXPECT_EQ(xvfb.XdoTool({"search", "--class", "^" + wm_class + "$"}), main_window);

  xvfb.Click(main_window, 340, 76);  // "BX virus (cancer prevention)"
  ASSERT_FALSE(xvfb.FindWindow("Current frequency").empty());
  std::this_thread::sleep_for(500ms);
  RunProgram({"wmctrl", "-i", "-c", main_window}, {"DISPLAY=" + xvfb.Display()},
             runtime_dir.Path().string());
  // It asks first whether to end the whole run, as Escape does, and the step plays on meanwhile.
  std::this_thread::sleep_for(1000ms);
  int waited = 0;
  EXPECT_EQ(waitpid(program, &waited, WNOHANG), 0) << "the close box ended the step unasked";
  // Continue has the focus; the other button is End run.
  const std::string question = xvfb.XdoTool({"getactivewindow"});
  EXPECT_NE(question, main_window);
  xvfb.XdoTool({"key", "--window", question, "Tab", "space"});
  const int status = WaitForExit(program, 3000ms);
  TerminateChild(program);
  EXPECT_EQ(status, 0) << "End run did not end the program";
}

}  // namespace
