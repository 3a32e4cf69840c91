// The real program's export: the files, decoded by sox, hold exactly the frames ToneStreamProc
// makes for the programs' frequencies step after step, and a failed export leaves the old file
// and no temporary file behind.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "ddfs.h"
#include "little_endian.h"
#include "scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The programs' frequencies as the windows show them.
const std::vector<long double> kZelkGeneral = {10000, 5000, 1800, 1500,   690,
                                               650,   600,  465,  2.165L, 2.008L};
const std::vector<long double> kBXVirus = {2128, 3713};
constexpr uint32_t kFullStep = 180 * 44100;  // 180000 ms

// Frames first..first + count - 1 (left, right interleaved) of a run of these steps, made by
// ToneStreamProc itself from the state start-up leaves, one whole step per call where it fits.
std::vector<int16_t> RunFrames(const std::vector<long double>& steps, WaveShape shape,
                               uint32_t step_frames, uint64_t first, uint64_t count) {
  InitDDFS();
  OutputWaveShape = shape;
  std::vector<int16_t> run;
  std::vector<int16_t> buffer(size_t{2} * std::min<uint32_t>(step_frames, 1u << 20));
  uint64_t at = 0;
  for (long double frequency : steps) {
    StreamFrequency = frequency;
    StreamAmplitude = 1.0L;
    for (uint32_t left = step_frames; left > 0;) {
      const uint32_t frames = std::min<uint32_t>(left, buffer.size() / 2);
      ToneStreamProc(0, buffer.data(), frames * 4, nullptr);
      for (uint32_t k = 0; k < frames; ++k, ++at) {
        if (at >= first && at < first + count)
          run.insert(run.end(), {buffer[2 * k], buffer[2 * k + 1]});
      }
      left -= frames;
    }
  }
  return run;
}

void Write(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

bool TemporaryLeft(const fs::path& folder) {
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().filename().string().rfind(".zelkgen-", 0) == 0) return true;
  }
  return false;
}

class ProgramExport : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch_.Created());
    if (!OnPath("sox") || !OnPath("soxi")) GTEST_SKIP() << "needs sox";
  }

  ProgramRun Zelkgen(const std::vector<std::string>& arguments, const std::string& shell = "") {
    std::vector<std::string> argv = {ZELKGEN_PROGRAM};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    // A shell in front sets limits (ulimit) for the program it then becomes.
    if (!shell.empty()) argv.insert(argv.begin(), {"sh", "-c", shell + "; exec \"$0\" \"$@\""});
    return RunProgram(argv, {}, Folder());
  }

  // Frames first..first + count - 1 of an audio file, decoded by sox.
  std::vector<int16_t> Decode(const fs::path& file, uint64_t first = 0, uint64_t count = 0) {
    const fs::path raw = scratch_.Path() / "decoded.raw";
    std::vector<std::string> argv = {"sox",    file.string(), "-t", "raw", "-e",
                                     "signed", "-b",          "16", "-L",  raw.string()};
    if (count > 0)
      argv.insert(argv.end(), {"trim", std::to_string(first) + "s", std::to_string(count) + "s"});
    EXPECT_EQ(RunProgram(argv, {}, Folder()).status, 0);
    const std::string bytes = ReadFile(raw);
    std::vector<int16_t> samples(bytes.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i) {
      samples[i] = static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                        static_cast<uint8_t>(bytes[2 * i + 1]) << 8);
    }
    return samples;
  }

  std::string Soxi(const std::string& option, const fs::path& file) {
    std::string out = RunProgram({"soxi", option, file.string()}, {}, Folder()).out;
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  }

  std::string Folder() const { return scratch_.Path().string(); }

  ScratchDir scratch_;
};

struct ShortCase {
  const char* file;
  const char* program;
  const std::vector<long double>* steps;
  const char* shape;  // empty: the default, square
  WaveShape table;
};

TEST_F(ProgramExport, FilesHoldTheStreamFramesAcrossStepBoundaries) {
  const uint32_t step_frames = 3001;
  const ShortCase cases[] = {
      {"zelk.flac", "zelk", &kZelkGeneral, "", wsSquare},
      {"bx.wav", "bx", &kBXVirus, "sine", wsSine},
      {"Zelk.FLAC", "zelk", &kZelkGeneral, "sine", wsSine},
  };
  for (const ShortCase& c : cases) {
    SCOPED_TRACE(c.file);
    const fs::path target = scratch_.Path() / c.file;
    Write(target, "an older file");
    std::vector<std::string> arguments = {"--export",           target.string(),
                                          "--program",          c.program,
                                          "--test-step-frames", std::to_string(step_frames)};
    if (*c.shape != '\0') arguments.insert(arguments.end(), {"--shape", c.shape});
    const ProgramRun run = Zelkgen(arguments);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");  // no progress line where standard error is no terminal
    const uint64_t frames = uint64_t{step_frames} * c.steps->size();
    EXPECT_EQ(Decode(target), RunFrames(*c.steps, c.table, step_frames, 0, frames));
  }
  EXPECT_FALSE(TemporaryLeft(scratch_.Path()));
}

