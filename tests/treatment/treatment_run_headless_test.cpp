// The treatment run without any window, driven as a face without windows would drive it: each
// step waits in an event loop of its own until StepEnded. This program links QtCore, never Qt
// Widgets. Audio goes to SDL's dummy driver.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

#include "audio_output.h"
#include "audio_output_testing.h"
#include "clock_text.h"
#include "ddfs.h"
#include "program_file.h"
#include "scratch_dir.h"
#include "signal_analysis.h"
#include "step_countdown.h"
#include "tone_gen.h"
#include "treatment_run.h"

namespace {

using RunEnd = TreatmentRun::RunEnd;

// What happens in step k (counted from 1) once its tone sounds.
enum class Act { Timer, Skip, Close, EndProgram, FailNextPlay, TimerRunsOut };

struct Case {
  const char* name;
  std::vector<Act> acts;  // one per step reached
  RunEnd how;
  int step;          // where the run ended
  std::string seen;  // the signals in order: S started, T/K/P step ended, F failed, E run ended
  int code = 0;
};

// Frames of a square tone in what SDL's disk driver wrote (a square is never 0); 0 without a file.
long ToneFrames(const std::string& path) {
  const std::vector<StereoFrame> frames = ReadRawStereo(path);
  return std::count_if(frames.begin(), frames.end(),
                       [](const StereoFrame& f) { return f.left != 0 || f.right != 0; });
}

class Headless : public testing::Test {
 protected:
  Headless() : tone_gen_(nullptr), run_(&timer_, &handle_) {
    // The tone generator follows the run's asks, as the main window's does.
    QObject::connect(&run_, &TreatmentRun::ToneGenStopNeeded, [this] { tone_gen_.Stop(); });
    QObject::connect(&run_, &TreatmentRun::ToneGenLoopClearNeeded,
                     [this] { tone_gen_.SetLoop(false); });
    timer_.setInterval(180000);
    QObject::connect(&run_, &TreatmentRun::StepStarted, [this](int, int, const TreatmentStep&) {
      seen_ += 'S';
      EXPECT_TRUE(timer_.isActive());
    });
    QObject::connect(&run_, &TreatmentRun::StepEnded, [this](TreatmentRun::StepEnd how) {
      seen_ += how == TreatmentRun::StepEnd::Timer  ? 'T'
               : how == TreatmentRun::StepEnd::Skip ? 'K'
                                                    : 'P';
    });
    // The timer's end releases the output after this signal, Skip before it.
    stop_probe_ = QObject::connect(&run_, &TreatmentRun::StepEnded, [this] {
      output_open_at_step_end_.push_back(BASS_Stop() != 0);
    });
    QObject::connect(&run_, &TreatmentRun::AudioFailed, [this] { seen_ += 'F'; });
    QObject::connect(&run_, &TreatmentRun::RunEnded, [this](const TreatmentRun::RunResult& r) {
      seen_ += 'E';
      result_ = r;
    });
    tone_gen_.SetLoop(true);
  }

  // Runs BX virus (or program), doing acts[k - 1] in step k from an event loop, as a headless
  // face would.
  void RunWith(const std::vector<Act>& acts, const TreatmentProgram& program = BXVirusProgram) {
    int step = 0;
    run_.Run(program, [&](const TreatmentStep&) {
      const Act act = acts.at(static_cast<size_t>(step++));
      if (act == Act::Close) return false;
      QEventLoop loop;
      QObject::connect(&run_, &TreatmentRun::StepEnded, &loop, &QEventLoop::quit);
      QTimer::singleShot(0, [&] {
        switch (act) {
          case Act::Timer:
            run_.EndStepByTimer();
            break;
          case Act::Skip:
            run_.EndStepBySkip();
            break;
          case Act::EndProgram:
            run_.EndProgram();
            break;
          case Act::FailNextPlay:
            AudioOutputFailNextForTesting(AudioCall::ChannelPlay, 2);
            run_.EndStepByTimer();
            break;
          case Act::Close:
          case Act::TimerRunsOut:
            break;
        }
      });
      loop.exec();
      return true;
    });
  }

