// The audio output layer through SDL's real audio thread with no sound card and no server: the
// disk driver writes exactly what the callback produced into a file, in real time.
#include "audio_output.h"

#include <SDL.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "audio_output_testing.h"
#include "ddfs.h"
#include "output_thread.h"
#include "scratch_dir.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Wraps ToneStreamProc and counts what it delivered, so a test sees every call SDL made.
struct StreamLog {
  std::atomic<uint32_t> calls{0};
  std::atomic<uint64_t> bytes{0};
  std::atomic<uint32_t> length{0};
  std::atomic<HSTREAM> handle{0};
  std::atomic<bool> stopped{false};
  std::atomic<uint32_t> calls_while_stopped{0};
};

uint32_t LoggingToneStreamProc(HSTREAM handle, void* buffer, uint32_t length, void* user) {
  auto* log = static_cast<StreamLog*>(user);
  if (log->stopped) ++log->calls_while_stopped;
  const uint32_t delivered = ToneStreamProc(handle, buffer, length, nullptr);
  log->handle = handle;
  log->length = length;
  log->bytes += delivered;
  ++log->calls;
  return delivered;
}

// Fills the whole buffer with 0x11 but reports only the first half delivered.
uint32_t HalfDeliveringProc(HSTREAM, void* buffer, uint32_t length, void* user) {
  std::memset(buffer, 0x11, length);
  static_cast<StreamLog*>(user)->length = length;
  static_cast<StreamLog*>(user)->calls++;
  return length / 2;
}

// The DDFS rules written out again: a phase steps by the whole hertz and one past 44099 is
// reduced modulo 44099; the square is +26000 for entries below 22050, -26000 from there on.
struct ReferenceSquare {
  uint32_t left_phase;
  uint32_t right_phase;
  uint32_t step;
  static int16_t Next(uint32_t& phase, uint32_t step) {
    const int16_t sample = phase < 22050 ? 26000 : -26000;
    phase += step;
    if (phase > 44099) phase %= 44099;
    return sample;
  }
};

struct ReferenceSine {
  uint32_t left_phase;
  uint32_t right_phase;
  uint32_t step;
  static int16_t Next(uint32_t& phase, uint32_t step) {
    const int16_t sample = SineTable[phase];  // the table itself is checked entry by entry
    phase += step;
    if (phase > 44099) phase %= 44099;
    return sample;
  }
};

std::vector<unsigned char> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int16_t Le16(const unsigned char* at) {
  return static_cast<int16_t>(at[0] | (at[1] << 8));
}

bool AllZero(const unsigned char* begin, const unsigned char* end) {
  return std::all_of(begin, end, [](unsigned char b) { return b == 0; });
}

size_t CountEntries(const char* dir) {
  size_t count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir)) ++count;
  return count;
}

template <typename Predicate>
bool WaitFor(Predicate done, std::chrono::milliseconds limit = 5000ms) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

class AudioOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch_.Created());
    output_file_ = dir_ / "out.raw";
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", output_file_.c_str(), 1);
    InitDDFS();
    StreamAmplitude = 1.0L;
  }
  void TearDown() override {
    BASS_Free();
    Closed();
  }
  // BASS_Free closes the device on the output thread, without waiting for it.
  static void Closed() { ASSERT_TRUE(WaitForOutputThread(5000ms)) << "the close did not end"; }

  // Plays the current DDFS settings for about the given time, stops, frees, and returns what the
  // device received, with the log of what the stream procedure delivered.
  std::vector<unsigned char> PlayAndCapture(std::chrono::milliseconds time, StreamLog* log) {
    EXPECT_NE(BASS_Init(-1, 44100, 0, nullptr, nullptr), 0);
    EXPECT_EQ(BASS_ErrorGetCode(), AUDIO_OK);
    const HSTREAM handle = BASS_StreamCreate(44100, 2, 0, LoggingToneStreamProc, log);
    EXPECT_NE(handle, 0u);
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(log->calls, 0u) << "the stream ran before it was played";
    EXPECT_NE(BASS_ChannelPlay(handle, 0), 0);
    const uint64_t wanted = 44100ull * 4 * time.count() / 1000;
    EXPECT_TRUE(WaitFor([&] { return log->bytes >= wanted; }));
    EXPECT_NE(BASS_Stop(), 0);
    EXPECT_EQ(log->handle, handle);
    EXPECT_NE(BASS_Free(), 0);
    Closed();
    return ReadFile(output_file_);
  }

  ScratchDir scratch_{"zelkgen-disk-"};
  const fs::path& dir_ = scratch_.Path();
  fs::path output_file_;
};

