// The player without a window, zelkgen --play, run as a user would with no display at all and
// playing into a private PulseAudio null sink: each step's tone in order, its status lines, a
// signal mid-step ending it at once in silence, and the refusals with their messages and status.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "child_process.h"
#include "generator_emulator.h"
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

// The parts of range inside the sound's segments: the gaps a busy machine leaves in a recording
// are left out.
std::vector<FrameRange> SoundWithin(const std::vector<StereoFrame>& frames, FrameRange range) {
  std::vector<FrameRange> parts;
  for (const FrameRange& segment : SoundSegments(frames)) {
    const size_t begin = std::max(segment.begin, range.begin);
    const size_t end = std::min(segment.end, range.end);
    if (begin < end) parts.push_back({begin, end});
  }
  return parts;
}

double ShareAtPeak(const std::vector<StereoFrame>& frames, const std::vector<FrameRange>& parts) {
  double at_peak = 0;
  for (const FrameRange& part : parts) {
    at_peak += ShareAtPeak(frames, part.begin, part.end) * double(part.end - part.begin);
  }
  return parts.empty() ? 0.0 : at_peak / double(SoundingFrames(parts));
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
    EXPECT_NEAR(MeasureFrequency(frames, SoundWithin(frames, first)), Played(2128), 0.5);
    EXPECT_NEAR(MeasureFrequency(frames, SoundWithin(frames, second)), Played(3713), 0.5);
    for (const FrameRange& step : {first, second}) {
      if (c.square) {
        EXPECT_GT(ShareAtPeak(frames, SoundWithin(frames, step)), 0.9);
      } else {
        EXPECT_LT(ShareAtPeak(frames, SoundWithin(frames, step)), 0.2);
      }
    }
  }
}

// The frames of a WAV file's data chunk.
std::vector<StereoFrame> WaveFrames(const std::string& path) {
  const std::string bytes = ReadFile(path);
  std::vector<StereoFrame> frames;
  for (size_t at = 12; at + 8 <= bytes.size();) {
    const auto le32 = [&](size_t i) {
      return uint32_t(uint8_t(bytes[i])) | uint32_t(uint8_t(bytes[i + 1])) << 8 |
             uint32_t(uint8_t(bytes[i + 2])) << 16 | uint32_t(uint8_t(bytes[i + 3])) << 24;
    };
    const size_t size = le32(at + 4);
    if (bytes.compare(at, 4, "data") == 0) {
      for (size_t i = at + 8; i + 4 <= at + 8 + size && i + 4 <= bytes.size(); i += 4) {
        frames.push_back({int16_t(le32(i) & 0xFFFF), int16_t(le32(i) >> 16)});
      }
      break;
    }
    at += 8 + size + (size & 1);
  }
  return frames;
}

// A program file's gated and duty-cycled steps played through a null sink are the frames its
// export holds, one for one: the recording may only add silence (between steps, and where a busy
// machine starves the player), never change or lose a frame.
TEST(Player, AProgramFilesRecordingEqualsItsExportFrameForFrame) {
  PrivatePulse pulse;
  std::string why;
  if (!pulse.Start(&why, PulseSink::ClockedPipe)) GTEST_SKIP() << "no private PulseAudio: " << why;
  ScratchDir scratch, runtime;
  const std::string file = (scratch.Path() / "gates.zelkgen").string();
  std::ofstream(file) << "zelkgen program: Gates\n1000 2s gate 10\n1000 2s gate 10 on 25%\n"
                         "7.83 -> 15 3s square duty 25%\n728 3s gate 7.83 50%\n";
  const std::string wav = (scratch.Path() / "gates.wav").string();
  ASSERT_EQ(
      RunProgram({ZELKGEN_PROGRAM, "--export", wav, "--program", file}, {}, scratch.Path().string())
          .status,
      0);
  const std::vector<StereoFrame> exported = WaveFrames(wav);
  ASSERT_EQ(exported.size(), 10 * kRate);
  const std::string recording = (scratch.Path() / "capture.raw").string();
  ASSERT_TRUE(pulse.StartRecording(recording, &why, 200)) << why;
  const ProgramRun run = RunProgram({ZELKGEN_PROGRAM, "--play", file},
                                    PlayerEnvironment(pulse, runtime), scratch.Path().string());
  std::this_thread::sleep_for(300ms);
  pulse.StopRecording();
  ASSERT_EQ(run.status, 0) << run.err;

  const std::vector<StereoFrame> recorded = ReadRawStereo(recording);
  size_t matched = 0, added = 0, differing = 0;
  for (size_t i = AudibleRange(recorded).begin; i < recorded.size() && matched < exported.size();
       ++i) {
    const StereoFrame r = recorded[i], e = exported[matched];
    if (r.left == e.left && r.right == e.right) {
      ++matched;
    } else if (r.left == 0 && r.right == 0) {
      ++added;
    } else if (++differing <= 3) {
      ADD_FAILURE() << "exported frame " << matched << " is " << e.left << ", " << e.right
                    << ", recorded " << r.left << ", " << r.right;
    }
  }
  std::cout << matched << " frames matched, " << added << " frames of silence added\n";
  EXPECT_EQ(differing, 0u);
  EXPECT_EQ(matched, exported.size());
}