  TToneGen tone_gen_;
  QTimer timer_;
  uint32_t handle_ = 0;
  TreatmentRun run_;
  std::string seen_;
  std::vector<bool> output_open_at_step_end_;
  QMetaObject::Connection stop_probe_;
  TreatmentRun::RunResult result_;
};

TEST_F(Headless, EachWayOfEndingLeavesTheRunEndedAndTheOutputReleased) {
  const Case cases[] = {
      {"timer twice", {Act::Timer, Act::Timer}, RunEnd::Completed, 2, "STSTE"},
      {"skip, then timer", {Act::Skip, Act::Timer}, RunEnd::SkippedThrough, 2, "SKSTE"},
      {"closed in step 1", {Act::Close}, RunEnd::Closed, 1, "SE"},
      {"play fails in step 2", {Act::FailNextPlay}, RunEnd::Failed, 2, "STFE", 2},
      // Last: once the program ends, no run starts again.
      {"program ends in step 2", {Act::Timer, Act::EndProgram}, RunEnd::ProgramEnded, 2, "STSPE"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    seen_.clear();
    RunWith(c.acts);
    EXPECT_EQ(seen_, c.seen);
    EXPECT_EQ(result_.how, c.how);
    EXPECT_EQ(result_.program, &BXVirusProgram);
    EXPECT_EQ(result_.step, c.step);
    EXPECT_EQ(result_.steps, 2);
    EXPECT_EQ(result_.code, c.code);
    EXPECT_EQ(result_.message.isEmpty(), c.how != RunEnd::Failed) << result_.message.toStdString();
    EXPECT_FALSE(timer_.isActive());
    EXPECT_FALSE(run_.StepRunning());
    // A fresh initialisation succeeds: nothing was left open.
    EXPECT_NE(BASS_Init(-1, 44100, 0, nullptr, nullptr), 0) << BASS_ErrorGetCode();
    BASS_Free();
  }
}

TEST_F(Headless, TheTimerReleasesTheOutputAfterTheStepEndsAndSkipBefore) {
  RunWith({Act::Timer, Act::Skip});
  EXPECT_EQ(output_open_at_step_end_, (std::vector<bool>{true, false}));
  EXPECT_FALSE(tone_gen_.Loop());
}

TEST_F(Headless, AStepEndsOnItsDeadlineNeverEarlyAndItsToneLastsItsPeriodToTheFrame) {
  // A 10 s wait of the event loop may end up to 10 ms late (the kernel's slack is a thousandth
  // of the wait); the step must end within 5 ms of its deadline all the same. SDL's disk driver
  // keeps what the output played of step 1, taking a buffer every 5 ms, about four times a
  // device's pace (its own pace lags on a busy machine): 10 s of tone are 441000 frames all the
  // same, silence follows them.
  const ScratchDir scratch("zelkgen-deadline-");
  ASSERT_TRUE(scratch.Created());
  const std::string step_one = (scratch.Path() / "step1.raw").string();
  const std::string step_two = (scratch.Path() / "step2.raw").string();
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", step_one.c_str(), 1);
  setenv("SDL_DISKAUDIODELAY", "5", 1);
  using Clock = std::chrono::steady_clock;
  // The run makes the plain timer it is given precise, and ends the step when it fires.
  EXPECT_EQ(timer_.timerType(), Qt::PreciseTimer);
  timer_.setInterval(10000);
  Clock::time_point opened, started, ended;  // of step 1
  const auto first = [](Clock::time_point& at) {
    if (at == Clock::time_point{}) at = Clock::now();
  };
  QObject::connect(&run_, &TreatmentRun::StepOpened, [&] { first(opened); });
  QObject::connect(&run_, &TreatmentRun::StepStarted, [&] { first(started); });
  QObject::connect(&run_, &TreatmentRun::StepEnded, [&] {
    first(ended);
    setenv("SDL_DISKAUDIOFILE", step_two.c_str(), 1);
  });
  RunWith({Act::TimerRunsOut, Act::Skip});
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  unsetenv("SDL_DISKAUDIODELAY");
  ASSERT_EQ(seen_, "STSKE");
  // The step timer starts after StepOpened and before StepStarted.
  const auto ms = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d); };
  EXPECT_GE(ms(ended - opened).count(), 10000.0);
  EXPECT_LE(ms(ended - started).count(), 10005.0);
  EXPECT_EQ(ToneFrames(step_one), 441000);
}

