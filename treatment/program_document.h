// ProgramDocument: a program file's text as the editor changes it, line by line. Each change
// rewrites only the lines it concerns (a step's line, the title line, the shape or repeat line)
// and within a line only the words it concerns; comments, blank lines, line endings, a byte
// order mark and the writer's spacing elsewhere stay as they were, so a document read and
// written back without a change is the same bytes. The text is checked by the parser the files
// are played with (ParseProgramText); PlaceOf says which step and which field an error names.
//
// A step's fields are written as the file writes them ("7.83", "90s", "square", "50%", a label
// without its quotes, a gate as its rate and share "7.83 on 25%" without the word gate, a duty
// as "25%"); an empty value leaves the field out. Values are put in as written and
// only the parser judges them, so an error marks the field the user typed.
//
// Plain C++, no Qt. Not thread-safe; one owner at a time.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "program_file.h"

class ProgramDocument {
 public:
  enum class Field { kFrequency, kEndFrequency, kDuration, kShape, kLevel, kLabel, kGate, kDuty };
  static constexpr int kFields = 8;

  ProgramDocument() = default;
  explicit ProgramDocument(std::string_view text) { SetText(text); }

  void SetText(std::string_view text);
  std::string Text() const;

  // The title as written after "zelkgen program:", without the blanks around it.
  std::string Title() const;
  void SetTitle(std::string_view title);
  // The program's shape and repeat count as written ("sine", "3"); empty when the file has
  // none. Setting an empty value takes the line out.
  std::string ProgramShape() const { return SettingValue(shape_line_); }
  void SetProgramShape(std::string_view shape) { SetSetting(&shape_line_, "shape", shape); }
  std::string Repeat() const { return SettingValue(repeat_line_); }
  void SetRepeat(std::string_view count) { SetSetting(&repeat_line_, "repeat", count); }

  // The step lines, in the file's order (a repeat plays them again; they are written once).
  size_t StepCount() const { return steps_.size(); }
  // The line of step row, from 1.
  int StepLineNumber(size_t row) const { return static_cast<int>(steps_[row]) + 1; }
  std::string StepField(size_t row, Field field) const;
  // False, with the reason in *why, for a value that cannot stand in the field as one word (a
  // blank, '#' or '"' in it; a '"' in a label; an empty frequency).
  bool SetStepField(size_t row, Field field, std::string_view value, std::string* why);
  // A step line (e.g. "728 3:00") inserted before step row, or after the last step for
  // row == StepCount().
  void InsertStep(size_t row, std::string_view line);
  // Many step lines at once, in their order, before step row (a paste of thousands).
  void InsertSteps(size_t row, const std::vector<std::string>& lines);
  void RemoveStep(size_t row);
  // Step row and the one below it change places.
  void SwapWithNext(size_t row);

  // What an error at line and column (from 1, in characters, as the parser counts) names.
  struct Place {
    enum Kind { kOther, kTitle, kShape, kRepeat, kStep } kind = kOther;
    size_t row = 0;              // for kStep
    std::optional<Field> field;  // for kStep: the field whose word holds the column
  };
  Place PlaceOf(int line, int column) const;

  // Step lines from a plain list of frequencies: one a line, or separated by commas or blanks,
  // each optionally followed by a duration ("440 90s, 528 2m"). Empty when text is not such a
  // list.
  static std::vector<std::string> StepsFromList(std::string_view text);

 private:
  struct Line {
    std::string body;  // without its ending
    std::string end;   // "\n", "\r\n" or "" for a last line without one
  };
  struct Word {
    size_t begin, end;  // bytes of the body; a label with its quotes
    std::string_view text;
    bool quoted;
  };
  static std::vector<Word> Words(std::string_view body);
  // The step's words by field; npos for a field it lacks. A gate's and a duty's value words
  // follow their keyword; last is a field's last word (a gate's share), key its keyword.
  struct StepWords {
    std::vector<Word> words;
    size_t index[kFields];
    size_t key[kFields];
    size_t last[kFields];
  };
  StepWords WordsOfStep(size_t row) const;
  std::string SettingValue(size_t line) const;
  void SetSetting(size_t* line, std::string_view name, std::string_view value);
  void InsertLine(size_t at, std::string body);
  void InsertLines(size_t at, std::vector<std::string> bodies);
  void EraseLine(size_t at);
  void Index();

  std::string bom_;
  std::vector<Line> lines_;
  std::string newline_ = "\n";  // what a new line ends with: the file's own first ending
  static constexpr size_t kNone = static_cast<size_t>(-1);
  size_t title_line_ = kNone;
  size_t shape_line_ = kNone;
  size_t repeat_line_ = kNone;
  std::vector<size_t> steps_;  // line indices
};
