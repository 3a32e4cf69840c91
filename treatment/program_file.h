// Program files: treatment programs people write by hand, read into the same TreatmentProgram
// value as the built-in ones. Plain UTF-8 text:
//
//   # a comment                         '#' starts a comment anywhere outside a label (on the
//                                       title line, a '#' after a blank)
//   zelkgen program: Evening calm       the title line, first but for blank lines and comments:
//                                       the magic words at the line's start and the title
//   shape sine                          the program's shape for steps without one (else the
//                                       "Output signal" choice); before the first step
//   repeat 2                            the steps play this many times; before the first step
//   728                                 a step: the frequency in hertz, 3:00 by default
//   7.83 90s sine 50% "Schumann"        a duration, a shape, a level and a label, in any order
//   100 -> 200 10m                      a glide from 100 Hz to 200 Hz over the step
//   728 gate 7.83 on 25%                switched on and off 7.83 times a second, on for 25 %
//   1000 square duty 25%                a square wave high for 25 % of each period
//
// Durations: 3:00, 1:00:00, 90s, 5m, 1.5h. A gate's rate is 0.01 Hz to below half the step's
// lowest frequency; its on share and a duty are 1 % to 99 %. The limits (each guards the listener,
// the amplifier or the program itself) are below. Every error of a file is reported, as
// "LINE:COLUMN: message" (columns count characters from 1), quoting the text as written, and a file
// with any error gives no program. A line gives one error where one mistake spoils it whole: a
// misspelt or indented title line, an invisible character (a no-break or zero-width space) outside
// a label.
//
// No Qt: the parser is fuzzed on its own (fuzz/program_file_fuzz.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "audio_format.h"
#include "treatment_programs.h"

// Above 0 and below half the frame rate: higher tones fold back as lower ones. The sound card's
// limit only: another output (a signal generator) checks a program against its own limits.
inline constexpr int64_t kMaxFileMillihertz = 22049999;

// The output a program file is read for. The sound card refuses its frequencies as they are read;
// for any other output a frequency is only above 0 Hz here, and its own limits are checked after
// (instruments/output_check.h).
enum class ProgramFor { SoundCard, AnyOutput };
// A step of at least a second (shorter ones are clicks, not tones) and at most a day.
inline constexpr int kMinStepMs = 1000;
inline constexpr int kMaxStepMs = 24 * 3600 * 1000;
// A whole program, its repeats included: at most a day and 10 000 steps, so that a slip of the
// pen cannot keep the amplifier busy for weeks or the window's list long beyond use.
inline constexpr int64_t kMaxProgramMs = kMaxStepMs;
inline constexpr size_t kMaxProgramSteps = 10000;
// Far above any program written by hand (10 000 steps take about 200 KB), so a wrong file
// (a recording, a disk image) is refused before it is read.
inline constexpr size_t kMaxProgramFileBytes = 1 << 20;
// A line of a program is short; a longer one is refused on its own, without a message per
// character of it.
inline constexpr size_t kMaxLineBytes = 1000;
// What the step window and the main window have room for.
inline constexpr size_t kMaxLabelCharacters = 40;
inline constexpr size_t kMaxTitleCharacters = 60;

inline constexpr char kProgramFileMagic[] = "zelkgen program:";
inline constexpr char kProgramFileExtension[] = ".zelkgen";

// A glide's arrow: "->" moves the frequency by equal hertz per frame, "~>" by equal ratios
// (equal octaves per second).
inline bool IsGlideArrow(std::string_view word) {
  return word == "->" || word == "~>";
}
// The arrow the windows show between a glide's frequencies ("7.83\u21928HZ").
inline const char* GlideArrowShown(bool exponential) {
  return exponential ? "\u219D" : "\u2192";
}

struct ProgramFileError {
  int line;    // from 1
  int column;  // from 1, in characters; 0 for the file as a whole
  std::string message;
};

struct ParsedProgram {
  TreatmentProgram program;
  std::vector<ProgramFileError> errors;  // empty when the program is good
};

ParsedProgram ParseProgramText(std::string_view text, ProgramFor output = ProgramFor::SoundCard);

// Where the title stands in a title line (a line that begins with kProgramFileMagic), in bytes:
// after the magic words and the blanks after them, before a comment ('#' after a blank) and the
// blanks before it.
std::pair<size_t, size_t> ProgramTitleSpan(std::string_view line);

// Reads a program file's text whole, refusing a file larger than kMaxProgramFileBytes. On false,
// *error says why, as "path: reason". The one place a program file is opened for reading, and
// only as a regular file (regular_file.h): a pipe or a device is refused, never waited on.
bool ReadProgramFileText(const std::string& path, std::string* text, std::string* error);
// The same for a file already open (standard input), named path; it stays open.
bool ReadProgramText(std::FILE* file, const std::string& path, std::string* text,
                     std::string* error);

// Reads and parses the file. On false, *messages holds every error as "path:line:column:
// message" (or "path: message" for the file as a whole) and *program is untouched.
bool LoadProgramFile(const std::string& path, TreatmentProgram* program,
                     std::vector<std::string>* messages, ProgramFor output = ProgramFor::SoundCard);
// The same for the text read from path.
bool ProgramFromText(std::string_view text, const std::string& path, TreatmentProgram* program,
                     std::vector<std::string>* messages, ProgramFor output = ProgramFor::SoundCard);

// The program as a program file that parses back to the same steps: the built-in programs'
// starting point for one's own (zelkgen --print-program).
std::string ProgramFileText(const TreatmentProgram& program, int step_ms = kStepMilliseconds);

// "3:00", "1:30:00": how long the steps of a program take, for lists.
std::string ProgramLengthText(const TreatmentProgram& program, int step_ms = kStepMilliseconds);