TEST_F(Headless, AStepEndsOnItsDeadlineAcrossAPauseAndItsToneLastsItsPeriodInItsParts) {
  // Paused long enough for the output to be released (and opened again at the resume), or
  // resumed before that. SDL's disk driver, at four times a device's pace, keeps each part's
  // sound in a file of its own.
  using Clock = std::chrono::steady_clock;
  const auto ms = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d); };
  const ScratchDir scratch("zelkgen-pause-");
  ASSERT_TRUE(scratch.Created());
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIODELAY", "5", 1);
  timer_.setInterval(2000);
  for (const int pause_ms : {600, 100}) {
    SCOPED_TRACE(pause_ms);
    const std::string parts[] = {(scratch.Path() / "part1.raw").string(),
                                 (scratch.Path() / "part2.raw").string()};
    std::remove(parts[1].c_str());
    setenv("SDL_DISKAUDIOFILE", parts[0].c_str(), 1);
    Clock::time_point started, paused, resumed, ended;
    qint64 left_at_pause = -1, left_later = -1;
    bool released = false;
    QObject context;
    QObject::connect(&run_, &TreatmentRun::StepStarted, &context, [&](int step) {
      if (step != 1) return;
      started = Clock::now();
      QTimer::singleShot(300, &context, [&] {
        EXPECT_TRUE(run_.PauseStep());
        EXPECT_FALSE(run_.PauseStep());
        paused = Clock::now();
        left_at_pause = run_.StepTimeLeft();
        QTimer::singleShot(pause_ms, &context, [&] {
          left_later = run_.StepTimeLeft();
          EXPECT_TRUE(run_.ResumeStep());
          resumed = Clock::now();
        });
      });
    });
    QObject::connect(&run_, &TreatmentRun::PausedOutputReleased, &context, [&] {
      released = true;
      setenv("SDL_DISKAUDIOFILE", parts[1].c_str(), 1);
    });
    QObject::connect(&run_, &TreatmentRun::StepEnded, &context, [&] {
      if (ended == Clock::time_point{}) ended = Clock::now();
      setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
    });
    seen_.clear();
    RunWith({Act::TimerRunsOut, Act::Skip});
    EXPECT_EQ(seen_, "STSKE");
    EXPECT_EQ(released, pause_ms > 250);
    EXPECT_EQ(left_later, left_at_pause);
    EXPECT_NEAR(left_at_pause, 1700, 20);
    // Paused time does not count: the step ends on its deadline moved by the pause.
    const double late = ms(ended - started - (resumed - paused)).count() - 2000.0;
    EXPECT_GE(late, 0.0);
    EXPECT_LE(late, 5.0);
    EXPECT_EQ(ToneFrames(parts[0]) + ToneFrames(parts[1]), 88200);
  }
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  unsetenv("SDL_DISKAUDIODELAY");
}