// A program file's step, with what its line says the frames are.
struct GatedStep {
  std::string line;
  long double start_hz, end_hz;
  uint64_t frames;
  int level;
  bool square;              // the step's own shape; else the export's
  int64_t gate_millihertz;  // 0: no gate
  int on, duty;             // percent
};

TEST_F(ProgramExport, GatesAndDutiesSoundOnExactlyTheirFramesOverTheRunningCarrier) {
  const GatedStep steps[] = {
      {"1000 2s gate 10", 1000, 1000, 88200, 100, false, 10000, 50, 50},
      {"1000 2s gate 10 on 25%", 1000, 1000, 88200, 100, false, 10000, 25, 50},
      {"7.83 -> 15 3s square duty 25%", 7.83L, 15, 132300, 100, true, 0, 50, 25},
      {"728 3s gate 7.83 50%", 728, 728, 132300, 50, false, 7830, 50, 50},
      {"100 -> 50 2s gate 3 on 40%", 100, 50, 88200, 100, false, 3000, 40, 50},
  };
  const fs::path file = scratch_.Path() / "gates.zelkgen";
  std::string text = "zelkgen program: Gates\n";
  for (const GatedStep& step : steps) text += step.line + "\n";
  Write(file, text);
  InitDDFS();
  for (const bool sine : {false, true}) {
    SCOPED_TRACE(sine ? "sine" : "square");
    const fs::path target = scratch_.Path() / "gates.wav";
    const ProgramRun run = Zelkgen({"--export", target.string(), "--program", file.string(),
                                    "--shape", sine ? "sine" : "square"});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<int16_t> samples = Decode(target);
    ASSERT_EQ(samples.size(), 2u * (88200 + 88200 + 132300 + 132300 + 88200));
    long double cycles = 0;  // the carrier's phase at a step's start: it runs on between steps
    size_t at = 0;
    for (const GatedStep& step : steps) {
      SCOPED_TRACE(step.line);
      const long double n_frames = step.frames;
      // The carrier's phase in cycles after n frames: its frequency moves by equal amounts per
      // frame from the start to the end frequency over the step.
      const auto phase = [&](uint64_t n) {
        const long double k = n;
        return cycles +
               (k * step.start_hz + (step.end_hz - step.start_hz) / n_frames * k * (k - 1) / 2) /
                   44100.0L;
      };
      uint64_t unsure = 0, wrong = 0;
      for (uint64_t n = 0; n < step.frames; ++n) {
        const long double x = phase(n);
        const long double fraction = x - std::floor(x);
        // On while the fraction of n x rate / 44100 is below the on share.
        const bool on =
            step.gate_millihertz == 0 ||
            (n * uint64_t(step.gate_millihertz)) % 44100000 * 100 < uint64_t(step.on) * 44100000;
        int32_t expected = 0;
        bool sure = true;
        if (on && (step.square || !sine)) {
          // High for the duty's share of the period; a frame within a table entry of the edge,
          // or at the cycle's very start, could fall either way.
          const long double edge = step.duty / 100.0L;
          sure = fraction > 1e-9L && std::abs(fraction - edge) > 1.0L / 44099;
          expected = (fraction < edge ? 26000 : -26000) * step.level / 100;
        } else if (on) {
          const long double entry = fraction * 44099;
          sure = entry - std::floor(entry) > 1e-6L && entry - std::floor(entry) < 1 - 1e-6L;
          expected = SineTable[size_t(entry)] * step.level / 100;
        }
        const int16_t left = samples[2 * (at + n)], right = samples[2 * (at + n) + 1];
        if (!sure) {
          ++unsure;
        } else if (left != expected || right != -expected) {
          if (++wrong <= 3) ADD_FAILURE() << "frame " << n << ": " << left << ", " << right;
        }
      }
      EXPECT_EQ(wrong, 0u);
      EXPECT_LT(unsure, step.frames / 100);
      cycles = phase(step.frames);
      at += step.frames;
    }
  }
}

