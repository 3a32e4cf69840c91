// Writing an image to a file: all or nothing, never destroying what was there, refusing what the
// user may not write, keeping links; and the written wave file opens in ordinary tools. Root
// passes every permission check, so the cases that meet them run as an ordinary user.
#include "replace_file.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "child_process.h"
#include "scratch_dir.h"
#include "wave_render.h"

namespace {

class WaveExportTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(scratch_.Created()); }

  // The names in a folder (the scratch folder by default), sorted.
  std::vector<std::string> Entries(const std::string& folder = "") const {
    std::vector<std::string> names;
    DIR* d = opendir((folder.empty() ? dir_ : folder).c_str());
    if (d == nullptr) return names;
    while (dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
  }

  // Runs body as an ordinary user: here when this process is not root, else in a child that
  // becomes `nobody` and gets the scratch folder. The child prints its failures; they fail the
  // test here through its exit status.
  void AsOrdinaryUser(const std::function<void()>& body) {
    if (geteuid() != 0) return body();
    const auto user = UnprivilegedUser();
    if (!user) GTEST_SKIP() << "running as root, and there is no user 'nobody' to export as";
    ASSERT_EQ(chown(dir_.c_str(), user->uid, user->gid), 0);
    const int status = RunInChild(
        [&] {
          body();
          return ::testing::Test::HasFailure() ? 1 : 0;
        },
        user);
    EXPECT_EQ(status, 0) << (status == 125 ? "could not become 'nobody'"
                                           : "failed as 'nobody' (see above)");
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

// What a killed export left where no unnamed temporary could be had goes once it is a day old;
// anything else, another user's leftovers and a younger temporary (an export under way) stay.
TEST_F(WaveExportTest, AnExportRemovesThisUsersTemporariesOlderThanADay) {
  struct Left {
    const char* name;
    int age_hours;
    bool another_users;
    bool stays;
  };
  const Left left[] = {{".zelkgen-0badf00d", 25, false, false},
                       {".zelkgen-00c0ffee", 23, false, true},
                       {".zelkgen-0decade0", 48, true, true},
                       {".zelkgen-notours!", 48, false, true},
                       {"zelkgen-12345678", 48, false, true}};
  for (const Left& file : left) {
    const std::string path = dir_ + "/" + file.name;
    WriteFile(path, "left");
    const timespec age[2] = {{time(nullptr) - file.age_hours * 3600, 0},
                             {time(nullptr) - file.age_hours * 3600, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), age, 0), 0);
    if (file.another_users && chown(path.c_str(), 65534, 65534) != 0) {
      GTEST_SKIP() << "cannot give a file to another user (not root)";
    }
  }
  const auto data = Bytes(1000, 5);
  ASSERT_TRUE(ReplaceFileContents(dir_ + "/tone.wav", data.data(), data.size()));
  std::vector<std::string> expected = {"tone.wav"};
  for (const Left& file : left) {
    if (file.stays) expected.push_back(file.name);
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Entries(), expected);
}

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// A replaced file keeps its permission bits, whatever the umask; a new one gets 0666 less it.
TEST_F(WaveExportTest, ReplacesTheWholeOfAnExistingFileKeepingItsMode) {
  AsOrdinaryUser([&] {
    const mode_t umask_before = umask(022);
    const auto data = Bytes(76, 9);
    for (const mode_t old_mode : {0640, 0600, 0664, 0604}) {
      const std::string path = dir_ + "/tone.wav";
      WriteFile(path, std::string(5000, 'x'));
      ASSERT_EQ(chmod(path.c_str(), old_mode), 0);
      ASSERT_TRUE(ReplaceFileContents(path, data.data(), data.size()));
      EXPECT_EQ(ReadFile(path), data);
      EXPECT_EQ(ModeOf(path), old_mode);
      ASSERT_EQ(unlink(path.c_str()), 0);
    }
    for (const mode_t mask : {022, 027, 077, 002}) {
      const std::string path = dir_ + "/new" + std::to_string(mask) + ".wav";
      umask(mask);
      ASSERT_TRUE(ReplaceFileContents(path, data.data(), data.size()));
      EXPECT_EQ(ModeOf(path), 0666 & ~mask) << "umask " << std::oct << mask;
    }
    umask(umask_before);
    EXPECT_EQ(Entries(),
              (std::vector<std::string>{"new18.wav", "new2.wav", "new23.wav", "new63.wav"}));
  });
}

// As a shell redirection refuses it: false, and the file stays as it was, to the byte.
TEST_F(WaveExportTest, WriteProtectedFileIsRefusedAndKeptAsItWas) {
  AsOrdinaryUser([&] {
    const std::string path = dir_ + "/tone.wav";
    const auto data = Bytes(76, 9);
    for (const mode_t mode : {0444, 0400, 0555, 0040}) {
      WriteFile(path, "old contents");
      ASSERT_EQ(chmod(path.c_str(), mode), 0);
      struct stat before {};
      ASSERT_EQ(stat(path.c_str(), &before), 0);
      EXPECT_FALSE(ReplaceFileContents(path, data.data(), data.size()))
          << "mode " << std::oct << mode;
      struct stat after {};
      ASSERT_EQ(stat(path.c_str(), &after), 0);
      EXPECT_EQ(after.st_ino, before.st_ino);
      EXPECT_EQ(after.st_mode, before.st_mode);
      ASSERT_EQ(chmod(path.c_str(), 0600), 0);
      const auto kept = ReadFile(path);
      EXPECT_EQ(std::string(kept.begin(), kept.end()), "old contents")
          << "mode " << std::oct << mode;
      EXPECT_EQ(Entries(), std::vector<std::string>{"tone.wav"});
    }
  });
}

// The temporary file fits beside any name the file system takes, up to its 255 bytes.
TEST_F(WaveExportTest, EveryNameTheFileSystemTakesExports) {
  AsOrdinaryUser([&] {
    const auto data = Bytes(300, 4);
    std::vector<std::string> names;
    for (const size_t length : {5, 200, 236, 254, 255}) {
      const std::string name = std::string(length - 4, 'n') + ".wav";
      ASSERT_TRUE(ReplaceFileContents(dir_ + "/" + name, data.data(), data.size())) << length;
      EXPECT_EQ(ReadFile(dir_ + "/" + name), data) << length;
      names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(Entries(), names);
    // One byte more is not a name this file system takes.
    EXPECT_FALSE(ReplaceFileContents(dir_ + "/" + std::string(256, 'n'), data.data(), data.size()));
    EXPECT_EQ(Entries(), names);
  });
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

// No temporary file can go beside the target: the export fails, a file already there is kept.
TEST_F(WaveExportTest, UnwritableFolderFails) {
  AsOrdinaryUser([&] {
    const std::string locked = dir_ + "/locked";
    ASSERT_EQ(mkdir(locked.c_str(), 0755), 0);
    WriteFile(locked + "/old.wav", "old contents");
    ASSERT_EQ(chmod(locked.c_str(), 0555), 0);
    const auto data = Bytes(64, 1);
    EXPECT_FALSE(ReplaceFileContents(locked + "/tone.wav", data.data(), data.size()));
    EXPECT_FALSE(ReplaceFileContents(locked + "/old.wav", data.data(), data.size()));
    const auto kept = ReadFile(locked + "/old.wav");
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "old contents");
    EXPECT_EQ(Entries(locked), std::vector<std::string>{"old.wav"});
    chmod(locked.c_str(), 0755);
  });
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

std::string LinkText(const std::string& path) {
  char text[4096];
  const ssize_t length = readlink(path.c_str(), text, sizeof text);
  return length < 0 ? std::string() : std::string(text, static_cast<size_t>(length));
}

// Links stay links: the file a link names is replaced, or created when it does not exist yet.
TEST_F(WaveExportTest, SymbolicLinkReplacesTheFileItNames) {
  AsOrdinaryUser([&] {
    struct Case {
      std::vector<std::pair<std::string, std::string>> links;  // name, text
      std::string written;  // the file that gets the data, empty when the export fails
      std::vector<std::string> entries;
    };
    const Case cases[] = {
        {{{"link.wav", "real.wav"}}, "real.wav", {"link.wav", "real.wav", "sub"}},
        {{{"link.wav", "new.wav"}}, "new.wav", {"link.wav", "new.wav", "real.wav", "sub"}},
        {{{"link.wav", dir_ + "/sub/made.wav"}}, "sub/made.wav", {"link.wav", "real.wav", "sub"}},
        {{{"link.wav", "sub/../chain.wav"}, {"chain.wav", "end.wav"}},
         "end.wav",
         {"chain.wav", "end.wav", "link.wav", "real.wav", "sub"}},
        {{{"link.wav", "missing/new.wav"}}, "", {"link.wav", "real.wav", "sub"}},
        {{{"link.wav", "loop.wav"}, {"loop.wav", "link.wav"}},
         "",
         {"link.wav", "loop.wav", "real.wav", "sub"}},
    };
    const auto data = Bytes(10, 2);
    for (const Case& c : cases) {
      std::filesystem::remove_all(dir_ + "/sub");
      for (const std::string& name : Entries()) ASSERT_EQ(unlink((dir_ + "/" + name).c_str()), 0);
      ASSERT_EQ(mkdir((dir_ + "/sub").c_str(), 0755), 0);
      WriteFile(dir_ + "/real.wav", "old");
      ASSERT_EQ(chmod((dir_ + "/real.wav").c_str(), 0640), 0);
      for (const auto& [name, text] : c.links) {
        ASSERT_EQ(symlink(text.c_str(), (dir_ + "/" + name).c_str()), 0);
      }
      const std::string what = "link to " + c.links[0].second;
      EXPECT_EQ(ReplaceFileContents(dir_ + "/link.wav", data.data(), data.size()),
                !c.written.empty())
          << what;
      for (const auto& [name, text] : c.links) EXPECT_EQ(LinkText(dir_ + "/" + name), text);
      if (!c.written.empty()) {
        EXPECT_EQ(ReadFile(dir_ + "/" + c.written), data) << what;
      }
      if (c.written != "real.wav") {
        EXPECT_EQ(ReadFile(dir_ + "/real.wav").size(), 3u) << what;
      }
      EXPECT_EQ(ModeOf(dir_ + "/real.wav"), 0640u) << what;
      EXPECT_EQ(Entries(), c.entries) << what;
      EXPECT_EQ(Entries(dir_ + "/sub").size(), c.written == "sub/made.wav" ? 1u : 0u) << what;
    }
  });
}

// A hard link is a second name for the old file: it keeps the old data.
TEST_F(WaveExportTest, HardLinkKeepsTheOldData) {
  AsOrdinaryUser([&] {
    WriteFile(dir_ + "/tone.wav", "old");
    ASSERT_EQ(link((dir_ + "/tone.wav").c_str(), (dir_ + "/other.wav").c_str()), 0);
    const auto data = Bytes(10, 2);
    ASSERT_TRUE(ReplaceFileContents(dir_ + "/tone.wav", data.data(), data.size()));
    EXPECT_EQ(ReadFile(dir_ + "/tone.wav"), data);
    const auto kept = ReadFile(dir_ + "/other.wav");
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "old");
  });
}

// A full and a read-only file system, each a small tmpfs mounted in a mount namespace of a
// child's own (so nothing outside it sees them): the export fails and keeps the old file.
TEST_F(WaveExportTest, FullOrReadOnlyFileSystemKeepsTheOldFile) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  const auto user = UnprivilegedUser();
  if (!user) GTEST_SKIP() << "running as root, and there is no user 'nobody' to export as";
  ASSERT_EQ(chown(dir_.c_str(), user->uid, user->gid), 0);
  constexpr int kCannotMount = 77;
  const int status = RunInChild([&] {
    const std::string full = dir_ + "/full";
    const std::string read_only = dir_ + "/read-only";
    const std::string options =
        "size=64k,mode=0755,uid=" + std::to_string(user->uid) + ",gid=" + std::to_string(user->gid);
    if (mkdir(full.c_str(), 0755) != 0 || mkdir(read_only.c_str(), 0755) != 0) return 1;
    if (unshare(CLONE_NEWNS) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", full.c_str(), "tmpfs", 0, options.c_str()) != 0 ||
        mount("tmpfs", read_only.c_str(), "tmpfs", 0, options.c_str()) != 0) {
      return kCannotMount;
    }
    for (const std::string& folder : {full, read_only}) {
      WriteFile(folder + "/tone.wav", "old contents");
      if (chown((folder + "/tone.wav").c_str(), user->uid, user->gid) != 0) return 1;
    }
    if (mount("tmpfs", read_only.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, options.c_str()) != 0)
      return kCannotMount;
    const int as_user = RunInChild(
        [&] {
          const auto data = Bytes(200000, 6);  // more than the 64 KiB of the full one
          for (const std::string& folder : {full, read_only}) {
            EXPECT_FALSE(ReplaceFileContents(folder + "/tone.wav", data.data(), data.size()))
                << folder;
            EXPECT_FALSE(ReplaceFileContents(folder + "/new.wav", data.data(), data.size()))
                << folder;
            const auto kept = ReadFile(folder + "/tone.wav");
            EXPECT_EQ(std::string(kept.begin(), kept.end()), "old contents") << folder;
            EXPECT_EQ(Entries(folder), std::vector<std::string>{"tone.wav"}) << folder;
          }
          return ::testing::Test::HasFailure() ? 1 : 0;
        },
        user);
    return as_user;
  });
  if (status == kCannotMount) GTEST_SKIP() << "this machine lets no test mount a tmpfs";
  EXPECT_EQ(status, 0) << (status == 125 ? "could not become 'nobody'"
                                         : "failed as 'nobody' (see above)");
}

// Runs a shell command; its standard output and error go to output. False when it fails.
bool RunCommand(const std::string& command, std::string* output) {
  const ScratchDir folder("zelkgen-sox-");
  const ProgramRun run = RunProgram({"sh", "-c", command}, {}, folder.Path().string());
  *output = run.out + run.err;
  return run.status == 0;
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
    s.FAMAmplitudes[2] = 25;
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
