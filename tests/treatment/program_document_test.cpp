// The program editor's document: a table of edits, each with the file before and the file the
// edit must give, byte for byte (an unchanged file comes back the same; a change touches only
// its words and lines); where a parser error lies; plain lists of frequencies; saving.
#include "program_document.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QTemporaryDir>
#include <functional>
#include <string>

#include "program_library.h"

namespace {

using Field = ProgramDocument::Field;

struct EditCase {
  const char* name;
  std::string before;
  std::function<void(ProgramDocument&)> edit;
  std::string after;
};

void Set(ProgramDocument& document, size_t row, Field field, const char* value) {
  std::string why;
  ASSERT_TRUE(document.SetStepField(row, field, value, &why)) << why;
}

const std::string kEvening =
    "zelkgen program: Evening calm\n"
    "# Five tones; '#' starts a comment.\n"
    "\n"
    "728                                  # the default\n"
    "432.125   90s                        # decimals\n"
    "7.83      1:30   square   50%   \"Schumann\"\n"
    "100 -> 200   2m   \"Rising\"\n";

TEST(ProgramDocument, EachEditChangesOnlyItsWordsAndLines) {
  const EditCase cases[] = {
      {"unchanged", kEvening, [](ProgramDocument&) {}, kEvening},
      {"unchanged, CRLF, a byte order mark, no last line ending",
       "\xEF\xBB\xBFzelkgen program:  T \r\n  # c\r\n\r\n440\t 3:00 ", [](ProgramDocument&) {},
       "\xEF\xBB\xBFzelkgen program:  T \r\n  # c\r\n\r\n440\t 3:00 "},
      {"a frequency", kEvening, [](ProgramDocument& d) { Set(d, 1, Field::kFrequency, "433"); },
       "zelkgen program: Evening calm\n# Five tones; '#' starts a comment.\n\n"
       "728                                  # the default\n"
       "433   90s                        # decimals\n"
       "7.83      1:30   square   50%   \"Schumann\"\n100 -> 200   2m   \"Rising\"\n"},
      {"a duration added before a comment", kEvening,
       [](ProgramDocument& d) { Set(d, 0, Field::kDuration, "1:30"); },
       "zelkgen program: Evening calm\n# Five tones; '#' starts a comment.\n\n"
       "728 1:30                                  # the default\n"
       "432.125   90s                        # decimals\n"
       "7.83      1:30   square   50%   \"Schumann\"\n100 -> 200   2m   \"Rising\"\n"},
      {"a label taken out, a level changed", kEvening,
       [](ProgramDocument& d) {
         Set(d, 2, Field::kLabel, "");
         Set(d, 2, Field::kLevel, "75%");
       },
       "zelkgen program: Evening calm\n# Five tones; '#' starts a comment.\n\n"
       "728                                  # the default\n"
       "432.125   90s                        # decimals\n"
       "7.83      1:30   square   75%\n100 -> 200   2m   \"Rising\"\n"},
      {"a glide ended and one begun", kEvening,
       [](ProgramDocument& d) {
         Set(d, 3, Field::kEndFrequency, "");
         Set(d, 2, Field::kEndFrequency, "8");
       },
       "zelkgen program: Evening calm\n# Five tones; '#' starts a comment.\n\n"
       "728                                  # the default\n"
       "432.125   90s                        # decimals\n"
       "7.83 -> 8      1:30   square   50%   \"Schumann\"\n100   2m   \"Rising\"\n"},
      {"title, shape and repeat", kEvening,
       [](ProgramDocument& d) {
         d.SetTitle("Night");
         d.SetProgramShape("sine");
         d.SetRepeat("2");
       },
       "zelkgen program: Night\nshape sine\nrepeat 2\n# Five tones; '#' starts a comment.\n\n"
       "728                                  # the default\n"
       "432.125   90s                        # decimals\n"
       "7.83      1:30   square   50%   \"Schumann\"\n100 -> 200   2m   \"Rising\"\n"},
      {"a gated, pulsed step's duration and level, not its gate's or duty's",
       "zelkgen program: T\n728 gate 7.83 on 25% duty 10% square\n",
       [](ProgramDocument& d) {
         Set(d, 0, Field::kDuration, "3s");
         Set(d, 0, Field::kLevel, "50%");
       },
       "zelkgen program: T\n728 gate 7.83 on 25% duty 10% square 3s 50%\n"},
      {"a gate's share taken off, a duty changed, a gate added and one taken out",
       "zelkgen program: T\n728  gate 7.83 on 25%  duty 10% # c\n440 gate 4  3s\n",
       [](ProgramDocument& d) {
         Set(d, 0, Field::kGate, " 8 ");
         Set(d, 0, Field::kDuty, "20%");
         Set(d, 1, Field::kGate, "");
         Set(d, 1, Field::kDuty, "5%");
         Set(d, 1, Field::kGate, "2 on 10%");
       },
       "zelkgen program: T\n728  gate 8  duty 20% # c\n440  3s duty 5% gate 2 on 10%\n"},
      {"a thousand steps pasted before the second", "zelkgen program: T\n1\n2\n",
       [](ProgramDocument& d) { d.InsertSteps(1, std::vector<std::string>(1000, "440 5s")); },
       "zelkgen program: T\n1\n" +
           [] {
             std::string lines;
             for (int k = 0; k < 1000; ++k) lines += "440 5s\n";
             return lines;
           }() +
           "2\n"},
      {"a title before its comment, after comment lines",
       "# mine\n\nzelkgen program:  Old  # kept\n728\n",
       [](ProgramDocument& d) { d.SetTitle("New"); },
       "# mine\n\nzelkgen program:  New  # kept\n728\n"},
      {"a title where there was none", "zelkgen program:\n728\n",
       [](ProgramDocument& d) { d.SetTitle("T"); }, "zelkgen program: T\n728\n"},
      {"a repeat changed, a shape taken out",
       "zelkgen program: T\nshape  square # mine\nrepeat 3   # thrice\n728\n",
       [](ProgramDocument& d) {
         d.SetRepeat("4");
         d.SetProgramShape("");
       },
       "zelkgen program: T\nrepeat 4   # thrice\n728\n"},
      {"steps added at the end of a file without a last line ending",
       "zelkgen program: T\r\n728\r\n# end", [](ProgramDocument& d) { d.InsertStep(1, "440 90s"); },
       "zelkgen program: T\r\n728\r\n440 90s\r\n# end"},
      {"a step added after the last line", "zelkgen program: T\n728",
       [](ProgramDocument& d) { d.InsertStep(1, "440"); }, "zelkgen program: T\n728\n440"},
      {"steps moved past a comment line, one removed",
       "zelkgen program: T\n1 # one\n# between\n2  # two\n3\n",
       [](ProgramDocument& d) {
         d.SwapWithNext(0);
         d.RemoveStep(2);
       },
       "zelkgen program: T\n2  # two\n# between\n1 # one\n"},
  };
  for (const EditCase& c : cases) {
    SCOPED_TRACE(c.name);
    ProgramDocument document(c.before);
    c.edit(document);
    EXPECT_EQ(document.Text(), c.after);
  }
}

TEST(ProgramDocument, ReadsTheFieldsAsWrittenAndRefusesValuesThatAreNotOneWord) {
  const ProgramDocument document(kEvening);
  ASSERT_EQ(document.StepCount(), 4u);
  EXPECT_EQ(document.Title(), "Evening calm");
  EXPECT_EQ(document.StepField(2, Field::kDuration), "1:30");
  EXPECT_EQ(document.StepField(2, Field::kShape), "square");
  EXPECT_EQ(document.StepField(2, Field::kLabel), "Schumann");
  EXPECT_EQ(document.StepField(3, Field::kEndFrequency), "200");
  EXPECT_EQ(document.StepField(0, Field::kLevel), "");
  const ProgramDocument gated("zelkgen program: T\n728 gate 7.83 ON 25% duty 10%\n");
  EXPECT_EQ(gated.StepField(0, Field::kGate), "7.83 ON 25%");
  EXPECT_EQ(gated.StepField(0, Field::kDuty), "10%");
  ProgramDocument copy = document;
  std::string why;
  for (const auto& [field, value] : {std::pair{Field::kDuration, "1 s"},
                                     {Field::kFrequency, "7#"},
                                     {Field::kLabel, "a\"b"},
                                     {Field::kFrequency, ""},
                                     {Field::kEndFrequency, "1->2"},
                                     {Field::kGate, "7.83 25%"},
                                     {Field::kGate, "7 on 2% square"}}) {
    EXPECT_FALSE(copy.SetStepField(1, field, value, &why)) << value;
  }
  EXPECT_EQ(copy.Text(), kEvening);
}

TEST(ProgramDocument, AParserErrorNamesItsStepAndField) {
  const ProgramDocument document(
      "zelkgen program: T\nrepeat x\n728\n# c\n440 90ss \"\u00e9t\u00e9\" 101%\n");
  const ParsedProgram parsed = ParseProgramText(document.Text());
  ASSERT_EQ(parsed.errors.size(), 3u);
  const ProgramDocument::Place repeat =
      document.PlaceOf(parsed.errors[0].line, parsed.errors[0].column);
  EXPECT_EQ(repeat.kind, ProgramDocument::Place::kRepeat);
  const ProgramDocument::Place duration =
      document.PlaceOf(parsed.errors[1].line, parsed.errors[1].column);
  EXPECT_EQ(duration.kind, ProgramDocument::Place::kStep);
  EXPECT_EQ(duration.row, 1u);
  EXPECT_EQ(duration.field, Field::kDuration);
  // Columns count characters: the label's two-byte letters come before the level.
  const ProgramDocument::Place level =
      document.PlaceOf(parsed.errors[2].line, parsed.errors[2].column);
  EXPECT_EQ(level.field, Field::kLevel);
  // A gate's and a duty's keywords are theirs: an error there marks the gate or the duty (the
  // errors come in the order of their columns).
  const ProgramDocument pulsed("zelkgen program: T\n728 sine duty 25% gate x\n");
  const ParsedProgram pulsed_parse = ParseProgramText(pulsed.Text());
  ASSERT_EQ(pulsed_parse.errors.size(), 2u);
  std::vector<std::optional<Field>> fields;
  for (const ProgramFileError& error : pulsed_parse.errors) {
    fields.push_back(pulsed.PlaceOf(error.line, error.column).field);
  }
  EXPECT_EQ(fields, (std::vector<std::optional<Field>>{Field::kDuty, Field::kGate}));
}

TEST(ProgramDocument, APlainListOfFrequenciesGivesOneStepEach) {
  const struct {
    const char* list;
    std::vector<std::string> steps;
  } cases[] = {
      {"440\n528\r\n7.83\n", {"440", "528", "7.83"}},
      {"440, 528 90s; 10000Hz 1:30", {"440", "528 90s", "10000Hz 1:30"}},
      {"  728 3m\n\n", {"728 3m"}},
      {"440 90s 2m", {}},  // two durations for one frequency
      {"90s 440", {}},     // a duration before any frequency
      {"hello 440", {}},   // not a list
      {"440 -> 528", {}},  // a glide is a program line, not a list
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ProgramDocument::StepsFromList(c.list), c.steps) << c.list;
  }
}