// Compares the captured device output with a reference: silence, then exactly the frames the
// stream delivered starting at a device-buffer boundary, then silence again.
template <typename Reference>
void ExpectCaptureIsReference(const std::vector<unsigned char>& file, const StreamLog& log,
                              Reference reference,
                              std::vector<std::pair<int16_t, int16_t>>* frames) {
  const size_t buffer = log.length;
  ASSERT_GT(buffer, 0u);
  EXPECT_LE(buffer, 1024u * 4) << "device buffers above 1024 frames delay Skip";
  size_t start = 0;
  while (start < file.size() && AllZero(&file[start], &file[std::min(file.size(), start + buffer)]))
    start += buffer;
  const size_t produced = log.bytes;
  ASSERT_GE(file.size(), start + produced) << "the file lacks frames the stream produced";
  for (size_t at = start; at < start + produced; at += 4) {
    const int16_t left = Reference::Next(reference.left_phase, reference.step);
    const int16_t right = Reference::Next(reference.right_phase, reference.step);
    ASSERT_EQ(Le16(&file[at]), left) << "frame " << (at - start) / 4;
    ASSERT_EQ(Le16(&file[at + 2]), right) << "frame " << (at - start) / 4;
    frames->push_back({left, right});
  }
  EXPECT_TRUE(AllZero(file.data() + start + produced, file.data() + file.size()))
      << "the device played something the stream did not produce";
}

TEST_F(AudioOutputTest, SquareFramesReachTheDeviceInAntiphase) {
  OutputWaveShape = wsSquare;
  StreamFrequency = 2128.0L;
  ReferenceSquare reference{Phase[1], Phase[9], 2128};
  StreamLog log;
  const auto file = PlayAndCapture(500ms, &log);
  std::vector<std::pair<int16_t, int16_t>> frames;
  ExpectCaptureIsReference(file, log, reference, &frames);
  ASSERT_GE(frames.size(), 22050u);

  // Antiphase holds except where the left phase sits on 44099, which stands in for 0 but reads
  // the last entry (-26000) while the right reads entry 22050 (-26000). 2128 shares the factor 19
  // with 44099, so that happens once every 44099 / 19 = 2321 frames.
  size_t exceptions = 0;
  for (const auto& [left, right] : frames) {
    if (left == -right) continue;
    ++exceptions;
    EXPECT_EQ(left, -26000);
    EXPECT_EQ(right, -26000);
  }
  EXPECT_NEAR(static_cast<double>(exceptions), frames.size() / 2321.0, 1.0);
}

TEST_F(AudioOutputTest, SineFramesReachTheDeviceUnchanged) {
  OutputWaveShape = wsSine;
  StreamFrequency = 1000.0L;
  ReferenceSine reference{Phase[1], Phase[9], 1000};
  StreamLog log;
  const auto file = PlayAndCapture(300ms, &log);
  std::vector<std::pair<int16_t, int16_t>> frames;
  ExpectCaptureIsReference(file, log, reference, &frames);
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(frames[0], std::make_pair(int16_t{0}, int16_t{0}));
}

TEST_F(AudioOutputTest, NothingIsProducedAfterStopReturns) {
  OutputWaveShape = wsSquare;
  StreamFrequency = 440.0L;
  StreamLog log;
  ASSERT_NE(BASS_Init(-1, 44100, 0, nullptr, nullptr), 0);
  const HSTREAM handle = BASS_StreamCreate(44100, 2, 0, LoggingToneStreamProc, &log);
  ASSERT_NE(handle, 0u);
  for (int round = 0; round < 12; ++round) {
    log.stopped = false;
    const uint32_t before = log.calls;
    ASSERT_NE(BASS_ChannelPlay(handle, 0), 0);
    ASSERT_TRUE(WaitFor([&] { return log.calls > before; })) << "playing resumes after a stop";
    // Stop at varying points of the device's cycle.
    std::this_thread::sleep_for(std::chrono::milliseconds(3 * round));
    ASSERT_NE(BASS_Stop(), 0);
    log.stopped = true;
    const uint32_t at_stop = log.calls;
    const auto size_at_stop = fs::file_size(output_file_);
    std::this_thread::sleep_for(200ms);  // more than eight device buffers
    EXPECT_EQ(log.calls, at_stop);
    // The paused device goes on writing silence only. Allow for the buffer in flight and for
    // what the driver's file buffering had not yet written when Stop returned.
    const auto file = ReadFile(output_file_);
    const size_t in_flight = 4 * log.length;
    if (file.size() > size_at_stop + in_flight) {
      EXPECT_TRUE(AllZero(file.data() + size_at_stop + in_flight, file.data() + file.size()))
          << "round " << round;
    }
  }
  EXPECT_EQ(log.calls_while_stopped, 0u);
  EXPECT_NE(BASS_Free(), 0);
}