// Two outputs: --device picks the one its name or a unique part of it names, and the whole tone
// arrives there, frame for frame, and nothing on the default; a part that names both is a usage
// error listing them. Each sink is kept busy by a quiet constant stream, so that its monitor
// records every frame (|sample| 1000 is not tone).
TEST(Player, PlaysThroughTheOutputItsDeviceNamesAndNowhereElse) {
  PrivatePulse pulse;
  std::string why;
  if (!pulse.Start(&why) || !pulse.LoadSink("amp", "AmpOut")) {
    GTEST_SKIP() << "no private PulseAudio with two sinks: " << why;
  }
  ScratchDir scratch, runtime;
  const auto in_scratch = [&](const char* name) { return (scratch.Path() / name).string(); };
  {
    std::ofstream constant(in_scratch("dc.raw"), std::ios::binary);
    const char frame[4] = {'\xE8', '\x03', '\xE8', '\x03'};
    for (size_t k = 0; k < 20 * kRate; ++k) constant.write(frame, 4);
    std::ofstream(in_scratch("one.zelkgen")) << "zelkgen program: One\n1000 2s square\n";
  }
  std::vector<pid_t> helpers;
  for (const char* sink : {"cap", "amp"}) {
    helpers.push_back(SpawnChild(
        {"sh", "-c",
         std::string("exec pacat -d ") + sink + " --latency-msec=50 < " + in_scratch("dc.raw")},
        pulse.ClientEnvironment()));
    helpers.push_back(
        SpawnChild({"parec", "-d", std::string(sink) + ".monitor", "--raw", "--format=s16le",
                    "--rate=44100", "--channels=2", "--latency-msec=100"},
                   pulse.ClientEnvironment(), in_scratch(sink)));
  }
  std::this_thread::sleep_for(1s);
  const auto play = [&](const char* device) {
    return RunProgram({ZELKGEN_PROGRAM, "--play", in_scratch("one.zelkgen"), "--device", device},
                      PlayerEnvironment(pulse, runtime), scratch.Path().string());
  };
  const ProgramRun ambiguous = play("Out");
  const ProgramRun run = play("amp");
  std::this_thread::sleep_for(500ms);
  for (pid_t& helper : helpers) {
    kill(helper, SIGINT);
    if (WaitForExit(helper, 1s) < 0) TerminateChild(helper);
  }
  EXPECT_EQ(ambiguous.status, 2);
  EXPECT_NE(ambiguous.err.find("--device 'Out' names 2 outputs:\n  Null Output\n  AmpOut\n"),
            std::string::npos)
      << ambiguous.err;
  ASSERT_EQ(run.status, 0) << run.err;
  const auto tone_frames = [](const std::vector<StereoFrame>& frames) {
    return std::count_if(frames.begin(), frames.end(),
                         [](const StereoFrame& f) { return std::abs(f.left) > 5000; });
  };
  EXPECT_EQ(tone_frames(ReadRawStereo(in_scratch("amp"))), long(2 * kRate));
  EXPECT_EQ(tone_frames(ReadRawStereo(in_scratch("cap"))), 0);
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

// Neither a sound server that stops answering mid-step nor buses stopped from the start (SDL's
// first open waits on them) keep a signal from ending the player within a second.
TEST(Player, AFrozenServerOrStoppedBusesDelayNoSignal) {
  for (const bool buses_stopped : {false, true}) {
    SCOPED_TRACE(buses_stopped ? "buses stopped" : "server frozen mid-step");
    PrivatePulse pulse;
    PrivateBuses buses;
    std::string why;
    if (!pulse.Start(&why, PulseSink::ClockedPipe) || !buses.Start(&why)) GTEST_SKIP() << why;
    ScratchDir scratch, runtime;
    std::vector<std::string> environment = PlayerEnvironment(pulse, runtime);
    for (const std::string& entry : buses.ClientEnvironment()) environment.push_back(entry);
    if (buses_stopped) {
      ASSERT_TRUE(buses.Freeze());
    }
    const std::string out = (scratch.Path() / "stdout").string();
    pid_t player = SpawnChild({ZELKGEN_PROGRAM, "--play", "bx"}, environment, out);
    ASSERT_GT(player, 0);
    if (!buses_stopped) {
      const auto deadline = std::chrono::steady_clock::now() + 15s;
      while (ReadFile(out).empty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
      }
      ASSERT_FALSE(ReadFile(out).empty()) << "the step did not start";
      ASSERT_TRUE(pulse.Freeze());
    }
    std::this_thread::sleep_for(1500ms);
    kill(player, SIGTERM);
    EXPECT_EQ(WaitForExit(player, 1000ms), 0);
    TerminateChild(player);
    EXPECT_NE(ReadFile(out).find("BX virus: stopped at step 1 of 2\n"), std::string::npos);
  }
}

// A reader that goes away, a pipe nobody empties and a terminal whose output is stopped (Ctrl+S)
// lose the status lines, not the run: both steps play on time.
TEST(Player, WhereItsOutputGoesNeverStopsTheRun) {
  enum class Reader { Gone, Full, StoppedTerminal };
  for (const Reader reader : {Reader::Gone, Reader::Full, Reader::StoppedTerminal}) {
    SCOPED_TRACE(int(reader));
    PrivatePulse pulse;
    std::string why;
    if (!pulse.Start(&why, PulseSink::ClockedPipe))
      GTEST_SKIP() << "no private PulseAudio: " << why;
    ScratchDir runtime;
    int ends[2] = {-1, -1};  // what the player's standard output is, and the test's own end
    std::string output;
    if (reader == Reader::StoppedTerminal) {
      ends[1] = posix_openpt(O_RDWR | O_NOCTTY);
      ASSERT_TRUE(ends[1] >= 0 && grantpt(ends[1]) == 0 && unlockpt(ends[1]) == 0);
      output = ptsname(ends[1]);
      ASSERT_EQ(write(ends[1], "\x13", 1), 1);  // Ctrl+S
    } else {
      ASSERT_EQ(pipe(ends), 0);
      std::swap(ends[0], ends[1]);
      output = "/proc/self/fd/" + std::to_string(ends[0]);
      if (reader == Reader::Gone) {
        close(ends[1]);
        ends[1] = -1;
      } else {
        fcntl(ends[0], F_SETFL, O_NONBLOCK);
        while (write(ends[0], "full", 4) == 4) {
        }
      }
    }
    const auto started = std::chrono::steady_clock::now();
    pid_t player = SpawnChild({ZELKGEN_PROGRAM, "--play", "bx", "--test-step-ms", "1000"},
                              PlayerEnvironment(pulse, runtime), output);
    ASSERT_GT(player, 0);
    EXPECT_EQ(WaitForExit(player, 10s), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    TerminateChild(player);
    for (int end : ends) {
      if (end >= 0) close(end);
    }
  }
}

bool Stopped(pid_t pid) {
  return ReadFile("/proc/" + std::to_string(pid) + "/status").find("State:\tT") !=
         std::string::npos;
}

TEST(Player, OnANarrowTerminalTheLineFitsMessagesEndItPOrCtrlZPauseNSkipsAndQEnds) {
  PrivatePulse pulse;
  std::string why;
  if (!pulse.Start(&why)) GTEST_SKIP() << "no private PulseAudio: " << why;
  // Buses without any service: the inhibitor's line comes on stderr once their answers are in,
  // with the status line on the terminal.
  PrivateBuses buses;
  if (!buses.Start(&why)) GTEST_SKIP() << why;
  ScratchDir runtime;
  std::vector<std::string> environment;
  for (char** e = environ; *e != nullptr; ++e) environment.emplace_back(*e);
  for (const std::string& entry : PlayerEnvironment(pulse, runtime)) environment.push_back(entry);
  for (const std::string& entry : buses.ClientEnvironment()) environment.push_back(entry);
  winsize size{};
  size.ws_row = 24;
  size.ws_col = 50;
  int terminal = -1;
  const pid_t player = forkpty(&terminal, nullptr, nullptr, &size);
  ASSERT_GE(player, 0);
  if (player == 0) {
    for (const std::string& entry : environment) putenv(strdup(entry.c_str()));
    execl(ZELKGEN_PROGRAM, ZELKGEN_PROGRAM, "--play", "bx", static_cast<char*>(nullptr));
    _exit(127);
  }
  std::string shown;
  const auto read_for = [&](std::chrono::milliseconds how_long) {
    const auto until = std::chrono::steady_clock::now() + how_long;
    pollfd wait{terminal, POLLIN, 0};
    while (std::chrono::steady_clock::now() < until && poll(&wait, 1, 20) >= 0) {
      char bytes[512];
      const ssize_t count = (wait.revents & POLLIN) ? read(terminal, bytes, sizeof bytes) : 0;
      if (count > 0) shown.append(bytes, size_t(count));
    }
  };
  const auto playing = [&] { return !pulse.SinkInputs().empty(); };
  read_for(2500ms);
  EXPECT_TRUE(playing());
  // p pauses and resumes; Ctrl+Z pauses, then stops the player, and fg plays on.
  const auto key = [&] { EXPECT_EQ(write(terminal, "p", 1), 1); };
  const std::function<void()> pause[] = {key, [&] { kill(player, SIGTSTP); }};
  const std::function<void()> resume[] = {key, [&] { kill(player, SIGCONT); }};
  for (int way = 0; way < 2; ++way) {
    SCOPED_TRACE(way == 0 ? "p" : "Ctrl+Z");
    pause[way]();
    read_for(1000ms);
    EXPECT_FALSE(playing());
    EXPECT_EQ(Stopped(player), way == 1);
    resume[way]();
    read_for(1000ms);
    EXPECT_TRUE(playing());
  }
  // n goes on to the next step at once, as Skip does; q ends the run.
  EXPECT_EQ(write(terminal, "n", 1), 1);
  read_for(1500ms);
  EXPECT_NE(shown.find("BX virus: 2/2"), std::string::npos) << shown;
  EXPECT_TRUE(playing());
  EXPECT_EQ(write(terminal, "q", 1), 1);
  read_for(1000ms);
  pid_t ended = player;
  EXPECT_EQ(WaitForExit(ended, 2s), 0);
  TerminateChild(ended);
  close(terminal);
  EXPECT_NE(shown.find("BX virus: stopped at step 2 of 2"), std::string::npos) << shown;

  // Each drawing of the line, from a carriage return to the next, fits in 49 columns.
  const size_t warning = shown.find("zelkgen: cannot keep the computer");
  ASSERT_NE(warning, std::string::npos) << shown;
  ASSERT_GT(warning, shown.find("BX virus")) << "no line stood before the message";
  EXPECT_EQ(shown.substr(warning - 4, 4), "\r\033[K") << "the message was spliced into the line";
  bool paused_shown = false;
  std::istringstream drawings(shown);
  for (std::string drawing; std::getline(drawings, drawing, '\r');) {
    if (drawing.rfind("BX virus", 0) != 0) continue;
    const std::string text = drawing.substr(0, drawing.find('\033'));
    EXPECT_LE(text.size(), 49u) << text;
    paused_shown = paused_shown || text.find("paused") != std::string::npos;
  }
  EXPECT_TRUE(paused_shown);
}

// A server that answers but has no output at all (its default sink null): every face that asks
// for outputs or sound fails as it does with no server, and none crashes.
TEST(Player, AServerWithoutOutputsIsASoundErrorOnEveryFace) {
  PrivatePulse pulse;
  std::string why;
  if (!pulse.Start(&why)) GTEST_SKIP() << "no private PulseAudio: " << why;
  ASSERT_TRUE(pulse.UnloadSinks());
  ScratchDir scratch, runtime;
  struct Case {
    std::vector<std::string> arguments;
    int status;
    std::string out;
    std::string err_starts;
  };
  const std::string no_output = "BASS.dll error!\n(error code: 1)\nNo sound output could be opened";
  const Case cases[] = {
      {{"--list-devices"}, 1, "", "zelkgen: no sound output can be reached ("},
      {{"--play", "bx"}, 1, "BX virus: failed at step 1 of 2\n", no_output},
      {{"--play", "bx", "--device", "amp"},
       1,
       "BX virus: failed at step 1 of 2\n",
       "BASS.dll error!\n(error code: 1)\nThe chosen output \"amp\" could not be opened"},
      {{"tone", "--play", "--duration", "100"},
       1,
       "",
       "zelkgen: the tone could not be played: no sound output could be opened\n(error code: 1)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments.front() + " " + c.arguments.back());
    std::vector<std::string> argv = {ZELKGEN_PROGRAM};
    argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
    const ProgramRun run =
        RunProgram(argv, PlayerEnvironment(pulse, runtime), scratch.Path().string(), 20s);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err.substr(0, c.err_starts.size()), c.err_starts) << run.err;
  }
}

// The only output unloaded in the middle of a step: the step waits for one to come back rather
// than crash, and plays on once one is there.
TEST(Player, TheOnlyOutputUnloadedMidStepIsWaitedForAndTheRunPlaysOn) {
  PrivatePulse pulse;
  std::string why;
  if (!pulse.Start(&why)) GTEST_SKIP() << "no private PulseAudio: " << why;
  ScratchDir scratch, runtime;
  const std::string out = (scratch.Path() / "out").string();
  const std::string err = (scratch.Path() / "err").string();
  pid_t player = SpawnChild({ZELKGEN_PROGRAM, "--play", "bx", "--test-step-ms", "4000"},
                            PlayerEnvironment(pulse, runtime), out, err);
  ASSERT_GT(player, 0);
  const auto deadline = std::chrono::steady_clock::now() + 15s;
  while (std::filesystem::file_size(out) == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(20ms);
  }
  std::this_thread::sleep_for(500ms);
  ASSERT_TRUE(pulse.UnloadSinks());
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(WaitForExit(player, 0ms), -1) << "ended while its output was away: " << ReadFile(err);
  ASSERT_TRUE(pulse.LoadSink("cap", "Back"));
  EXPECT_EQ(WaitForExit(player, 20s), 0) << ReadFile(err);
  if (player > 0) TerminateChild(player);
}

TEST(Player, RefusesWithOneMessageAndStatusOne) {
  struct Case {
    const char* name;
    bool server;         // a sound server runs
    bool another_copy;   // a copy plays already
    bool buses_stopped;  // the session and system buses stop answering (SDL's first open waits)
    const char* out;
    std::string err;
    std::vector<std::string> environment = {};
  };
  const std::string advice =
      "No sound output could be opened. Check that a sound server is running, that an output "
      "device is connected and switched on, and that it is not muted in the mixer.\n";
  const std::string no_output = "BASS.dll error!\n(error code: 1)\n" + advice;
  const Case cases[] = {
      {"no sound server", false, false, false, "BX virus: failed at step 1 of 2\n", no_output},
      // ALSA without a single device, whose library would print why on stderr.
      {"no ALSA device",
       false,
       false,
       false,
       "BX virus: failed at step 1 of 2\n",
       no_output,
       {"SDL_AUDIODRIVER=alsa", "ALSA_CONFIG_PATH=/dev/null"}},
      {"another copy plays", true, true, false, "", "zelkgen: another copy is already running\n"},
      {"buses stopped", true, false, true, "BX virus: failed at step 1 of 2\n",
       "BASS.dll error!\n(error code: 7)\n" + advice},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PrivatePulse pulse;
    std::string why;
    if (!pulse.Start(&why)) GTEST_SKIP() << "no private PulseAudio: " << why;
    ScratchDir scratch, runtime;
    std::vector<std::string> environment = PlayerEnvironment(pulse, runtime);
    PrivateBuses buses;
    if (c.buses_stopped) {
      ASSERT_TRUE(buses.Start(&why) && buses.Freeze()) << why;
      for (const std::string& entry : buses.ClientEnvironment()) environment.push_back(entry);
    }
    environment.insert(environment.end(), c.environment.begin(), c.environment.end());
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
    const auto started = std::chrono::steady_clock::now();
    const ProgramRun run =
        RunProgram({ZELKGEN_PROGRAM, "--play", "bx"}, environment, scratch.Path().string());
    EXPECT_EQ(run.status, 1);
    // The first open has 5 s.
    EXPECT_LT(std::chrono::steady_clock::now() - started, c.buses_stopped ? 6s : 3s);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
    if (c.another_copy) {
      EXPECT_EQ(WaitForExit(first, 0ms), -1) << "the first copy did not play on";
      TerminateChild(first);
    }
  }
}

// The player on a signal generator's emulator: no sound server at all, SDL's dummy driver, a
// runtime folder of the test's own.
std::vector<std::string> GeneratorEnvironment(const ScratchDir& runtime) {
  chmod(runtime.Path().c_str(), 0700);
  std::vector<std::string> environment = {"DISPLAY=",
                                          "WAYLAND_DISPLAY=",
                                          "QT_QPA_PLATFORM=",
                                          "SDL_AUDIODRIVER=dummy",
                                          "PULSE_SERVER=unix:/nonexistent",
                                          "XDG_RUNTIME_DIR=" + runtime.Path().string(),
                                          "LSAN_OPTIONS=suppressions=" ZELKGEN_LSAN_SUPPRESSIONS};
  for (const std::string& entry : NoBusEnvironment()) environment.push_back(entry);
  return environment;
}

std::string WrittenProgram(const ScratchDir& folder, const std::string& text) {
  const std::string path = (folder.Path() / "program.zelkgen").string();
  std::ofstream(path) << text;
  return path;
}

std::vector<std::string> CommandsStarting(const GeneratorEmulator& emulator,
                                          const std::string& prefix) {
  std::vector<std::string> found;
  for (const std::string& command : emulator.Commands()) {
    if (command.rfind(prefix, 0) == 0) found.push_back(command);
  }
  return found;
}

using MakeEmulator = std::function<std::unique_ptr<GeneratorEmulator>()>;
const MakeEmulator kFy = [] { return std::make_unique<FyEmulator>(EmulatorBehaviour{}); };
const MakeEmulator kJds = [] { return std::make_unique<JdsEmulator>(EmulatorBehaviour{}); };
const MakeEmulator kScpi = [] { return std::make_unique<ScpiEmulator>(EmulatorBehaviour{}); };

// A sine at full level, then a quarter-duty square at half level, a second each.
const char kTwoSteps[] = "zelkgen program: Bench\n1000 1s sine\n2500.5 1s square 50% duty 25%\n";

TEST(Player, PlaysEveryStepOnEachGeneratorAndLeavesItOff) {
  struct Case {
    const char* name;
    MakeEmulator make;
    const char* program;  // nullptr: kTwoSteps's file
    std::string prefix;   // channel 1's setting of each step
    std::vector<std::string> settings;
    std::string output_on;
    std::string finished;
  } cases[] = {
      // Microhertz in 14 digits.
      {"FY6900",
       kFy,
       nullptr,
       "WMF",
       {"WMF00001000000000", "WMF00002500500000"},
       "WMN1",
       "Bench: finished\n"},
      // Hundredths of a hertz, unit code 0 (Hz), both outputs in one register.
      {"JDS6600",
       kJds,
       nullptr,
       ":w23=",
       {":w23=100000,0.", ":w23=250050,0."},
       ":w20=1,1.",
       "Bench: finished\n"},
      // Shape, hertz, volts peak to peak (2 V, then half of it), offset and phase at once.
      {"SCPI",
       kScpi,
       nullptr,
       "SOUR1:APPL",
       {"SOUR1:APPL:SIN 1000.000,2.0000,0.500,0", "SOUR1:APPL:SQU 2500.500,1.0000,0.500,0"},
       "OUTP1 ON",
       "Bench: finished\n"},
      {"a built-in on the FY6900",
       kFy,
       "bx",
       "WMF",
       {"WMF00002128000000", "WMF00003713000000"},
       "WMN1",
       "BX virus: finished\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir scratch, runtime;
    const std::unique_ptr<GeneratorEmulator> emulator = c.make();
    const std::string program = c.program ? c.program : WrittenProgram(scratch, kTwoSteps);
    const ProgramRun run =
        RunProgram({ZELKGEN_PROGRAM, "--play", program, "--device", emulator->Name(), "--amplitude",
                    "2", "--offset", "0.5", "--test-step-ms", "1000"},
                   GeneratorEnvironment(runtime), scratch.Path().string());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(run.out.ends_with(c.finished)) << run.out;
    EXPECT_EQ(CommandsStarting(*emulator, c.prefix), c.settings);
    EXPECT_EQ(CommandsStarting(*emulator, c.output_on).size(), 2u) << "on once a step";
    EXPECT_FALSE(emulator->Channel(1).On);
    EXPECT_FALSE(emulator->Channel(2).On);
  }
}

TEST(Player, AQuitSignalMidStepLeavesTheGeneratorOff) {
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(signal_number));
    ScratchDir scratch, runtime;
    FyEmulator emulator({});
    const std::string out = (scratch.Path() / "stdout").string();
    pid_t player = SpawnChild(
        {ZELKGEN_PROGRAM, "--play", WrittenProgram(scratch, "zelkgen program: Long\n1000 1m\n"),
         "--device", emulator.Name()},
        GeneratorEnvironment(runtime), out);
    ASSERT_GT(player, 0);
    const auto deadline = std::chrono::steady_clock::now() + 15s;
    while (CommandsStarting(emulator, "WMN1").empty() &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(emulator.Channel(1).On) << "never switched on";
    kill(player, signal_number);
    const int status = WaitForExit(player, 3000ms);
    TerminateChild(player);
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(emulator.Channel(1).On);
    EXPECT_FALSE(emulator.Channel(2).On);
    EXPECT_NE(ReadFile(out).find("Long: stopped at step 1 of 1\n"), std::string::npos)
        << ReadFile(out);
  }
}

TEST(Player, AProgramOrVoltsBeyondTheGeneratorAreRefusedBeforeItSounds) {
  struct Case {
    const char* name;
    std::string program;
    std::vector<std::string> more;
    std::string err;  // after the file's path, where it names it
  } cases[] = {
      {"a gate faster than the FY6900 switches",
       "zelkgen program: Fast\n1000 1s\n1000 1s gate 7.83\n",
       {},
       ":3:9: a gate of 7.83 Hz is faster than"},
      {"an amplitude above the model's",
       "zelkgen program: Loud\n1000 1s\n",
       {"--amplitude", "30"},
       "an amplitude of 30.000 V peak to peak is above the 20.000 V"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir scratch, runtime;
    FyEmulator emulator({});
    const std::string file = WrittenProgram(scratch, c.program);
    std::vector<std::string> argv = {ZELKGEN_PROGRAM, "--play", file, "--device", emulator.Name()};
    argv.insert(argv.end(), c.more.begin(), c.more.end());
    const ProgramRun run = RunProgram(argv, GeneratorEnvironment(runtime), scratch.Path().string());
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(CommandsStarting(emulator, "WMN1").empty()) << "it sounded";
  }
}

}  // namespace