TEST_F(Headless, AProgramFilePlaysItsFrequencyExactlyAGlideUnbrokenAndItsLevels) {
  // The steps' frames as the output played them, one after the other in one open output, through
  // SDL's disk driver at its own pace (one buffer's time a buffer, as a sound card takes them).
  const ScratchDir scratch("zelkgen-exact-");
  ASSERT_TRUE(scratch.Created());
  const std::string played = (scratch.Path() / "played").string();
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", played.c_str(), 1);
  unsetenv("SDL_DISKAUDIODELAY");
  // The output plays on from step to step: a probe that stops it would end the program's sound.
  QObject::disconnect(stop_probe_);
  const ParsedProgram file = ParseProgramText(
      "zelkgen program: Exact\n1000.125 2s sine\n440 -> 880 2s sine 50%\n3000.5 1s 25%\n");
  ASSERT_TRUE(file.errors.empty());
  RunWith({Act::TimerRunsOut, Act::TimerRunsOut, Act::TimerRunsOut}, file.program);
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  ASSERT_EQ(seen_, "STSTSTE");

  // Every frame of the three steps, joined with none lost or added between them: the square's
  // last frame is never 0, the sine's first is (it starts at phase 0, not at full scale).
  const std::vector<StereoFrame> all = ReadRawStereo(played);
  const FrameRange whole = AudibleRange(all, 0);
  const size_t frames = 88200 + 88200 + 44100;
  ASSERT_GE(whole.end, frames);
  const size_t begin = whole.end - frames;
  EXPECT_EQ(whole.begin, begin + 1);
  EXPECT_EQ(all[begin].left, 0);
  const auto part = [&](size_t from, size_t count) {
    return std::vector<StereoFrame>(all.begin() + long(begin + from),
                                    all.begin() + long(begin + from + count));
  };

  // The steady sine: its frequency to a thousandth of a hertz, two seconds to the frame.
  const std::vector<StereoFrame> steady = part(0, 88200);
  const FrameRange one = AudibleRange(steady, 0);
  EXPECT_NEAR(double(one.end - one.begin), 88200.0, 2.0);
  EXPECT_NEAR(MeasureFrequency(steady, one.begin, one.end), 1000.125, 0.001);
  EXPECT_EQ(MaxAntiphaseError(steady, one.begin, one.end), 0);

  // The glide at half level: from 440 Hz to 880 Hz over its 88200 frames, so at 660 Hz halfway,
  // and no sample moves further than the phase's own step at that moment allows, give or take a
  // table entry and the truncation (a jump of the phase by one step more would double it).
  const std::vector<StereoFrame> glide = part(88200, 88200);
  const FrameRange two = AudibleRange(glide, 0);
  EXPECT_EQ(PeakLevel(glide, two.begin, two.end), 32767 * 50 / 100);
  const size_t middle = (two.begin + two.end) / 2;
  EXPECT_NEAR(MeasureFrequency(glide, middle - 2205, middle + 2205), 660.0, 0.01);
  double worst = 0;
  for (size_t n = two.begin; n + 1 < two.end; ++n) {
    const double hertz = 440.0 + 440.0 * double(n - two.begin) / 88200.0;
    const double most = 2 * std::numbers::pi * 16383 * (hertz / 44100 + 1.0 / 44099) + 1;
    worst = std::max(worst, std::abs(glide[n + 1].left - glide[n].left) / most);
  }
  EXPECT_LE(worst, 1.0);

  // The square at a quarter of its level, the program's default shape.
  const std::vector<StereoFrame> square = part(176400, 44100);
  const FrameRange three = AudibleRange(square, 0);
  EXPECT_EQ(PeakLevel(square, three.begin, three.end), 26000 / 4);
  EXPECT_EQ(MaxAntiphaseError(square, three.begin, three.end), 0);
  EXPECT_NEAR(MeasureFrequency(square, three.begin, three.end), 3000.5, 0.1);
}

// A file read for a generator goes above what the sound card's stream carries: on the sound card
// its step is refused with the reason, never folded back into the audible range.
TEST_F(Headless, AStepAboveTheSoundCardsReachIsRefusedOnIt) {
  const ParsedProgram file =
      ParseProgramText("zelkgen program: High\n1000 1s\n30000 1s\n", ProgramFor::AnyOutput);
  ASSERT_TRUE(file.errors.empty());
  RunWith({Act::Timer, Act::Timer}, file.program);
  EXPECT_EQ(seen_, "STFE");
  EXPECT_EQ(result_.how, TreatmentRun::RunEnd::Failed);
  EXPECT_EQ(result_.message.toStdString(),
            "Step 2: a frequency is below 22050 Hz, half the sample rate");
}

TEST_F(Headless, NoRunStartsOnceTheProgramEnds) {
  run_.EndProgram();
  EXPECT_FALSE(run_.Run(BXVirusProgram, [](const TreatmentStep&) { return true; }));
  EXPECT_TRUE(seen_.empty());
}

// A countdown shows the seconds rounded up: 0:00 only once the time is over.
TEST(ClockTextRoundedUp, ShowsMinutesAndSecondsRoundedUp) {
  const struct {
    qint64 ms;
    const char* text;
  } cases[] = {{-5, "0:00"},     {0, "0:00"},       {1, "0:01"},      {1000, "0:01"},
               {1001, "0:02"},   {59001, "1:00"},   {161000, "2:41"}, {179001, "3:00"},
               {180000, "3:00"}, {1800000, "30:00"}};
  for (const auto& c : cases) EXPECT_EQ(ClockTextRoundedUp(c.ms), c.text) << c.ms;
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  InitDDFS();
  QCoreApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