TEST_F(AudioOutputTest, WhatTheProcedureDoesNotDeliverIsSilenced) {
  StreamLog log;
  ASSERT_NE(BASS_Init(-1, 44100, 0, nullptr, nullptr), 0);
  const HSTREAM handle = BASS_StreamCreate(44100, 2, 0, HalfDeliveringProc, &log);
  ASSERT_NE(BASS_ChannelPlay(handle, 0), 0);
  ASSERT_TRUE(WaitFor([&] { return log.calls >= 5; }));
  BASS_Stop();
  BASS_Free();
  Closed();
  const auto file = ReadFile(output_file_);
  // Delivered halves carry 0x11, every undelivered half is silence, nothing else appears.
  size_t delivered = 0;
  for (unsigned char byte : file) {
    ASSERT_TRUE(byte == 0x11 || byte == 0);
    delivered += byte == 0x11;
  }
  EXPECT_GE(delivered, 5u * 2048);
  const size_t buffer = log.length;
  const size_t half = buffer / 2;
  const size_t first = std::find(file.begin(), file.end(), 0x11) - file.begin();
  EXPECT_EQ(first % buffer, 0u);
  for (size_t at = first; at + buffer <= file.size() && file[at] == 0x11; at += buffer) {
    EXPECT_TRUE(
        std::all_of(&file[at], &file[at + half], [](unsigned char b) { return b == 0x11; }));
    EXPECT_TRUE(AllZero(&file[at + half], &file[at + buffer]));
  }
}

// A stream that writes its own mark on the left and the index of each frame on the right.
struct MarkedStream {
  int16_t mark;
  int16_t next = 0;
};

uint32_t MarkedStreamProc(HSTREAM, void* buffer, uint32_t length, void* user) {
  auto* stream = static_cast<MarkedStream*>(user);
  auto* out = static_cast<int16_t*>(buffer);
  for (uint32_t k = 0; k < length / 4; ++k) {
    out[2 * k] = stream->mark;
    out[2 * k + 1] = stream->next++;
  }
  return length;
}

TEST_F(AudioOutputTest, AJoinedStreamFollowsTheLimitsLastFrameWithNoneLostOrAdded) {
  // Limits inside a device buffer, on its edge and across several; the first stream joined is
  // replaced before the join, so only the second follows.
  const std::pair<uint64_t, uint64_t> cases[] = {{1000, 2500}, {1024, 1}, {5, 3000}, {3000, 1024}};
  for (const auto& [first_limit, second_limit] : cases) {
    SCOPED_TRACE(std::to_string(first_limit) + " then " + std::to_string(second_limit));
    MarkedStream first{1}, replaced{2}, second{3};
    ASSERT_NE(BASS_Init(-1, 44100, 0, nullptr, nullptr), 0);
    const HSTREAM handle = BASS_StreamCreate(44100, 2, 0, MarkedStreamProc, &first);
    ASSERT_NE(AudioOutputLimitStream(first_limit), 0);
    ASSERT_NE(AudioOutputChainStream(MarkedStreamProc, &replaced, 10), 0);
    ASSERT_NE(AudioOutputChainStream(MarkedStreamProc, &second, second_limit), 0);
    ASSERT_NE(BASS_ChannelPlay(handle, 0), 0);
    ASSERT_TRUE(WaitFor([] { return AudioOutputStreamPlayedOut(); }));
    EXPECT_EQ(AudioOutputStreamJoins(), 1u);
    EXPECT_EQ(AudioOutputStreamFrames(), second_limit);
    BASS_Stop();
    BASS_Free();
    Closed();
    const auto file = ReadFile(output_file_);
    std::vector<std::pair<int16_t, int16_t>> sound;
    size_t first_sound = file.size(), last_sound = 0;
    for (size_t at = 0; at + 4 <= file.size(); at += 4) {
      if (Le16(&file[at]) == 0 && Le16(&file[at + 2]) == 0) continue;
      first_sound = std::min(first_sound, at);
      last_sound = at;
    }
    ASSERT_LT(first_sound, file.size()) << "nothing played";
    for (size_t at = first_sound; at <= last_sound; at += 4) {
      sound.emplace_back(Le16(&file[at]), Le16(&file[at + 2]));
    }
    // Frame 0 of the first stream is (1, 0): all sound from it to the second stream's last frame.
    std::vector<std::pair<int16_t, int16_t>> expected;
    for (uint64_t k = 0; k < first_limit; ++k) expected.emplace_back(1, k);
    for (uint64_t k = 0; k < second_limit; ++k) expected.emplace_back(3, k);
    EXPECT_EQ(sound, expected);
    EXPECT_EQ(replaced.next, 0);
  }
}

