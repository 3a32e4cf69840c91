// The treatment run against a sound server that goes away in the middle of a step: a private
// PulseAudio daemon, killed as a crash kills it. Started again on the same socket, it gets the
// tone back within the same step; gone for good, the step fails as a failed play does, and the
// next run plays. Skipped, with the reason, where the daemon cannot run.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "audio_format.h"
#include "audio_output.h"
#include "ddfs.h"
#include "private_pulse.h"
#include "program_file.h"
#include "scratch_dir.h"
#include "signal_analysis.h"
#include "step_sound.h"
#include "tone_gen.h"
#include "treatment_run.h"

// SDL's PulseAudio driver leaves a few libpulse records unreleased on every device open.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libpulse.so\n";
}

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Runs the event loop (the step's wait) for the time given or until done says so.
void Wait(
    std::chrono::milliseconds limit, const std::function<bool()>& done = [] { return false; }) {
  const auto deadline = Clock::now() + limit;
  while (!done() && Clock::now() < deadline) {
    QEventLoop loop;
    QTimer::singleShot(10ms, &loop, &QEventLoop::quit);
    loop.exec();
  }
}

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

class RunAgainstPulse : public testing::Test {
 protected:
  RunAgainstPulse() : run_(&timer_, &handle_) {
    timer_.setInterval(180000);
    QObject::connect(&run_, &TreatmentRun::OutputLost, [this] { lost_at_ = Clock::now(); });
    QObject::connect(&run_, &TreatmentRun::OutputResumed, [this] { resumed_at_ = Clock::now(); });
    QObject::connect(&run_, &TreatmentRun::StepEnded, [this](TreatmentRun::StepEnd how) {
      ends_.push_back(how);
      ended_at_ = Clock::now();
    });
    QObject::connect(&run_, &TreatmentRun::AudioFailed, [this](const QString& message, int code) {
      failure_ = message.toStdString();
      code_ = code;
    });
    QObject::connect(&run_, &TreatmentRun::RunEnded,
                     [this](const TreatmentRun::RunResult& result) { result_ = result; });
  }

  void SetUp() override {
    std::string why;
    if (!pulse_.StartForSdl(&why, PulseSink::ClockedPipe)) {
      GTEST_SKIP() << "no private PulseAudio: " << why;
    }
    ASSERT_TRUE(scratch_.Created());
  }

  // Runs BX virus; step 1 does what the test asks, then every step still running is skipped.
  void RunBXVirus(const std::function<void()>& in_step_one) {
    int step = 0;
    ends_.clear();
    ended_at_.reset();
    run_.Run(BXVirusProgram, [&](const TreatmentStep&) {
      if (++step == 1) in_step_one();
      if (run_.StepRunning() && ends_.size() < static_cast<size_t>(step)) run_.EndStepBySkip();
      return true;
    });
  }

  PrivatePulse pulse_;
  ScratchDir scratch_{"zelkgen-run-pulse-"};
  QTimer timer_;
  uint32_t handle_ = 0;
  TreatmentRun run_;
  std::optional<Clock::time_point> lost_at_, resumed_at_, ended_at_;
  std::vector<TreatmentRun::StepEnd> ends_;
  std::string failure_;
  int code_ = 0;
  TreatmentRun::RunResult result_;
};

TEST_F(RunAgainstPulse, AServerStartedAgainMidStepGetsTheToneBackInTheSameStep) {
  const std::string capture = (scratch_.Path() / "after.raw").string();
  Clock::time_point killed_at, restarted_at, recording_from;
  qint64 left_at_loss = 0, left_in_loss = 0, left_after = 0;
  RunBXVirus([&] {
    Wait(1000ms);
    killed_at = Clock::now();
    pulse_.Kill();
    Wait(1000ms, [this] { return lost_at_.has_value(); });
    // Away from the output, the step's time stands still.
    left_at_loss = run_.StepTimeLeft();
    Wait(700ms);
    left_in_loss = run_.StepTimeLeft();
    EXPECT_TRUE(run_.OutputAway());
    restarted_at = Clock::now();
    std::string why;
    ASSERT_TRUE(pulse_.Restart(&why)) << why;
    recording_from = Clock::now();
    ASSERT_TRUE(pulse_.StartRecording(capture, &why)) << why;
    Wait(5000ms, [this] { return resumed_at_.has_value(); });
    Wait(1000ms);
    left_after = run_.StepTimeLeft();
    pulse_.StopRecording();
    EXPECT_TRUE(ends_.empty()) << "the lost output ended the step";
    EXPECT_TRUE(timer_.isActive());
  });
  ASSERT_TRUE(lost_at_) << "the lost output went unnoticed";
  EXPECT_EQ(left_in_loss, left_at_loss);
  EXPECT_LT(left_after, left_in_loss - 900) << "the time does not run on once the tone is back";
  EXPECT_LT(Seconds(*lost_at_ - killed_at), 1.0);
  ASSERT_TRUE(resumed_at_) << "the tone did not come back";
  std::cout << "noticed " << Seconds(*lost_at_ - killed_at) << " s after the kill, resumed "
            << Seconds(*resumed_at_ - restarted_at) << " s after the new server's start\n";
  // The watch says so once it has seen buffers taken for a while; what the user hears is
  // checked in the recording below.
  EXPECT_LT(Seconds(*resumed_at_ - restarted_at), 5.0);
  EXPECT_EQ(result_.how, TreatmentRun::RunEnd::SkippedThrough);

  // In the new server's recording: the square of step 1 (2128 Hz, played as 2128 x 44100 / 44099
  // Hz), from at most 2 s after that server started.
  const std::vector<StereoFrame> frames = ReadRawStereo(capture);
  const FrameRange tone = AudibleRange(frames);
  ASSERT_GT(tone.end - tone.begin, 44100u / 2) << "less than half a second of tone recorded";
  const double back = Seconds(recording_from - restarted_at) + tone.begin / 44100.0;
  std::cout << "recorded tone back at most " << back << " s after the new server's start\n";
  EXPECT_LT(back, 2.0);
  EXPECT_NEAR(MeasureFrequency(frames, tone.begin, tone.end), 2128.0 * 44100.0 / 44099.0, 0.05);
  EXPECT_EQ(PeakLevel(frames, tone.begin, tone.end), 26000);
}

TEST_F(RunAgainstPulse, APausedStepsToneLastsItsPeriodToTheFrameInItsParts) {
  // A 3 s step paused after 1 s for 1.5 s, long enough for its output to be released, resumed,
  // paused again for 0.1 s (the output kept) and left to its timer: the recording holds the same
  // square in three parts, 3 s together to the frame.
  const std::string capture = (scratch_.Path() / "paused.raw").string();
  std::string why;
  // A recorder at 20 ms lost up to 0.45 s of 3 s beside two builds.
  ASSERT_TRUE(pulse_.StartRecording(capture, &why, 200)) << why;
  timer_.setInterval(3000);
  bool released = false;
  QObject::connect(&run_, &TreatmentRun::PausedOutputReleased, [&] { released = true; });
  RunBXVirus([&] {
    Wait(1000ms);
    ASSERT_TRUE(run_.PauseStep());
    Wait(1500ms);
    ASSERT_TRUE(run_.ResumeStep());
    Wait(500ms);
    ASSERT_TRUE(run_.PauseStep());
    Wait(100ms);
    ASSERT_TRUE(run_.ResumeStep());
    Wait(5000ms, [this] { return !ends_.empty(); });
    Wait(300ms);
    pulse_.StopRecording();
  });
  EXPECT_TRUE(released);
  EXPECT_EQ(ends_.front(), TreatmentRun::StepEnd::Timer);
  const std::vector<StereoFrame> frames = ReadRawStereo(capture);
  const FrameRange sound = AudibleRange(frames);
  // The longest quiet stretch inside the sound is the pause. A busy machine may add short gaps
  // (underruns) inside a part; they delay the tone but keep its frames.
  size_t tone = 0, gap = 0;
  for (size_t i = sound.begin, quiet = 0; i < sound.end; ++i) {
    if (PeakLevel(frames, i, i + 1) <= 100) {
      gap = std::max(gap, ++quiet);
    } else {
      ++tone;
      quiet = 0;
    }
  }
  std::cout << "tone " << tone << " frames, " << gap << " frames of silence between\n";
  // Every frame of the step is heard, however late a resumed device starts.
  EXPECT_EQ(tone, 3 * 44100u);
  EXPECT_NEAR(double(gap), 1.5 * 44100, 0.1 * 44100);
  // Square at full level on both sides of the pause.
  EXPECT_EQ(PeakLevel(frames, sound.begin, sound.begin + 4410), 26000);
  EXPECT_EQ(PeakLevel(frames, sound.end - 4410, sound.end), 26000);
}

// The program's frames as an export writes them: one oscillator from its start, each step's tone
// set at its first frame.
std::vector<StereoFrame> ExportedFrames(const TreatmentProgram& program, int step_ms) {
  std::vector<StereoFrame> frames;
  ExactOscillator oscillator;
  for (const TreatmentStep& step : program.Steps) {
    const uint64_t count = FramesForMs(static_cast<uint64_t>(StepPeriodMs(step, step_ms)));
    const StepSound sound = PrepareStepSound(step, count, oscillator);
    const size_t at = frames.size();
    frames.resize(at + count);
    sound.proc(0, frames.data() + at, static_cast<uint32_t>(count * sizeof(StereoFrame)),
               sound.user);
  }
  return frames;
}

// Where the recording's first frame of sound meets the export's, or why not: every frame of the
// export must follow, none missing, none added, and silence after it. A busy machine may starve
// the player or the recorder, which puts a run of silence into the recording (an underrun); one
// that lies well away from every join (export frames) is passed over and counted in underruns.
std::string CompareWithExport(const std::vector<StereoFrame>& recorded,
                              const std::vector<StereoFrame>& exported,
                              const std::vector<size_t>& joins, int* underruns) {
  constexpr size_t kShortestUnderrun = 64, kNearJoin = 2048;
  const auto sounds = [](const StereoFrame& f) { return f.left != 0 || f.right != 0; };
  const auto first_recorded = std::find_if(recorded.begin(), recorded.end(), sounds);
  const auto first_exported = std::find_if(exported.begin(), exported.end(), sounds);
  if (first_recorded == recorded.end()) return "no sound recorded";
  const size_t offset = static_cast<size_t>(first_exported - exported.begin());
  if (static_cast<size_t>(first_recorded - recorded.begin()) < offset) return "sound too early";
  size_t r = static_cast<size_t>(first_recorded - recorded.begin()) - offset;
  for (size_t e = 0; e < exported.size(); ++e, ++r) {
    if (r >= recorded.size()) return "recording ends at export frame " + std::to_string(e);
    if (recorded[r].left == exported[e].left && recorded[r].right == exported[e].right) continue;
    size_t quiet = 0;
    while (r + quiet < recorded.size() && !sounds(recorded[r + quiet])) ++quiet;
    const bool near_join = std::any_of(joins.begin(), joins.end(), [e](size_t join) {
      return (e > join ? e - join : join - e) < kNearJoin;
    });
    if (quiet >= kShortestUnderrun && !near_join) {
      ++*underruns;
      r += quiet - 1;
      --e;
      continue;
    }
    return "frame " + std::to_string(e) + " of " + std::to_string(exported.size()) +
           " differs: recorded " + std::to_string(recorded[r].left) + " (" + std::to_string(quiet) +
           " silent frames), exported " + std::to_string(exported[e].left);
  }
  if (std::any_of(recorded.begin() + static_cast<ptrdiff_t>(r), recorded.end(), sounds)) {
    return "sound after the export's last frame";
  }
  return "";
}

TEST_F(RunAgainstPulse, AFilesChainedGlidesRecordAsItsExportInEachOfTwoRuns) {
  // Three glides, each starting where the one before ends, at levels and shapes that show a frame
  // lost, doubled or out of phase at a join; run twice by the same run, as one window does.
  TreatmentProgram program;
  std::vector<std::string> messages;
  ASSERT_TRUE(
      ProgramFromText("zelkgen program: Chain\n"
                      "100 -> 200 1s sine\n"
                      "200 -> 400 1.5s sine 80%\n"
                      "400 -> 300 1s square 60%\n",
                      "chain.zelkgen", &program, &messages))
      << (messages.empty() ? "" : messages.front());
  const std::vector<StereoFrame> exported = ExportedFrames(program, timer_.interval());
  ASSERT_EQ(exported.size(), 3u * 44100u + 44100u / 2u);
  for (int run = 1; run <= 2; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    const std::string capture =
        (scratch_.Path() / ("chain" + std::to_string(run) + ".raw")).string();
    std::string why;
    ASSERT_TRUE(pulse_.StartRecording(capture, &why, 200)) << why;
    Wait(300ms);
    ends_.clear();
    run_.Run(program, [this](const TreatmentStep&) {
      Wait(5000ms, [this, before = ends_.size()] { return ends_.size() > before; });
      return true;
    });
    Wait(500ms);
    pulse_.StopRecording();
    EXPECT_EQ(result_.how, TreatmentRun::RunEnd::Completed);
    EXPECT_EQ(ends_, std::vector<TreatmentRun::StepEnd>(3, TreatmentRun::StepEnd::Timer));
    int underruns = 0;
    EXPECT_EQ(
        CompareWithExport(ReadRawStereo(capture), exported, {44100, 44100 * 5 / 2}, &underruns),
        "");
    if (underruns > 0) std::cout << underruns << " underruns away from the joins passed over\n";
  }
}

TEST_F(RunAgainstPulse, AServerGoneForGoodFailsTheStepAsAFailedPlayAndTheNextRunPlays) {
  Clock::time_point killed_at;
  RunBXVirus([&] {
    Wait(1000ms);
    killed_at = Clock::now();
    pulse_.Kill();
    Wait(15000ms, [this] { return !ends_.empty(); });
  });
  ASSERT_TRUE(ended_at_) << "the step never ended";
  EXPECT_EQ(ends_, std::vector<TreatmentRun::StepEnd>{TreatmentRun::StepEnd::OutputLost});
  ASSERT_TRUE(lost_at_);
  // Ten seconds of trying, counted from the loss, noticed within a second of the kill.
  EXPECT_GE(Seconds(*ended_at_ - *lost_at_), 10.0);
  EXPECT_LT(Seconds(*ended_at_ - killed_at), 11.0);
  std::cout << "noticed " << Seconds(*lost_at_ - killed_at) << " s after the kill, failed "
            << Seconds(*ended_at_ - killed_at) << " s after it\n";
  EXPECT_EQ(failure_, "Wiedergabe kann nicht gestartet werden.");
  EXPECT_EQ(code_, AUDIO_ERROR_NO_DEVICE);  // no server to reach
  EXPECT_EQ(result_.how, TreatmentRun::RunEnd::Failed);
  EXPECT_EQ(result_.step, 1);
  EXPECT_EQ(result_.code, AUDIO_ERROR_NO_DEVICE);
  EXPECT_FALSE(timer_.isActive());
  EXPECT_EQ(BASS_Free(), 0) << "the output was left open";

  // With a server again, the next run plays at once.
  std::string why;
  ASSERT_TRUE(pulse_.StartForSdl(&why, PulseSink::ClockedPipe)) << why;
  lost_at_.reset();
  uint64_t taken = 0;
  RunBXVirus([&] {
    Wait(1000ms);
    taken = AudioOutputBuffersTaken();
  });
  EXPECT_GT(taken, 20u) << "the next run's step did not play";
  EXPECT_FALSE(lost_at_);
  EXPECT_EQ(result_.how, TreatmentRun::RunEnd::SkippedThrough);
}

TEST_F(RunAgainstPulse, ASinkThatStopsTakingSoundFailsTheStepAfterTenSecondsOfTrying) {
  // The sink is resumed after 20 s whatever happens, so that a device close waiting for it
  // cannot keep this test from ending.
  std::thread safety_net;
  std::atomic<bool> done{false};
  Clock::time_point suspended_at;
  RunBXVirus([&] {
    Wait(1000ms);
    suspended_at = Clock::now();
    ASSERT_TRUE(pulse_.SuspendSink(true));
    safety_net = std::thread([this, &done] {
      const auto until = Clock::now() + 20s;
      while (!done && Clock::now() < until) std::this_thread::sleep_for(50ms);
      pulse_.SuspendSink(false);
    });
    Wait(15000ms, [this] { return !ends_.empty(); });
  });
  done = true;
  if (safety_net.joinable()) safety_net.join();
  ASSERT_TRUE(lost_at_) << "the stalled output went unnoticed";
  EXPECT_LT(Seconds(*lost_at_ - suspended_at), 1.0);
  ASSERT_TRUE(ended_at_) << "the step never ended";
  EXPECT_LT(Seconds(*ended_at_ - suspended_at), 11.5);
  std::cout << "noticed " << Seconds(*lost_at_ - suspended_at) << " s after the suspension, failed "
            << Seconds(*ended_at_ - suspended_at) << " s after it\n";
  EXPECT_EQ(ends_, std::vector<TreatmentRun::StepEnd>{TreatmentRun::StepEnd::OutputLost});
  EXPECT_FALSE(resumed_at_);
  EXPECT_EQ(code_, AUDIO_ERROR_DRIVER);  // the server is there, its sink takes nothing
  EXPECT_EQ(result_.how, TreatmentRun::RunEnd::Failed);
}

// A server that stops answering (SIGSTOP) holds only the output thread: the step's event loop
// never stalls, Skip answers at once (pressed before the stall is even noticed), the tone is back
// within a second of the server answering again, and without it the step fails 10 s after the loss,
// as a failed play does.
TEST_F(RunAgainstPulse, AFrozenServerNeverHoldsTheRunAndTheToneReturnsWhenItAnswers) {
  enum class Then { Skip, Back, GiveUp };
  struct Case {
    std::chrono::seconds freeze;
    Then then;
  };
  for (const Case c : {Case{3s, Then::Skip}, Case{5s, Then::Back}, Case{15s, Then::GiveUp}}) {
    SCOPED_TRACE(c.freeze.count());
    lost_at_.reset();
    resumed_at_.reset();
    const std::string capture = (scratch_.Path() / "thawed.raw").string();
    Clock::duration longest_wait{}, skip_took{};
    Clock::time_point frozen_at, thawed_at, recording_from;
    RunBXVirus([&] {
      Wait(1000ms);
      frozen_at = Clock::now();
      ASSERT_TRUE(pulse_.Freeze());
      Clock::time_point last = frozen_at;
      Wait(c.freeze, [&] {
        longest_wait = std::max(longest_wait, Clock::now() - last);
        last = Clock::now();
        if (c.then == Then::Skip && last - frozen_at > 200ms && ends_.empty()) {
          run_.EndStepBySkip();
          skip_took = Clock::now() - last;
        }
        return false;
      });
      thawed_at = Clock::now();
      ASSERT_TRUE(pulse_.Thaw());
      if (c.then != Then::Back) return;
      recording_from = Clock::now();
      std::string why;
      ASSERT_TRUE(pulse_.StartRecording(capture, &why)) << why;
      Wait(3000ms, [this] { return resumed_at_.has_value(); });
      Wait(1000ms);
      pulse_.StopRecording();
    });
    std::cout << "longest wait of the event loop during the freeze " << Seconds(longest_wait)
              << " s\n";
    EXPECT_LT(longest_wait, 100ms);
    ASSERT_TRUE(lost_at_ || c.then == Then::Skip) << "the frozen server went unnoticed";
    switch (c.then) {
      case Then::Skip:
        std::cout << "Skip took " << Seconds(skip_took) << " s\n";
        EXPECT_LT(skip_took, 100ms);
        EXPECT_EQ(ends_.front(), TreatmentRun::StepEnd::Skip);
        break;
      case Then::Back: {
        ASSERT_TRUE(resumed_at_) << "the tone did not come back";
        std::cout << "resumed " << Seconds(*resumed_at_ - thawed_at) << " s after the thaw\n";
        EXPECT_LT(Seconds(*resumed_at_ - thawed_at), 1.0);
        const std::vector<StereoFrame> frames = ReadRawStereo(capture);
        const FrameRange tone = AudibleRange(frames);
        ASSERT_GT(tone.end - tone.begin, 44100u / 2) << "less than half a second of tone recorded";
        EXPECT_LT(Seconds(recording_from - thawed_at) + tone.begin / 44100.0, 1.0);
        EXPECT_NEAR(MeasureFrequency(frames, tone.begin, tone.end), 2128.0 * 44100.0 / 44099.0,
                    0.05);
        break;
      }
      case Then::GiveUp:
        ASSERT_TRUE(ended_at_) << "the step never ended";
        std::cout << "failed " << Seconds(*ended_at_ - *lost_at_) << " s after the loss\n";
        EXPECT_EQ(ends_, std::vector<TreatmentRun::StepEnd>{TreatmentRun::StepEnd::OutputLost});
        EXPECT_GE(Seconds(*ended_at_ - *lost_at_), 10.0);
        EXPECT_LT(Seconds(*ended_at_ - *lost_at_), 10.3);
        EXPECT_EQ(code_, AUDIO_ERROR_TIMEOUT);
        EXPECT_EQ(result_.how, TreatmentRun::RunEnd::Failed);
        break;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  InitDDFS();
  QCoreApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
