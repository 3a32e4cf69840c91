#include "output_check.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "generator_driver.h"
#include "program_file.h"

std::string HertzText(long double hertz) {
  std::string text = std::to_string(static_cast<long long>(std::llround(hertz * 1000.0L)));
  while (text.size() < 4) text.insert(0, "0");
  text.insert(text.size() - 3, ".");
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  return text;
}

std::vector<StepProblem> StepProblems(const TreatmentStep& step, const OutputLimits& limits) {
  std::vector<StepProblem> problems;
  const long double highest = std::max(step.Frequency, step.EndFrequency);
  if (highest > limits.MaxFrequency) {
    problems.push_back({StepProblem::Where::Frequency, HertzText(highest) + " Hz is above the " +
                                                           HertzText(limits.MaxFrequency) + " Hz " +
                                                           limits.Name + " can play"});
  }
  if (step.GateMillihertz > 0) {
    const long double gate = static_cast<long double>(step.GateMillihertz) / 1000.0L;
    if (limits.MaxGateHertz <= 0.0L) {
      problems.push_back({StepProblem::Where::Gate, limits.Name + " cannot follow a gate"});
    } else if (gate > limits.MaxGateHertz) {
      problems.push_back({StepProblem::Where::Gate,
                          "a gate of " + HertzText(gate) + " Hz is faster than " + limits.Name +
                              " can switch its output on and off (at most " +
                              HertzText(limits.MaxGateHertz) + " Hz)"});
    }
  }
  return problems;
}

OutputLimits FamilyLimits(const DeviceName& name) {
  const GeneratorIdentity family = FamilyIdentity(name.Family);
  OutputLimits limits;
  limits.Name = DeviceNameText(name) + " (" + family.Model + ")";
  limits.MaxFrequency = family.MaxFrequency;
  limits.MaxGateHertz = family.MaxGateHertz;
  limits.Channels = family.Channels;
  limits.CommandIntervalMs = family.CommandMs;
  return limits;
}

namespace {

struct StepLine {
  int number;      // from 1
  size_t text_at;  // the frequency's byte offset
  size_t gate_at;  // the word "gate", or the frequency's offset when there is none
  std::string_view text;
};

int Column(std::string_view line, size_t at) {
  // Columns count characters, as the file's own errors do: UTF-8 continuation bytes are not one.
  int column = 1;
  for (size_t i = 0; i < at && i < line.size(); ++i) {
    if ((static_cast<unsigned char>(line[i]) & 0xC0) != 0x80) ++column;
  }
  return column;
}

// The byte offset of the word gate outside labels and comments, or npos.
size_t GateWordAt(std::string_view line) {
  bool quoted = false;
  size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c == '"') {
      quoted = !quoted;
      ++i;
    } else if (quoted || c == ' ' || c == '\t') {
      ++i;
    } else if (c == '#') {
      return std::string_view::npos;
    } else {
      size_t end = i;
      while (end < line.size() && line[end] != ' ' && line[end] != '\t' && line[end] != '"') ++end;
      std::string word(line.substr(i, end - i));
      std::transform(word.begin(), word.end(), word.begin(),
                     [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
      if (word == "gate") return i;
      i = end;
    }
  }
  return std::string_view::npos;
}

std::vector<StepLine> StepLines(std::string_view text) {
  std::vector<StepLine> lines;
  int number = 0;
  bool title_seen = false;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    ++number;
    const size_t at = line.find_first_not_of(" \t");
    if (at != std::string_view::npos && line[at] != '#') {
      if (!title_seen) {
        title_seen = true;
      } else {
        size_t word_end = line.find_first_of(" \t", at);
        std::string first(line.substr(
            at, word_end == std::string_view::npos ? std::string_view::npos : word_end - at));
        std::transform(first.begin(), first.end(), first.begin(),
                       [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
        if (first != "shape" && first != "repeat") {
          const size_t gate = GateWordAt(line);
          lines.push_back({number, at, gate == std::string_view::npos ? at : gate, line});
        }
      }
    }
    if (end == text.size()) break;
    start = end + 1;
  }
  return lines;
}

}  // namespace

std::vector<std::string> CheckProgramForOutput(std::string_view text, const std::string& path,
                                               const OutputLimits& limits) {
  std::vector<std::string> messages;
  // The output's limits, not the sound card's, decide the frequencies.
  const ParsedProgram parsed = ParseProgramText(text, ProgramFor::AnyOutput);
  for (const ProgramFileError& error : parsed.errors) {
    messages.push_back(error.column == 0
                           ? path + ":" + std::to_string(error.line) + ": " + error.message
                           : path + ":" + std::to_string(error.line) + ":" +
                                 std::to_string(error.column) + ": " + error.message);
  }
  if (!parsed.errors.empty()) return messages;
  const std::vector<StepLine> lines = StepLines(text);
  const std::vector<TreatmentStep>& steps = parsed.program.Steps;
  // Repeats append the steps again: the first round names every line once.
  const size_t once = std::min(lines.size(), steps.size());
  for (size_t i = 0; i < once; ++i) {
    for (const StepProblem& problem : StepProblems(steps[i], limits)) {
      const StepLine& line = lines[i];
      const size_t at = problem.At == StepProblem::Where::Gate ? line.gate_at : line.text_at;
      messages.push_back(path + ":" + std::to_string(line.number) + ":" +
                         std::to_string(Column(line.text, at)) + ": " + problem.Message);
    }
  }
  return messages;
}