TEST_F(AudioOutputTest, JoiningNeedsAnOpenLimitedStreamAProcedureAndFrames) {
  MarkedStream stream{1};
  EXPECT_EQ(AudioOutputChainStream(MarkedStreamProc, &stream, 10), 0);
  EXPECT_EQ(BASS_ErrorGetCode(), AUDIO_ERROR_NOT_INIT);
  ASSERT_NE(BASS_Init(-1, 44100, 0, nullptr, nullptr), 0);
  EXPECT_EQ(AudioOutputChainStream(MarkedStreamProc, &stream, 10), 0);
  EXPECT_EQ(BASS_ErrorGetCode(), AUDIO_ERROR_HANDLE);
  ASSERT_NE(BASS_StreamCreate(44100, 2, 0, MarkedStreamProc, &stream), 0u);
  EXPECT_EQ(AudioOutputChainStream(MarkedStreamProc, &stream, 10), 0) << "a stream without limit";
  ASSERT_NE(AudioOutputLimitStream(100), 0);
  EXPECT_EQ(AudioOutputChainStream(MarkedStreamProc, &stream, 0), 0);
  EXPECT_EQ(AudioOutputChainStream(nullptr, &stream, 10), 0);
  EXPECT_NE(AudioOutputChainStream(MarkedStreamProc, &stream, 10), 0);
  EXPECT_EQ(BASS_ErrorGetCode(), AUDIO_OK);
}

TEST_F(AudioOutputTest, InitAndFreeWorkAHundredTimesWithoutLeaking) {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  StreamLog log;
  size_t fds_after_first = 0;
  size_t threads_after_first = 0;
  std::set<HSTREAM> handles;
  for (int cycle = 0; cycle < 100; ++cycle) {
    ASSERT_NE(BASS_Init(-1, 44100, 0, nullptr, nullptr), 0) << "cycle " << cycle;
    const HSTREAM handle = BASS_StreamCreate(44100, 2, 0, LoggingToneStreamProc, &log);
    ASSERT_NE(handle, 0u) << "cycle " << cycle;
    handles.insert(handle);
    ASSERT_NE(BASS_ChannelPlay(handle, 0), 0) << "cycle " << cycle;
    ASSERT_NE(BASS_Stop(), 0);
    ASSERT_NE(BASS_Free(), 0);
    ASSERT_EQ(BASS_ErrorGetCode(), AUDIO_OK);
    Closed();
    ASSERT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u) << "the layer keeps SDL audio after BASS_Free";
    if (cycle == 0) {
      fds_after_first = CountEntries("/proc/self/fd");
      threads_after_first = CountEntries("/proc/self/task");
    }
  }
  EXPECT_EQ(handles.size(), 100u) << "every stream gets its own handle";
  EXPECT_EQ(CountEntries("/proc/self/fd"), fds_after_first);
  EXPECT_EQ(CountEntries("/proc/self/task"), threads_after_first);
}

TEST_F(AudioOutputTest, AnotherSdlAudioUserKeepsItsSubsystem) {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_AUDIO), 0) << SDL_GetError();
  for (int cycle = 0; cycle < 3; ++cycle) {
    ASSERT_NE(BASS_Init(-1, 44100, 0, nullptr, nullptr), 0);
    ASSERT_NE(BASS_Free(), 0);
    Closed();
    EXPECT_NE(SDL_WasInit(SDL_INIT_AUDIO), 0u);
  }
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
  EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);
}

