// Program files: one table of step lines, each with the step it gives or the error it reports
// (line and column included), then what belongs to a whole file: the title, the program's own
// shape and repeat, the limits over all steps, every error reported, and the built-in programs
// written out as files that read back to their own steps and texts.
#include "program_file.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr char kTitle[] = "zelkgen program: Test\n";

struct LineCase {
  std::string line;   // the file's second line, after the title
  std::string error;  // "" when valid, else "2:COLUMN: message"
  long double hz = 0;
  long double end_hz = 0;
  int ms = 180000;
  int level = 100;
  std::optional<WaveShape> shape = std::nullopt;
  std::string display = "";
  int64_t gate = 0;  // millihertz
  int on = 50;
  int duty = 50;
};

std::string FirstError(const ParsedProgram& parsed) {
  if (parsed.errors.empty()) return "";
  const ProgramFileError& e = parsed.errors.front();
  return std::to_string(e.line) + ":" + std::to_string(e.column) + ": " + e.message;
}

TEST(ProgramFile, EachStepLineGivesItsStepOrItsError) {
  const std::string long_label(41, 'x');
  std::string euros;  // 14 characters of three bytes each
  for (int i = 0; i < 14; ++i) euros += "\u20ac";
  const LineCase cases[] = {
      {"728", "", 728, 0, 180000, 100, {}, "728HZ"},
      {"7.83 90s sine 50% \"Schumann\"", "", 7.83L, 0, 90000, 50, wsSine, "Schumann"},
      {"\"L\" 25% square 5m 432.125hz", "2:1: a step begins with its frequency in hertz"},
      {"432.125Hz 1:00:00 # a comment", "", 432.125L, 0, 3600000, 100, {}, "432.125HZ"},
      {"100 -> 200 2:30 square", "", 100, 200, 150000, 100, wsSquare, "100\u2192200HZ"},
      {"100->200.5 1.5h", "", 100, 200.5L, 5400000, 100, {}, "100\u2192200.5HZ"},
      {"20~>20000 2m", "", 20, 20000, 120000, 100, {}, "20\u219D20000HZ"},
      {"0.001 24h 1%", "", 0.001L, 0, 86400000, 1, {}, "0.001HZ"},
      {"22049.999 1s \"a # in a label\"", "", 22049.999L, 0, 1000, 100, {}, "a # in a label"},
      {"\t440.000\t3:00 ", "", 440, 0, 180000, 100, {}, "440HZ"},
      // Columns count characters, not bytes.
      {"440 \"\u00e9t\u00e9\" nan",
       "2:11: unexpected 'nan' (a step is: frequency [-> or ~> frequency] [duration] [sine|square] "
       "[level%] [gate RATE [on P%]] [duty P%] [\"label\"])"},
      {"0", "2:1: a frequency is above 0 Hz"},
      {"22050", "2:1: a frequency is below 22050 Hz, half the sample rate"},
      {"99999999999999999999999", "2:1: a frequency is below 22050 Hz, half the sample rate"},
      {"-5", "2:1: a frequency is written without a sign"},
      {"1e999", "2:1: a frequency is written out in digits, without an exponent"},
      {"nan", "2:1: 'nan' is not a frequency"},
      {"inf 3:00", "2:1: 'inf' is not a frequency"},
      {"7,83", "2:1: the decimal separator is a point: 7.83"},
      {"1.0001", "2:1: a frequency has at most 3 decimals"},
      {"440 -> ", "2:5: a glide needs its end frequency after '->'"},
      {"440 ~> ", "2:5: a glide needs its end frequency after '~>'"},
      {"440 -> 880 ~> 990", "2:12: '~>' comes right after the first frequency"},
      {"440 -> 0", "2:8: a frequency is above 0 Hz"},
      {"440 90", "2:5: a duration needs its unit: 90s, 5m, 1h or 1:30"},
      {"440 0.999s", "2:5: a step lasts 1 s to 24 h"},
      {"440 24:00:01", "2:5: a step lasts 1 s to 24 h"},
      {"440 3:60", "2:5: minutes and seconds after a ':' are written 00 to 59"},
      {"440 1:2:3:4", "2:5: '1:2:3:4' is not a duration (3:00, 1:00:00, 90s, 5m)"},
      {"440 0%", "2:5: a level is 1% to 100%"},
      {"440 101%", "2:5: a level is 1% to 100%"},
      {"440 50.5%", "2:5: a level is a whole number"},
      {"440 sine square", "2:10: a second shape for this step"},
      {"440 3:00 90s", "2:10: a second duration for this step"},
      {"440 \"open", "2:5: the label has no closing '\"'"},
      {"440 \"" + long_label + "\"", "2:5: a label holds at most 40 characters"},
      {"440 \"\"", "2:5: a label is some text without control characters"},
      {"440 triangle",
       "2:5: unexpected 'triangle' (a step is: frequency [-> or ~> frequency] [duration] "
       "[sine|square] [level%] [gate RATE [on P%]] [duty P%] [\"label\"])"},
      {"440 -> 880 -> 990", "2:12: '->' comes right after the first frequency"},
      {"440 \xff", "2:5: not UTF-8 text (save the file as UTF-8)"},
      {"440 \xed\xa0\x80", "2:5: not UTF-8 text (save the file as UTF-8)"},
      {std::string("440\0", 4), "2:4: a NUL byte: this is not a text file"},
      {"440 " + std::string(997, ' '), "2:1: the line is longer than 1000 bytes"},
      {"zelkgen program: Again", "2:1: the title line comes only once, first in the file"},
      // Gates and duty cycles: the level after a gate's rate is still the level; a duty makes
      // the step square.
      {"728 3s gate 7.83 50%", "", 728, 0, 3000, 50, {}, "728HZ", 7830},
      {"1000 2s GATE 10hz on 25%", "", 1000, 0, 2000, 100, {}, "1000HZ", 10000, 25},
      {"7.83 -> 15 3s square duty 25%", "", 7.83L, 15, 3000, 100, wsSquare, "7.83\u219215HZ", 0, 50,
       25},
      {"100 duty 99% gate 0.01 on 1%", "", 100, 0, 180000, 100, wsSquare, "100HZ", 10, 1, 99},
      {"728 gate 363.999", "", 728, 0, 180000, 100, {}, "728HZ", 363999},
      {"728 gate 364", "2:10: a gate's rate is below 364 Hz, half the step's lowest frequency"},
      {"7.831 -> 20 gate 3.916",
       "2:18: a gate's rate is below 3.9155 Hz, half the step's lowest frequency"},
      {"728 gate 0.009", "2:10: a gate's rate is 0.01 Hz or more"},
      {"728 gate 1.0001", "2:10: a gate's rate has at most 3 decimals"},
      {"728 gate", "2:5: a gate needs its rate in hertz: gate 10 or gate 7.83 on 25%"},
      {"728 gate 10 on 100%", "2:16: a gate is on for 1% to 99% of its cycle"},
      {"728 gate 10 on", "2:13: a percentage follows 'on', e.g. on 25%"},
      {"728 on 25%", "2:5: 'on' belongs to a gate: gate RATE on P%"},
      {"728 gate 10 gate 20", "2:13: a second gate for this step"},
      {"728 duty 0%", "2:10: a duty is 1% to 99%"},
      {"728 duty 2.5%", "2:10: a percentage is a whole number"},
      {"728 duty 25", "2:5: a percentage follows 'duty', e.g. duty 25%"},
      {"728 sine duty 25%", "2:10: a duty is for square steps, and this one is sine"},
      // Messages quote the token as written, name the units and suggest a missing '%'.
      {"440 90ss",
       "2:5: unknown unit 'ss' in '90ss': a duration is in s, m or h (90s, 5m, 1.5h) or "
       "written 1:30"},
      {"440khz",
       "2:1: unknown unit 'khz' in '440khz': a frequency is in hz or has no unit "
       "(440hz, 440)"},
      {"abchz", "2:1: 'abchz' is not a frequency"},
      {"440 5x%", "2:5: '5x%' is not a level"},
      {"440 7,5s", "2:5: the decimal separator is a point: 7.5s"},
      {"440 3:00 50", "2:10: '50' has no unit: did you mean 50%?"},
      {"440 50 sine 90s", "2:5: '50' has no unit: did you mean 50%?"},
      {"100 -> 200 50", "2:12: a duration needs its unit: 90s, 5m, 1h or 1:30"},
      // A long token is cut after 40 characters, never inside one.
      {"440 " + euros, "2:5: unexpected '" + euros +
                           "' (a step is: frequency [-> or ~> frequency] [duration] "
                           "[sine|square] [level%] [gate RATE [on P%]] [duty P%] [\"label\"])"},
      // Invisible characters are named, once for the line.
      {"440\u00a090s 50",
       "2:4: a no-break space (U+00A0), which looks like a space: write a "
       "plain space"},
      {"440 90s\u200b", "2:8: a zero-width space (U+200B), which looks like nothing: delete it"},
      {"440 \"a\u00a0b\"", "", 440, 0, 180000, 100, {}, "a\u00a0b"},
  };
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.line);
    const ParsedProgram parsed = ParseProgramText(kTitle + c.line + "\n");
    EXPECT_EQ(FirstError(parsed), c.error);
    if (!c.error.empty()) {
      EXPECT_TRUE(parsed.program.Steps.empty());
      continue;
    }
    ASSERT_EQ(parsed.program.Steps.size(), 1u);
    const TreatmentStep& step = parsed.program.Steps[0];
    EXPECT_EQ(step.Frequency, c.hz);
    EXPECT_EQ(step.EndFrequency, c.end_hz);
    EXPECT_EQ(step.DurationMs, c.ms);
    EXPECT_EQ(step.Level, c.level);
    EXPECT_EQ(step.Shape, c.shape);
    EXPECT_EQ(step.DisplayText, c.display);
    EXPECT_EQ(step.GateMillihertz, c.gate);
    EXPECT_EQ(step.GateOnPercent, c.on);
    EXPECT_EQ(step.DutyPercent, c.duty);
    EXPECT_EQ(step.StatusText, "Current: " + c.display);
    EXPECT_EQ(step.Position, 100);
    EXPECT_TRUE(step.Exact);
  }
}

