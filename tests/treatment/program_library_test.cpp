// The list of recent programs against what another user, or a wrong file, can put in its place:
// one table of what lies where the list belongs, each with what reading it gives and what
// remembering a program then does; and file names that are not UTF-8 kept whole.
#include "program_library.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "path_text.h"
#include "scratch_dir.h"

namespace {

namespace fs = std::filesystem;

mode_t Mode(const fs::path& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0 ? info.st_mode : 0;
}

TEST(RecentPrograms, WhateverLiesInTheListsPlaceNothingElseIsReadOrWritten) {
  struct Case {
    const char* name;
    // What is there before: "" nothing, "victim link", "zero link", "fifo", "large",
    // "many" (30 entries), "open folder" (the state folder 0755).
    std::string before;
    int read;         // entries RecentPrograms gives before the program is remembered
    bool remembered;  // RememberProgram's result
  };
  const Case cases[] = {
      {"no list yet", "", 0, true},
      {"a link to another file", "victim link", 0, true},
      {"a link to /dev/zero", "zero link", 0, true},
      {"a named pipe", "fifo", 0, true},
      {"larger than a list", "large", 0, true},
      {"more entries than kept", "many", kRecentKept, true},
      {"a folder open to others", "open folder", 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ScratchDir scratch;
    const fs::path folder = scratch.Path() / "zelkgen", list = folder / "recent-programs";
    const fs::path victim = scratch.Path() / "victim", program = scratch.Path() / "mine.zelkgen";
    std::ofstream(victim) << "precious\n";
    std::ofstream(program) << "zelkgen program: Mine\n440\n";
    setenv("XDG_STATE_HOME", scratch.Path().c_str(), 1);
    fs::create_directory(folder);
    chmod(folder.c_str(), c.before == "open folder" ? 0755 : 0700);
    if (c.before == "victim link") fs::create_symlink(victim, list);
    if (c.before == "zero link") fs::create_symlink("/dev/zero", list);
    if (c.before == "fifo") mkfifo(list.c_str(), 0600);
    if (c.before == "large") std::ofstream(list) << std::string(kMaxRecentListBytes + 1, '/');
    if (c.before == "many" || c.before == "open folder") {
      std::ofstream many(list);
      for (int i = 0; i < 30; ++i) many << program.string() << '\n';
    }

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RecentPrograms().size(), size_t(c.read));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(RememberProgram(QString::fromStdString(program.string())), c.remembered);
    std::ifstream victim_file(victim);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(victim_file), {}), "precious\n");
    if (!c.remembered) continue;
    EXPECT_EQ(Mode(folder) & 07777, 0700u);
    EXPECT_EQ(Mode(list), S_IFREG | 0600u);
    EXPECT_EQ(RecentPrograms(), QStringList{QString::fromStdString(program.string())});
  }
  unsetenv("XDG_STATE_HOME");
}

// Bytes that are not UTF-8 come back whole from the text that carries them, and are shown
// escaped; valid UTF-8, even of code points next to the escapes, stays as it is.
TEST(PathText, NamesThatAreNotUtf8SurviveTheRoundTripAndShowEscaped) {
  struct Case {
    std::string bytes;
    QString shown;
  };
  const Case cases[] = {
      {"plain.zelkgen", "plain.zelkgen"},
      {"\xc3\xa9t\xc3\xa9", QString::fromUtf8("\u00e9t\u00e9")},
      {"\xff\xfe.zelkgen", "\\xff\\xfe.zelkgen"},
      {"a\xc3", "a\\xc3"},                  // a sequence cut short
      {"\xed\xb3\xbf", "\\xed\\xb3\\xbf"},  // U+DCFF written out: no UTF-8
      {"\xc0\xaf", "\\xc0\\xaf"},           // an overlong '/'
      {"\xf0\x9f\x8e\xb5!", QString::fromUtf8("\U0001F3B5!")},
      {"new\nline\x1b", "new\\x0aline\\x1b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(PathBytes(PathText(c.bytes)), c.bytes);
    EXPECT_EQ(PathBytes(AbsolutePathText(PathText("/x/./" + c.bytes))), "/x/" + c.bytes);
    EXPECT_EQ(ShownText(c.bytes), c.shown);
  }
}

}  // namespace