TEST_F(AudioOutputTest, InitWhileInitialisedFailsAndKeepsTheOpenOutput) {
  ASSERT_NE(BASS_Init(-1, 44100, 0, nullptr, nullptr), 0);
  EXPECT_EQ(BASS_Init(-1, 44100, 0, nullptr, nullptr), 0);
  EXPECT_EQ(BASS_ErrorGetCode(), AUDIO_ERROR_ALREADY);
  StreamLog log;
  const HSTREAM handle = BASS_StreamCreate(44100, 2, 0, LoggingToneStreamProc, &log);
  EXPECT_NE(handle, 0u);
  EXPECT_EQ(BASS_ErrorGetCode(), AUDIO_OK);
  EXPECT_NE(BASS_ChannelPlay(handle, 0), 0);
  EXPECT_TRUE(WaitFor([&] { return log.calls > 0; }));
  EXPECT_NE(BASS_Free(), 0);
  Closed();
  EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);
}

TEST_F(AudioOutputTest, CallsOutOfOrderFailWithTheirOwnCodes) {
  StreamLog log;
  EXPECT_EQ(BASS_StreamCreate(44100, 2, 0, LoggingToneStreamProc, &log), 0u);
  EXPECT_EQ(BASS_ErrorGetCode(), AUDIO_ERROR_NOT_INIT);
  EXPECT_EQ(BASS_Stop(), 0);  // nothing open: harmless, and says so
  EXPECT_EQ(BASS_ErrorGetCode(), AUDIO_ERROR_NOT_INIT);
  EXPECT_EQ(BASS_Free(), 0);
  EXPECT_EQ(BASS_ErrorGetCode(), AUDIO_ERROR_NOT_INIT);
  EXPECT_EQ(BASS_Free(), 0);

  ASSERT_NE(BASS_Init(-1, 44100, 0, nullptr, nullptr), 0);
  EXPECT_NE(BASS_Stop(), 0);  // open but nothing playing
  EXPECT_EQ(BASS_ErrorGetCode(), AUDIO_OK);
  EXPECT_NE(BASS_Free(), 0);
}

TEST_F(AudioOutputTest, UnsupportedFormatsAreRefused) {
  EXPECT_EQ(BASS_Init(0, 44100, 0, nullptr, nullptr), 0);
  EXPECT_EQ(BASS_ErrorGetCode(), AUDIO_ERROR_FORMAT);
  EXPECT_EQ(BASS_Init(-1, 48000, 0, nullptr, nullptr), 0);
  EXPECT_EQ(BASS_ErrorGetCode(), AUDIO_ERROR_FORMAT);
  EXPECT_EQ(BASS_Init(-1, 44100, 4, nullptr, nullptr), 0);
  EXPECT_EQ(BASS_ErrorGetCode(), AUDIO_ERROR_FORMAT);
  EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u) << "a refused Init left SDL audio running";

  ASSERT_NE(BASS_Init(-1, 44100, 0, nullptr, nullptr), 0);
  StreamLog log;
  EXPECT_EQ(BASS_StreamCreate(48000, 2, 0, LoggingToneStreamProc, &log), 0u);
  EXPECT_EQ(BASS_ErrorGetCode(), AUDIO_ERROR_FORMAT);
  EXPECT_EQ(BASS_StreamCreate(44100, 1, 0, LoggingToneStreamProc, &log), 0u);
  EXPECT_EQ(BASS_ErrorGetCode(), AUDIO_ERROR_FORMAT);
  EXPECT_EQ(BASS_StreamCreate(44100, 2, 0x100, LoggingToneStreamProc, &log), 0u);
  EXPECT_EQ(BASS_ErrorGetCode(), AUDIO_ERROR_FORMAT);
  EXPECT_EQ(BASS_StreamCreate(44100, 2, 0, nullptr, &log), 0u);
  EXPECT_EQ(BASS_ErrorGetCode(), AUDIO_ERROR_UNKNOWN);
}

