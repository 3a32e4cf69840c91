// The layer against a real sound server: a private PulseAudio daemon with a null sink, whose
// monitor is recorded with parec. Skipped, with the reason, where the daemon cannot run.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <thread>

#include "audio_output.h"
#include "ddfs.h"
#include "output_thread.h"
#include "private_pulse.h"
#include "scratch_dir.h"
#include "signal_analysis.h"

// SDL 2.26's PulseAudio backend leaves a few libpulse operation records unreleased on every
// device open (about 88 bytes each, inside libpulse); LeakSanitizer should not blame this layer.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libpulse.so\n";
}

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A step of n entries per frame repeats every 44099 / n frames.
double PlayedFrequency(int n) {
  return n * 44100.0 / 44099.0;
}

class PulseOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!pulse_.StartForSdl(&why)) GTEST_SKIP() << "no private PulseAudio: " << why;
    ASSERT_TRUE(scratch_.Created());
    InitDDFS();
  }
  void TearDown() override {
    BASS_Free();
    WaitForOutputThread(5000ms);  // the close, before the next test's server is named
    pulse_.Stop();
  }

  // A fresh null sink holds back the very first stream it gets for up to a few seconds, while
  // later streams start at once; a short silent stream first keeps that out of the measurement.
  void WarmUpSink() {
    std::atomic<uint32_t> calls{0};
    ASSERT_NE(BASS_Init(-1, 44100, 0, nullptr, nullptr), 0) << BASS_ErrorGetCode();
    const HSTREAM handle = BASS_StreamCreate(
        44100, 2, 0,
        [](HSTREAM, void*, uint32_t, void* user) {
          ++*static_cast<std::atomic<uint32_t>*>(user);
          return 0u;  // nothing delivered: the layer plays silence
        },
        &calls);
    ASSERT_NE(BASS_ChannelPlay(handle, 0), 0);
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (calls < 10 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(10ms);
    BASS_Stop();
    BASS_Free();
    ASSERT_GE(calls, 10u) << "the private server never asked for sound";
  }

  // Plays DDFS through the layer until it has delivered 2 s and returns the recording.
  std::vector<StereoFrame> PlayAndRecord(WaveShape shape, long double frequency) {
    const std::string path = (dir_ / "capture.raw").string();
    std::string why;
    EXPECT_TRUE(pulse_.StartRecording(path, &why)) << why;
    OutputWaveShape = shape;
    StreamFrequency = frequency;
    StreamAmplitude = 1.0L;
    std::atomic<uint64_t> delivered{0};
    EXPECT_NE(BASS_Init(-1, 44100, 0, nullptr, nullptr), 0) << BASS_ErrorGetCode();
    const HSTREAM handle = BASS_StreamCreate(
        44100, 2, 0,
        [](HSTREAM stream, void* buffer, uint32_t length, void* user) {
          *static_cast<std::atomic<uint64_t>*>(user) += length;
          return ToneStreamProc(stream, buffer, length, nullptr);
        },
        &delivered);
    EXPECT_NE(handle, 0u);
    EXPECT_NE(BASS_ChannelPlay(handle, 0), 0);
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (delivered < 44100 * 4 * 2 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(10ms);
    }
    BASS_Stop();
    BASS_Free();
    std::this_thread::sleep_for(300ms);  // let the last buffers reach the recorder
    pulse_.StopRecording();
    return ReadRawStereo(path);
  }

  // The longest stretch of the recording free of dropouts, without 50 ms at either end. On a
  // busy machine the server can run dry for a moment (an underrun) and fill in silence; such a
  // gap is a run of at least 8 frames of exact silence, which neither tone contains.
  static std::vector<StereoFrame> LongestCleanStretch(const std::vector<StereoFrame>& frames,
                                                      int* dropouts) {
    const FrameRange audible = AudibleRange(frames);
    size_t best_begin = 0, best_end = 0;
    const auto consider = [&](size_t begin, size_t end) {
      if (end - begin > best_end - best_begin) best_begin = begin, best_end = end;
    };
    *dropouts = 0;
    size_t begin = audible.begin;
    size_t silent_run = 0;
    for (size_t i = audible.begin; i < audible.end; ++i) {
      if (frames[i].left == 0 && frames[i].right == 0) {
        ++silent_run;
        continue;
      }
      if (silent_run >= 8) {
        consider(begin, i - silent_run);
        ++*dropouts;
        begin = i;
      }
      silent_run = 0;
    }
    consider(begin, audible.end);
    const size_t margin = 2205;
    if (best_end - best_begin <= 2 * margin) return {};
    return {frames.begin() + best_begin + margin, frames.begin() + best_end - margin};
  }

  // Plays and records until a stretch of at least 0.75 s came through without a dropout
  // (three attempts at most).
  std::vector<StereoFrame> CleanRecording(WaveShape shape, long double frequency) {
    WarmUpSink();
    std::vector<StereoFrame> best;
    for (int attempt = 0; attempt < 3 && !HasFailure(); ++attempt) {
      int dropouts = 0;
      auto stretch = LongestCleanStretch(PlayAndRecord(shape, frequency), &dropouts);
      if (dropouts > 0) std::cout << "recording had " << dropouts << " dropout(s)\n";
      if (stretch.size() > best.size()) best = std::move(stretch);
      if (best.size() >= 44100 * 3 / 4) break;
    }
    EXPECT_GE(best.size(), 44100u * 3 / 4) << "no clean recording of 0.75 s in three attempts";
    return best;
  }

  PrivatePulse pulse_;
  ScratchDir scratch_{"zelkgen-rec-"};
  const fs::path& dir_ = scratch_.Path();
};