TEST(ProgramFile, AWholeFileGivesItsTitleShapeRepeatsAndPositions) {
  const ParsedProgram parsed = ParseProgramText(
      "\xEF\xBB\xBFzelkgen program:  Evening calm \r\n# comment\n\nshape sine\nrepeat 2\n"
      "728 1m\n7.83 square\n528 30s\n");
  ASSERT_EQ(FirstError(parsed), "");
  const TreatmentProgram& program = parsed.program;
  EXPECT_EQ(program.Name, "Evening calm");
  ASSERT_EQ(program.Steps.size(), 6u);
  const int positions[] = {16, 33, 50, 66, 83, 100};
  const long double frequencies[] = {728, 7.83L, 528};
  for (size_t k = 0; k < 6; ++k) {
    EXPECT_EQ(program.Steps[k].Position, positions[k]) << k;
    EXPECT_EQ(program.Steps[k].Frequency, frequencies[k % 3]) << k;
    EXPECT_EQ(program.Steps[k].Shape, k % 3 == 1 ? wsSquare : wsSine) << k;
  }
  EXPECT_EQ(ProgramLengthText(program), "9:00");
}

TEST(ProgramFile, CommentsAndBlankLinesMayStandBeforeTheTitleAndACommentAfterIt) {
  const struct {
    std::string text;
    std::string title;
  } cases[] = {
      {"# Evening tones\n\n  # by hand\nzelkgen program: Evening calm\n440\n", "Evening calm"},
      {"zelkgen program: Evening calm   # for Sundays\n440\n", "Evening calm"},
      {"zelkgen program: No#1 in C#\t# a '#' inside a word is the title's\n440\n", "No#1 in C#"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const ParsedProgram parsed = ParseProgramText(c.text);
    EXPECT_EQ(FirstError(parsed), "");
    EXPECT_EQ(parsed.program.Name, c.title);
    EXPECT_EQ(parsed.program.Steps.size(), 1u);
  }
}

TEST(ProgramFile, EveryErrorOfAFileIsReportedInOrderAndNothingIsGiven) {
  struct FileCase {
    std::string text;
    std::vector<std::string> errors;
  };
  const std::string five_thousand_steps = [] {
    std::string steps;
    for (int i = 0; i < 5000; ++i) steps += "440 1s\n";
    return steps;
  }();
  const FileCase cases[] = {
      {"",
       {"1:1: a program file begins with the line 'zelkgen program: TITLE'",
        "1:1: the program has no steps"}},
      {"440\n", {"1:1: a program file begins with the line 'zelkgen program: TITLE'"}},
      {"zelkgen program:\n440\n", {"1:17: the program needs a title after 'zelkgen program:'"}},
      {"zelkgen program: T\n# only a comment\n", {"1:1: the program has no steps"}},
      {"zelkgen program: T\n0\n440 9s\n5 1%\nrepeat 2\n22050\n",
       {"2:1: a frequency is above 0 Hz", "5:1: 'repeat' goes before the first step",
        "6:1: a frequency is below 22050 Hz, half the sample rate"}},
      {"zelkgen program: T\nshape tri\nshape sine\nrepeat 0\n440\n",
       {"2:7: 'tri' is not a shape (sine or square)", "4:8: repeat takes 1 to 10000"}},
      {"zelkgen program: T\nshape sine\n440 square duty 25%\n440 duty 25%\n",
       {"4:5: a duty is for square steps, and this one is sine"}},
      {"zelkgen program: T\nrepeat 3\n" + five_thousand_steps,
       {"2:8: with this repeat the program has 15000 steps, more than 10000"}},
      {"zelkgen program: T\n" + five_thousand_steps + five_thousand_steps + "440 1s\n",
       {"10002:1: a program has at most 10000 steps"}},
      {"zelkgen program: T\nrepeat 7\n440 3h 4h\n440 1h\n",
       {"3:8: a second duration for this step"}},
      {"zelkgen program: T\n440 23h\n440 1h\n440 1s\n",
       {"4:1: the program is longer than 24 h with this step"}},
      {"zelkgen program: T\nrepeat 5\n440 4h\n440 1h\n",
       {"2:8: with this repeat the program lasts 25:00:00, more than 24 h"}},
      // The title line: misspelt or indented, one message for it.
      {"zelkgen programm: Evening calm\n440\n",
       {"1:1: a program file begins with the line 'zelkgen program: TITLE'"}},
      {"  zelkgen program: Evening calm\n440\n",
       {"1:3: the title line begins at the start of the line, with 'zelkgen program:'"}},
      {"# a comment\n\n440 9\n",
       {"3:1: a program file begins with the line 'zelkgen program: TITLE'",
        "3:5: a duration needs its unit: 90s, 5m, 1h or 1:30"}},
      {"zelkgen program: # no title\n440\n",
       {"1:18: the program needs a title after 'zelkgen program:'"}},
      // Not a text file: the first NUL byte ends the reading.
      {"zelkgen program: T\n0\n\x7f" + std::string("ELF\0\1\n\0\0\n", 9),
       {"2:1: a frequency is above 0 Hz", "3:5: a NUL byte: this is not a text file"}},
  };
  for (const FileCase& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 60));
    const ParsedProgram parsed = ParseProgramText(c.text);
    std::vector<std::string> errors;
    for (const ProgramFileError& e : parsed.errors) {
      errors.push_back(std::to_string(e.line) + ":" + std::to_string(e.column) + ": " + e.message);
    }
    EXPECT_EQ(errors, c.errors);
    EXPECT_TRUE(parsed.program.Steps.empty());
  }
}