TEST_F(AudioOutputTest, PlayingAZeroUnknownOrFreedHandleFails) {
  ASSERT_NE(BASS_Init(-1, 44100, 0, nullptr, nullptr), 0);
  EXPECT_EQ(BASS_ChannelPlay(0, 0), 0);
  EXPECT_EQ(BASS_ErrorGetCode(), AUDIO_ERROR_HANDLE);
  StreamLog log;
  const HSTREAM first = BASS_StreamCreate(44100, 2, 0, LoggingToneStreamProc, &log);
  ASSERT_NE(first, 0u);
  EXPECT_EQ(BASS_ChannelPlay(first + 1, 0), 0);
  EXPECT_EQ(BASS_ErrorGetCode(), AUDIO_ERROR_HANDLE);

  // A second stream takes the first one's place.
  const HSTREAM second = BASS_StreamCreate(44100, 2, 0, LoggingToneStreamProc, &log);
  ASSERT_NE(second, 0u);
  EXPECT_NE(second, first);
  EXPECT_EQ(BASS_ChannelPlay(first, 0), 0);
  EXPECT_EQ(BASS_ErrorGetCode(), AUDIO_ERROR_HANDLE);
  EXPECT_NE(BASS_ChannelPlay(second, 0), 0);
  EXPECT_EQ(BASS_ErrorGetCode(), AUDIO_OK);

  EXPECT_NE(BASS_Free(), 0);
  EXPECT_EQ(BASS_ChannelPlay(second, 0), 0);
  EXPECT_EQ(BASS_ErrorGetCode(), AUDIO_ERROR_HANDLE);
  ASSERT_NE(BASS_Init(-1, 44100, 0, nullptr, nullptr), 0);
  EXPECT_EQ(BASS_ChannelPlay(second, 0), 0) << "a handle from before BASS_Free came back to life";
  EXPECT_EQ(BASS_ErrorGetCode(), AUDIO_ERROR_HANDLE);
}

TEST_F(AudioOutputTest, TheTestSeamFailsTheNextCallOfItsKindOnly) {
  AudioOutputFailNextForTesting(AudioCall::Init, AUDIO_ERROR_DRIVER);
  EXPECT_EQ(BASS_Init(-1, 44100, 0, nullptr, nullptr), 0);
  EXPECT_EQ(BASS_ErrorGetCode(), AUDIO_ERROR_DRIVER);
  EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u) << "a seam failure touched SDL";
  ASSERT_NE(BASS_Init(-1, 44100, 0, nullptr, nullptr), 0);

  StreamLog log;
  AudioOutputFailNextForTesting(AudioCall::StreamCreate, 1234);
  EXPECT_EQ(BASS_StreamCreate(44100, 2, 0, LoggingToneStreamProc, &log), 0u);
  EXPECT_EQ(BASS_ErrorGetCode(), 1234);
  const HSTREAM handle = BASS_StreamCreate(44100, 2, 0, LoggingToneStreamProc, &log);
  ASSERT_NE(handle, 0u);

  AudioOutputFailNextForTesting(AudioCall::ChannelPlay, AUDIO_ERROR_UNKNOWN);
  EXPECT_EQ(BASS_ChannelPlay(handle, 0), 0);
  EXPECT_EQ(BASS_ErrorGetCode(), AUDIO_ERROR_UNKNOWN);
  std::this_thread::sleep_for(60ms);
  EXPECT_EQ(log.calls, 0u) << "a failed ChannelPlay started the stream";
  EXPECT_NE(BASS_ChannelPlay(handle, 0), 0);
  EXPECT_EQ(BASS_ErrorGetCode(), AUDIO_OK);
}

// Every code the layer reports has a text of its own, which names its cause; anything else is
// unknown.
TEST(AudioErrorText, EachCodeHasItsOwnTextAndOthersAreUnknown) {
  const struct {
    int code;
    const char* word;  // a word of the cause the README gives for the code
  } codes[] = {{AUDIO_OK, "no error"},
               {AUDIO_ERROR_NO_DEVICE, "device"},
               {AUDIO_ERROR_DRIVER, "driver"},
               {AUDIO_ERROR_ALREADY, "still open"},
               {AUDIO_ERROR_NOT_INIT, "not open"},
               {AUDIO_ERROR_HANDLE, "handle"},
               {AUDIO_ERROR_FORMAT, "44100"},
               {AUDIO_ERROR_TIMEOUT, "did not answer"}};
  std::set<std::string> texts;
  for (const auto& c : codes) {
    const std::string text = AudioErrorText(c.code);
    EXPECT_NE(text.find(c.word), std::string::npos) << c.code << ": " << text;
    EXPECT_NE(text, "unknown error") << c.code;
    texts.insert(text);
  }
  EXPECT_EQ(texts.size(), std::size(codes));
  for (int code : {int{AUDIO_ERROR_UNKNOWN}, 8, -2, 1000})
    EXPECT_STREQ(AudioErrorText(code), "unknown error");
}

}  // namespace
