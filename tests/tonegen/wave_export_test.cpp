// Writing an image to a file: all or nothing, never destroying what was there; and the written
// wave file opens in ordinary tools.
#include "wave_export.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "scratch_dir.h"
#include "wave_render.h"

namespace {

class WaveExportTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(scratch_.Created()); }

  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    DIR* d = opendir(dir_.c_str());
    if (d == nullptr) return names;
    while (dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(d);
    return names;
  }

  ScratchDir scratch_{"zelkgen-export-"};
  const std::string dir_ = scratch_.Path().string();
};

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::vector<uint8_t> Bytes(size_t size, uint8_t seed) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7);
  return bytes;
}

TEST_F(WaveExportTest, WritesANewFileAndLeavesNoTemporary) {
  const std::string path = dir_ + "/tone.wav";
  const auto data = Bytes(100000, 3);
  ASSERT_TRUE(ReplaceFileContents(path, data.data(), data.size()));
  EXPECT_EQ(ReadFile(path), data);
  EXPECT_EQ(Entries(), std::vector<std::string>{"tone.wav"});
}

TEST_F(WaveExportTest, ReplacesTheWholeOfAnExistingFileKeepingItsMode) {
  const std::string path = dir_ + "/tone.wav";
  WriteFile(path, std::string(5000, 'x'));
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  const auto data = Bytes(76, 9);
  ASSERT_TRUE(ReplaceFileContents(path, data.data(), data.size()));
  EXPECT_EQ(ReadFile(path), data);
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  EXPECT_EQ(Entries().size(), 1u);
}

TEST_F(WaveExportTest, BadNamesFailAndLeaveNothingBehind) {
  const auto data = Bytes(64, 1);
  EXPECT_FALSE(ReplaceFileContents("", data.data(), data.size()));
  // A directory under the name.
  const std::string folder = dir_ + "/folder";
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  EXPECT_FALSE(ReplaceFileContents(folder, data.data(), data.size()));
  EXPECT_FALSE(ReplaceFileContents(folder + "/", data.data(), data.size()));
  struct stat info {};
  ASSERT_EQ(stat(folder.c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));
  // A folder that does not exist.
  EXPECT_FALSE(ReplaceFileContents(dir_ + "/missing/tone.wav", data.data(), data.size()));
  EXPECT_EQ(Entries(), std::vector<std::string>{"folder"});
}

TEST_F(WaveExportTest, UnwritableFolderFails) {
  if (geteuid() == 0) GTEST_SKIP() << "running as root: every folder is writable";
  const std::string locked = dir_ + "/locked";
  ASSERT_EQ(mkdir(locked.c_str(), 0555), 0);
  const auto data = Bytes(64, 1);
  EXPECT_FALSE(ReplaceFileContents(locked + "/tone.wav", data.data(), data.size()));
  chmod(locked.c_str(), 0755);
}

// A file size limit makes the write store only part of the bytes and then fail: the export
// fails, the old file stays and the temporary goes.
TEST_F(WaveExportTest, ShortWriteFailsAndKeepsTheOldFile) {
  const std::string path = dir_ + "/tone.wav";
  WriteFile(path, "old contents");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{4096, 4096};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(3);
    const auto data = Bytes(100000, 5);
    _exit(ReplaceFileContents(path, data.data(), data.size()) ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: reported success, 3: no limit";
  const auto old = ReadFile(path);
  EXPECT_EQ(std::string(old.begin(), old.end()), "old contents");
  EXPECT_EQ(Entries(), std::vector<std::string>{"tone.wav"});
}

TEST_F(WaveExportTest, SymbolicLinkReplacesTheFileItNames) {
  const std::string real = dir_ + "/real.wav";
  const std::string link = dir_ + "/link.wav";
  WriteFile(real, "old");
  ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
  const auto data = Bytes(10, 2);
  ASSERT_TRUE(ReplaceFileContents(link, data.data(), data.size()));
  EXPECT_EQ(ReadFile(real), data);
  struct stat info {};
  ASSERT_EQ(lstat(link.c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
}

// Runs a shell command; its standard output and error go to output. False when it fails.
bool RunCommand(const std::string& command, std::string* output) {
  output->clear();
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return false;
  char buffer[512];
  while (fgets(buffer, sizeof buffer, pipe) != nullptr) *output += buffer;
  return pclose(pipe) == 0;
}

std::string Trim(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

TEST_F(WaveExportTest, ExportedImagesOpenAndConvertInSox) {
  std::string out;
  if (!RunCommand("command -v sox && command -v soxi", &out))
    GTEST_SKIP() << "sox is not installed";
  struct Case {
    TTGResolution resolution;
    TTGQuality quality;
    bool stereo;
    int16_t duration;
  };
  const Case cases[] = {{tg16Bit, tgHiQ, false, 100},
                        {tg16Bit, tgLoQ, true, 250},
                        {tg8Bit, tgLoQ, false, 37},
                        {tg8Bit, tgHiQ, true, 10},
                        {tg16Bit, tgLoQ, false, 15}};  // odd data size
  for (const Case& c : cases) {
    ToneSettings s;
    s.Resolution = c.resolution;
    s.Quality = c.quality;
    s.Stereo = c.stereo;
    s.Duration = c.duration;
    s.AMAmplitudes[2] = 25;
    std::vector<uint8_t> image(static_cast<size_t>(WaveImageSize(s)));
    RenderWaveImage(s, true, image.data());
    const std::string path = dir_ + "/export.wav";
    ASSERT_TRUE(ReplaceFileContents(path, image.data(), image.size()));
    ASSERT_EQ(ReadFile(path), image);

    const int bits = c.resolution == tg16Bit ? 16 : 8;
    const int channels = c.stereo ? 2 : 1;
    const int rate = c.quality == tgHiQ ? 96000 : 44100;
    const int64_t frames = WaveDataSize(s) / (bits / 8 * channels);
    const std::string what = std::to_string(bits) + " bit, " + std::to_string(rate) + ", " +
                             std::to_string(channels) + " ch, " + std::to_string(c.duration) +
                             " ms";
    ASSERT_TRUE(RunCommand("soxi -r '" + path + "'", &out)) << out;
    EXPECT_EQ(Trim(out), std::to_string(rate)) << what;
    ASSERT_TRUE(RunCommand("soxi -c '" + path + "'", &out)) << out;
    EXPECT_EQ(Trim(out), std::to_string(channels)) << what;
    ASSERT_TRUE(RunCommand("soxi -b '" + path + "'", &out)) << out;
    EXPECT_EQ(Trim(out), std::to_string(bits)) << what;
    ASSERT_TRUE(RunCommand("sox --i -s '" + path + "'", &out)) << out;
    EXPECT_EQ(Trim(out), std::to_string(frames)) << what;
    // Conversion reads every sample without a warning.
    ASSERT_TRUE(RunCommand("sox -V2 '" + path + "' -b 16 '" + dir_ + "/copy.wav'", &out)) << out;
    EXPECT_EQ(out, "") << what;
    ASSERT_TRUE(RunCommand("soxi -s '" + dir_ + "/copy.wav'", &out)) << out;
    EXPECT_EQ(Trim(out), std::to_string(frames)) << what;
  }
}

}  // namespace