TEST(ProgramDocument, SavingWritesTheTextWholeAndAFailedSaveSaysWhy) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const QString path = folder.filePath("a/evening.zelkgen");
  QString error;
  ASSERT_TRUE(SaveProgramText(path, kEvening, &error)) << error.toStdString();
  std::string text, read_error;
  ASSERT_TRUE(ReadProgramFileText(path.toStdString(), &text, &read_error));
  EXPECT_EQ(text, kEvening);
  // A folder in the way of the file: nothing is written, and the reason is given.
  ASSERT_TRUE(QDir(folder.path()).mkpath("b/taken.zelkgen"));
  EXPECT_FALSE(SaveProgramText(folder.filePath("b/taken.zelkgen"), kEvening, &error));
  EXPECT_TRUE(error.endsWith(": Is a directory")) << error.toStdString();
}

// A disk too small for the program: the save fails with the system's own reason, and neither the
// file nor a temporary one is left.
TEST(ProgramDocument, SavingOntoAFullDiskSaysSo) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const std::string disk = folder.filePath("disk").toStdString();
  ASSERT_EQ(mkdir(disk.c_str(), 0700), 0);
  if (geteuid() != 0 || mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k") != 0) {
    GTEST_SKIP() << "no small file system can be mounted here (needs root)";
  }
  std::string text = "zelkgen program: Long\n";
  while (text.size() < 256 * 1024) text += "528 3m square\n";
  QString error;
  const bool saved = SaveProgramText(QString::fromStdString(disk + "/long.zelkgen"), text, &error);
  const bool empty = QDir(QString::fromStdString(disk))
                         .isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
  umount(disk.c_str());
  EXPECT_FALSE(saved);
  EXPECT_TRUE(error.endsWith(": No space left on device")) << error.toStdString();
  EXPECT_TRUE(empty);
}

}  // namespace