TEST_F(ProgramExport, FullLengthFilesHaveEveryFrameAndTheRightHeader) {
  const uint64_t frames = uint64_t{kFullStep} * kBXVirus.size();
  for (const char* name : {"bx.flac", "bx.wav"}) {
    SCOPED_TRACE(name);
    const fs::path target = scratch_.Path() / name;
    const ProgramRun run = Zelkgen({"--export", target.string(), "--program", "bx"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Soxi("-s", target), std::to_string(frames));
    EXPECT_EQ(Soxi("-r", target), "44100");
    EXPECT_EQ(Soxi("-c", target), "2");
    EXPECT_EQ(Soxi("-b", target), "16");
    // Ten frames either side of the step boundary, without decoding the rest.
    EXPECT_EQ(Decode(target, kFullStep - 10, 20),
              RunFrames(kBXVirus, wsSquare, kFullStep, kFullStep - 10, 20));
  }
  // Tagged with the program and the application: Vorbis comments in the FLAC file, and in the WAV
  // file a LIST INFO chunk between the 36 bytes of RIFF and format chunks and the samples, which
  // end the file.
  const std::string comments = Soxi("-a", scratch_.Path() / "bx.flac");
  EXPECT_NE(comments.find("title=BX virus\n"), std::string::npos) << comments;
  EXPECT_NE(comments.find("software=zelkgen " ZELKGEN_EXPECTED_VERSION), std::string::npos);
  std::ifstream wav(scratch_.Path() / "bx.wav", std::ios::binary);
  std::string head(512, '\0');
  wav.read(head.data(), std::streamsize(head.size()));
  ASSERT_EQ(head.substr(36, 4), "LIST");
  const size_t data = 36 + 8 + GetLE32(reinterpret_cast<const uint8_t*>(&head[40]));
  EXPECT_EQ(head.substr(44, 4), "INFO");
  EXPECT_NE(head.find(std::string("INAM\x0a\0\0\0BX virus\0", 17)), std::string::npos);
  EXPECT_NE(head.substr(44, data - 44).find("ISFT"), std::string::npos);
  EXPECT_EQ(head.substr(data, 4), "data");
  EXPECT_EQ(GetLE32(reinterpret_cast<const uint8_t*>(&head[data + 4])), frames * 4);
  EXPECT_EQ(fs::file_size(scratch_.Path() / "bx.wav"), data + 8 + frames * 4);
}

TEST_F(ProgramExport, AFailedExportLeavesTheOldFile) {
  struct FailureCase {
    const char* name;
    std::string target;
    std::string shell;  // run before the program, in its shell
  };
  const std::string folder = Folder();
  const FailureCase cases[] = {
      {"missing folder", folder + "/missing/x.flac", ""},
      {"unknown file type", folder + "/old.mp3", ""},
      {"write refused halfway", folder + "/old.wav", "ulimit -f 100"},
      {"flac write refused halfway", folder + "/old.flac", "ulimit -f 100"},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    const bool folder_exists = fs::exists(fs::path(c.target).parent_path());
    if (folder_exists) Write(c.target, "old");
    const ProgramRun run = Zelkgen({"--export", c.target, "--program", "bx"}, c.shell);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.rfind("zelkgen: cannot write '" + c.target + "': ", 0), 0u) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    if (folder_exists) {
      EXPECT_EQ(ReadFile(c.target), "old");
    }
  }
  EXPECT_FALSE(TemporaryLeft(scratch_.Path()));
}

// True once the process has a file of the folder open that has no name (or a temporary one).
bool WritingInto(pid_t pid, const fs::path& folder) {
  std::error_code error;
  for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
    const std::string target = fs::read_symlink(fd.path(), error).string();
    if (target.rfind(folder.string() + "/", 0) == 0 &&
        (target.find("(deleted)") != std::string::npos ||
         target.find("/.zelkgen-") != std::string::npos)) {
      return true;
    }
  }
  return false;
}

TEST_F(ProgramExport, AnExportStoppedBySignalOrKilledLeavesTheOldFileAndNothingElse) {
  for (const int signal_number : {SIGTERM, SIGKILL}) {
    SCOPED_TRACE(strsignal(signal_number));
    const fs::path target = scratch_.Path() / "old.flac";
    Write(target, "old");
    pid_t pid = SpawnChild({ZELKGEN_PROGRAM, "--export", target.string(), "--program", "zelk"}, {});
    ASSERT_GT(pid, 0);
    // The whole program takes seconds: stop it once it writes.
    const auto until = std::chrono::steady_clock::now() + 30s;
    while (!WritingInto(pid, scratch_.Path()) && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(2ms);
    }
    kill(pid, signal_number);
    EXPECT_EQ(WaitForExit(pid, 30s), signal_number == SIGKILL ? 128 + SIGKILL : 1);
    TerminateChild(pid);
    EXPECT_EQ(ReadFile(target), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(scratch_.Path()), fs::directory_iterator()), 1);
  }
}

}  // namespace