TEST_F(PulseOutputTest, SineComesBackAtItsFrequencyInAntiphase) {
  const auto frames = CleanRecording(wsSine, 1000.0L);
  ASSERT_FALSE(frames.empty());
  const double measured = MeasureFrequency(frames, 0, frames.size());
  std::cout << "measured " << std::setprecision(9) << measured << " Hz over " << frames.size()
            << " frames\n";
  EXPECT_NEAR(measured / PlayedFrequency(1000), 1.0, 1e-4) << measured << " Hz";
  EXPECT_EQ(PeakLevel(frames, 0, frames.size()), 32767) << "the server changed the level";

  // Right reads the entry half a cycle on, which in the second half of the table is one entry
  // further than the exact negative; so left + right is at most one table step of the sine.
  int largest_step = 0;
  for (int j = 0; j + 1 < TableLength; ++j) {
    largest_step = std::max(largest_step, std::abs(SineTable[j + 1] - SineTable[j]));
  }
  EXPECT_LE(largest_step, 5);
  EXPECT_LE(MaxAntiphaseError(frames, 0, frames.size()), largest_step);
}

TEST_F(PulseOutputTest, SquareComesBackAtItsFrequencyInAntiphase) {
  const auto frames = CleanRecording(wsSquare, 2128.0L);
  ASSERT_FALSE(frames.empty());
  const double measured = MeasureFrequency(frames, 0, frames.size());
  std::cout << "measured " << std::setprecision(9) << measured << " Hz over " << frames.size()
            << " frames\n";
  EXPECT_NEAR(measured / PlayedFrequency(2128), 1.0, 1e-4) << measured << " Hz";

  // Every sample is a full-level square sample (no dropout, no level change). Left = -right
  // except where the left phase sits on 44099, read as -26000 on both sides: once every
  // 44099 / 19 = 2321 frames for a step of 2128 = 19 x 112.
  size_t exceptions = 0;
  for (size_t i = 0; i < frames.size(); ++i) {
    ASSERT_EQ(std::abs(frames[i].left), 26000) << "frame " << i;
    ASSERT_EQ(std::abs(frames[i].right), 26000) << "frame " << i;
    if (frames[i].left != -frames[i].right) {
      ++exceptions;
      EXPECT_EQ(frames[i].left, -26000) << "frame " << i;
    }
  }
  EXPECT_NEAR(static_cast<double>(exceptions), frames.size() / 2321.0, 1.0);
}

TEST_F(PulseOutputTest, AServerThatGoesAwayFailsPlayWithTheDriverCodeAndInitWithNoDevice) {
  ASSERT_NE(BASS_Init(-1, 44100, 0, nullptr, nullptr), 0) << BASS_ErrorGetCode();
  const HSTREAM handle = BASS_StreamCreate(44100, 2, 0, ToneStreamProc, nullptr);
  ASSERT_NE(handle, 0u);
  pulse_.Stop();
  std::this_thread::sleep_for(1s);
  EXPECT_EQ(BASS_ChannelPlay(handle, 0), 0);
  EXPECT_EQ(BASS_ErrorGetCode(), AUDIO_ERROR_DRIVER);
  EXPECT_NE(BASS_Stop(), 0);
  EXPECT_NE(BASS_Free(), 0);
  EXPECT_EQ(BASS_Init(-1, 44100, 0, nullptr, nullptr), 0);
  EXPECT_EQ(BASS_ErrorGetCode(), AUDIO_ERROR_NO_DEVICE);
}

TEST_F(PulseOutputTest, TheMixerShowsTheProgramItsIconAndTheStreamByName) {
  ASSERT_NE(BASS_Init(-1, 44100, 0, nullptr, nullptr), 0) << BASS_ErrorGetCode();
  ASSERT_NE(BASS_ChannelPlay(BASS_StreamCreate(44100, 2, 0, ToneStreamProc, nullptr), 0), 0);
  const std::string inputs = pulse_.SinkInputs();
  for (const char* property : {"media.name = \"Treatment tone\"", "application.name = \"zelkgen\"",
                               "application.icon_name = \"org.zelkgen.Zelkgen\""}) {
    EXPECT_NE(inputs.find(property), std::string::npos) << property << " in\n" << inputs;
  }
}

}  // namespace
