// Replacing a file through links in a folder everybody may write, as two ordinary users: a link
// another user planted there is refused as the kernel refuses it (whatever the machine's
// fs.protected_symlinks says), with its name in the reason and nothing written; the links the
// kernel follows are followed.
#include "replace_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

#include "child_process.h"
#include "scratch_dir.h"

namespace {

// What the owner's own file holds before anyone writes.
constexpr char kOriginal[] = "the owner's own file\n";
constexpr char kWritten[] = "written";

// Who makes the link.
enum class Maker { Owner, Other, Root };

struct LinkCase {
  const char* name;
  mode_t shared_mode;      // the folder the link lies in, owned by root
  Maker maker;             // who made the link there
  const char* written_as;  // the path written, below the shared folder
  bool followed;           // the owner's file then holds what was written
};

TEST(ReplaceFile, ALinkAnotherUserPlantedInASharedFolderIsRefusedAndTheKernelsFollowedOnesAreNot) {
  const OrdinaryUser owner("o"), other("m");
  if (!owner.Made() || !other.Made()) GTEST_SKIP() << owner.Why() << other.Why();
  const ScratchDir scratch;
  ASSERT_TRUE(scratch.Created());
  chmod(scratch.Path().c_str(), 0755);
  const std::filesystem::path home = scratch.Path() / "home";
  const std::filesystem::path victim = home / "notes.txt";
  const LinkCase cases[] = {
      {"planted by another user", 01777, Maker::Other, "tone.wav", false},
      {"planted as a folder on the way", 01777, Maker::Other, "dir/notes.txt", false},
      {"made by the owner", 01777, Maker::Owner, "tone.wav", true},
      {"made by the folder's owner", 01777, Maker::Root, "tone.wav", true},
      {"in a folder without the sticky bit", 0777, Maker::Other, "tone.wav", true},
  };
  for (const LinkCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(home);
    std::filesystem::remove_all(scratch.Path() / "shared");
    ASSERT_EQ(mkdir(home.c_str(), 0700), 0);
    ASSERT_EQ(chown(home.c_str(), owner.Ids().uid, owner.Ids().gid), 0);
    std::ofstream(victim) << kOriginal;
    ASSERT_EQ(chown(victim.c_str(), owner.Ids().uid, owner.Ids().gid), 0);
    const std::filesystem::path shared = scratch.Path() / "shared";
    ASSERT_EQ(mkdir(shared.c_str(), 0700), 0);
    ASSERT_EQ(chmod(shared.c_str(), c.shared_mode), 0);

    const std::string written_as = (shared / c.written_as).string();
    const bool through_folder = std::string(c.written_as).find('/') != std::string::npos;
    const std::string link = through_folder ? (shared / "dir").string() : written_as;
    const std::string target = through_folder ? home.string() : victim.string();
    const auto plant = [&] { return symlink(target.c_str(), link.c_str()) == 0 ? 0 : 1; };
    const int planted = c.maker == Maker::Root
                            ? plant()
                            : RunInChild(plant, (c.maker == Maker::Owner ? owner : other).Ids());
    ASSERT_EQ(planted, 0);

    // 0: written; 1: refused with EACCES and the link named; 2: anything else.
    const int result = RunInChild(
        [&] {
          errno = 0;
          if (ReplaceFileContents(written_as, kWritten, sizeof kWritten - 1)) return 0;
          const int cause = errno;
          const std::string why = WhyNotReplaced(written_as, cause);
          std::fprintf(stderr, "%s\n", why.c_str());
          return cause == EACCES && why.find("'" + link + "'") != std::string::npos ? 1 : 2;
        },
        owner.Ids());
    EXPECT_EQ(result, c.followed ? 0 : 1);
    EXPECT_EQ(ReadFile(victim), c.followed ? kWritten : kOriginal);
    // The link itself stays a link, whatever happened through it.
    EXPECT_TRUE(std::filesystem::is_symlink(link));
  }
}

}  // namespace