TEST(ProgramFile, ProgramsWriteOutAsFilesThatReadBackToTheirStepsAndTexts) {
  const ParsedProgram gated = ParseProgramText(
      "zelkgen program: Gates\n728 3s gate 7.83 50%\n1000 gate 10 on 25% duty 10%\n"
      "20 ~> 20000 2m\n20 -> 20000 2m\n");
  ASSERT_EQ(FirstError(gated), "");
  // Each glide keeps its law in the text written.
  EXPECT_NE(ProgramFileText(gated.program).find("\n20 ~> 20000 2:00\n20 -> 20000 2:00\n"),
            std::string::npos);
  std::vector<const TreatmentProgram*> programs = {&gated.program};
  for (const BuiltInProgram& built_in : kBuiltInPrograms) programs.push_back(built_in.program);
  for (const TreatmentProgram* program : programs) {
    SCOPED_TRACE(program->Name);
    const ParsedProgram parsed = ParseProgramText(ProgramFileText(*program));
    ASSERT_EQ(FirstError(parsed), "");
    EXPECT_EQ(parsed.program.Name, program->Name);
    ASSERT_EQ(parsed.program.Steps.size(), program->Steps.size());
    for (size_t k = 0; k < parsed.program.Steps.size(); ++k) {
      const TreatmentStep& read = parsed.program.Steps[k];
      const TreatmentStep& fixed = program->Steps[k];
      EXPECT_EQ(read.Frequency, fixed.Frequency);
      EXPECT_EQ(read.Position, fixed.Position);
      EXPECT_EQ(read.StatusText, fixed.StatusText);
      EXPECT_EQ(read.DisplayText, fixed.DisplayText);
      EXPECT_EQ(read.DurationMs, fixed.DurationMs != 0 ? fixed.DurationMs : 180000);
      EXPECT_EQ(read.Level, fixed.Level);
      EXPECT_EQ(read.Shape, fixed.Shape);
      EXPECT_EQ(read.GateMillihertz, fixed.GateMillihertz);
      EXPECT_EQ(read.GateOnPercent, fixed.GateOnPercent);
      EXPECT_EQ(read.DutyPercent, fixed.DutyPercent);
      EXPECT_EQ(read.EndFrequency, fixed.EndFrequency);
      EXPECT_EQ(read.ExponentialGlide, fixed.ExponentialGlide);
    }
  }
}

}  // namespace
