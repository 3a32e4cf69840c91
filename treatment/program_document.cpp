#include "program_document.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "plain_text.h"

namespace {

bool IsShapeWord(std::string_view word) {
  const std::string lower = Lower(word);
  return lower == "sine" || lower == "square";
}

// Digits with at most one point between them: "440", "7.83".
bool IsNumber(std::string_view text) {
  if (text.empty() || text.front() == '.' || text.back() == '.') return false;
  return std::all_of(text.begin(), text.end(), [](char c) { return IsDigit(c) || c == '.'; }) &&
         std::count(text.begin(), text.end(), '.') <= 1;
}

bool IsListFrequency(std::string_view word) {
  if (word.size() > 2 && Lower(word.substr(word.size() - 2)) == "hz") word.remove_suffix(2);
  return IsNumber(word);
}

bool IsListDuration(std::string_view word) {
  if (word.empty()) return false;
  if (word.find(':') != std::string_view::npos) {
    return IsDigit(word.front()) &&
           std::all_of(word.begin(), word.end(), [](char c) { return IsDigit(c) || c == ':'; });
  }
  const char unit = static_cast<char>(Lower(word.substr(word.size() - 1))[0]);
  return (unit == 's' || unit == 'm' || unit == 'h') && IsNumber(word.substr(0, word.size() - 1));
}

}  // namespace

void ProgramDocument::SetText(std::string_view text) {
  bom_.clear();
  lines_.clear();
  if (text.substr(0, 3) == "\xEF\xBB\xBF") {
    bom_ = std::string(text.substr(0, 3));
    text.remove_prefix(3);
  }
  while (!text.empty()) {
    const size_t end = text.find('\n');
    Line line;
    if (end == std::string_view::npos) {
      line.body = std::string(text);
      text = {};
    } else {
      line.body = std::string(text.substr(0, end));
      // A character, not a literal: GCC 12 at -O3 warns (-Wrestrict) of assigning this one.
      line.end = '\n';
      text.remove_prefix(end + 1);
    }
    if (!line.end.empty() && !line.body.empty() && line.body.back() == '\r') {
      line.body.pop_back();
      line.end = "\r\n";
    }
    lines_.push_back(std::move(line));
  }
  newline_ = !lines_.empty() && !lines_.front().end.empty() ? lines_.front().end : "\n";
  Index();
}

std::string ProgramDocument::Text() const {
  size_t size = bom_.size();
  for (const Line& line : lines_) size += line.body.size() + line.end.size();
  std::string text;
  text.reserve(size);
  text += bom_;
  for (const Line& line : lines_) {
    text += line.body;
    text += line.end;
  }
  return text;
}

std::vector<ProgramDocument::Word> ProgramDocument::Words(std::string_view body) {
  std::vector<Word> words;
  size_t i = 0;
  while (i < body.size()) {
    if (IsBlank(body[i])) {
      ++i;
    } else if (body[i] == '#') {
      break;
    } else if (body[i] == '"') {
      const size_t close = body.find('"', i + 1);
      const size_t end = close == std::string_view::npos ? body.size() : close + 1;
      const size_t inner_end = close == std::string_view::npos ? body.size() : close;
      words.push_back({i, end, body.substr(i + 1, inner_end - i - 1), true});
      i = end;
    } else if (IsGlideArrow(body.substr(i, 2))) {
      words.push_back({i, i + 2, body.substr(i, 2), false});
      i += 2;
    } else {
      size_t end = i;
      while (end < body.size() && !IsBlank(body[end]) && body[end] != '#' && body[end] != '"' &&
             !IsGlideArrow(body.substr(end, 2))) {
        ++end;
      }
      words.push_back({i, end, body.substr(i, end - i), false});
      i = end;
    }
  }
  return words;
}

void ProgramDocument::Index() {
  title_line_ = shape_line_ = repeat_line_ = kNone;
  steps_.clear();
  const size_t magic = std::strlen(kProgramFileMagic);
  for (size_t i = 0; i < lines_.size(); ++i) {
    const std::string& body = lines_[i].body;
    const size_t first = body.find_first_not_of(" \t");
    if (first == std::string::npos || body[first] == '#') continue;
    if (body.compare(0, magic, kProgramFileMagic) == 0) {
      if (title_line_ == kNone && steps_.empty()) title_line_ = i;
      continue;
    }
    const std::vector<Word> words = Words(body);
    if (words.empty()) continue;
    const std::string keyword = words[0].quoted ? std::string() : Lower(words[0].text);
    if (keyword == "shape") {
      if (shape_line_ == kNone) shape_line_ = i;
    } else if (keyword == "repeat") {
      if (repeat_line_ == kNone) repeat_line_ = i;
    } else {
      steps_.push_back(i);
    }
  }
}

std::string ProgramDocument::Title() const {
  if (title_line_ == kNone) return {};
  const std::string& body = lines_[title_line_].body;
  const auto [begin, end] = ProgramTitleSpan(body);
  return body.substr(begin, end - begin);
}

void ProgramDocument::SetTitle(std::string_view title) {
  if (title_line_ == kNone) {
    InsertLine(0, std::string(kProgramFileMagic) + " " + std::string(title));
    return;
  }
  std::string& body = lines_[title_line_].body;
  const auto [begin, end] = ProgramTitleSpan(body);
  // One blank between the magic words and a title that had none, and before a comment.
  std::string text;
  if (begin == std::strlen(kProgramFileMagic)) text = ' ';
  text += title;
  if (end == begin && end < body.size()) text += " ";
  body.replace(begin, end - begin, text);
}

std::string ProgramDocument::SettingValue(size_t line) const {
  if (line == kNone) return {};
  const std::vector<Word> words = Words(lines_[line].body);
  return words.size() >= 2 ? std::string(words[1].text) : std::string();
}

void ProgramDocument::SetSetting(size_t* line, std::string_view name, std::string_view value) {
  if (value.empty()) {
    if (*line != kNone) EraseLine(*line);
    return;
  }
  if (*line == kNone) {
    // After the title and the other setting, before the first step.
    size_t at = 0;
    for (const size_t before : {title_line_, shape_line_, repeat_line_}) {
      if (before != kNone) at = std::max(at, before + 1);
    }
    InsertLine(at, std::string(name) + " " + std::string(value));
    return;
  }
  std::string& body = lines_[*line].body;
  const std::vector<Word> words = Words(body);
  if (words.size() >= 2) {
    body.replace(words[1].begin, words[1].end - words[1].begin, value);
  } else {
    // Not " " + value: GCC 12 at -O3 warns (-Wrestrict) of a literal put before a string.
    std::string spaced(1, ' ');
    spaced += value;
    body.insert(words[0].end, spaced);
  }
}

ProgramDocument::StepWords ProgramDocument::WordsOfStep(size_t row) const {
  StepWords step{Words(lines_[steps_[row]].body), {}, {}, {}};
  std::fill(std::begin(step.index), std::end(step.index), kNone);
  std::fill(std::begin(step.key), std::end(step.key), kNone);
  std::fill(std::begin(step.last), std::end(step.last), kNone);
  const std::vector<Word>& words = step.words;
  size_t k = 0;
  const auto at = [&](Field field) -> size_t& { return step.index[static_cast<int>(field)]; };
  if (!words.empty() && !words[0].quoted && !IsGlideArrow(words[0].text)) {
    at(Field::kFrequency) = k++;
  }
  if (k < words.size() && !words[k].quoted && IsGlideArrow(words[k].text)) {
    ++k;
    if (k < words.size() && !words[k].quoted) at(Field::kEndFrequency) = k++;
  }
  const auto plain = [&](size_t i) { return i < words.size() && !words[i].quoted; };
  for (; k < words.size(); ++k) {
    const Word& word = words[k];
    Field field;
    if (word.quoted) {
      field = Field::kLabel;
    } else if (const std::string lower = Lower(word.text); lower == "gate" || lower == "duty") {
      // A gate's rate and its "on" share, and a duty's share, are no duration or level.
      field = lower == "gate" ? Field::kGate : Field::kDuty;
      const int f = static_cast<int>(field);
      if (step.key[f] != kNone) continue;
      step.key[f] = k;
      if (plain(k + 1) && !IsGlideArrow(words[k + 1].text)) {
        step.index[f] = step.last[f] = ++k;
        if (field == Field::kGate && plain(k + 2) && Lower(words[k + 1].text) == "on") {
          k += 2;
          step.last[f] = k;
        }
      }
      continue;
    } else if (IsShapeWord(word.text)) {
      field = Field::kShape;
    } else if (word.text.back() == '%') {
      field = Field::kLevel;
    } else if (IsDigit(word.text[0]) || word.text[0] == '.' ||
               word.text.find(':') != std::string_view::npos) {
      field = Field::kDuration;
    } else {
      continue;
    }
    if (at(field) == kNone) at(field) = k;
  }
  for (int f = 0; f < kFields; ++f) {
    if (step.last[f] == kNone) step.last[f] = step.index[f];
  }
  return step;
}

std::string ProgramDocument::StepField(size_t row, Field field) const {
  const StepWords step = WordsOfStep(row);
  const size_t k = step.index[static_cast<int>(field)];
  if (k == kNone) return std::string();
  // A glide in octaves: its end written after a '~' of its arrow.
  if (field == Field::kEndFrequency && step.words[k - 1].text == "~>") {
    return "~" + std::string(step.words[k].text);
  }
  const size_t last = step.last[static_cast<int>(field)];
  if (last == k) return std::string(step.words[k].text);
  const std::string& body = lines_[steps_[row]].body;
  return body.substr(step.words[k].begin, step.words[last].end - step.words[k].begin);
}

namespace {

// A gate as the editor takes it: its rate, or its rate, "on" and a share.
bool IsGateValue(std::string_view value) {
  std::vector<std::string_view> words;
  size_t i = 0;
  while (i < value.size()) {
    if (IsBlank(value[i])) {
      ++i;
      continue;
    }
    size_t end = i;
    while (end < value.size() && !IsBlank(value[end])) ++end;
    words.push_back(value.substr(i, end - i));
    i = end;
  }
  return words.size() == 1 || (words.size() == 3 && Lower(words[1]) == "on");
}

}  // namespace

bool ProgramDocument::SetStepField(size_t row, Field field, std::string_view value,
                                   std::string* why) {
  if (value.find_first_of("\r\n\"") != std::string_view::npos) {
    *why = field == Field::kLabel ? "a label holds no '\"'" : "one word, without '\"'";
    return false;
  }
  if (field == Field::kGate) {
    // Blanks trimmed: a gate's words are one "7.83" or three "7.83 on 25%".
    const size_t first = value.find_first_not_of(" \t");
    value = first == std::string_view::npos
                ? std::string_view()
                : value.substr(first, value.find_last_not_of(" \t") - first + 1);
    if (value.find('#') != std::string_view::npos || value.find('>') != std::string_view::npos ||
        (!value.empty() && !IsGateValue(value))) {
      *why = "a gate is its rate, or its rate, 'on' and a share: 7.83 or 7.83 on 25%";
      return false;
    }
  } else if (field != Field::kLabel && value.find_first_of(" \t#>") != std::string_view::npos) {
    *why = "one word, without blanks, '#' or '>'";
    return false;
  }
  // "~20000": a glide to 20000 Hz in octaves ("~>"); "20000" one in hertz ("->").
  const char* arrow = "->";
  if (field == Field::kEndFrequency && !value.empty() && value.front() == '~') {
    arrow = "~>";
    value.remove_prefix(1);
  }
  if (field == Field::kFrequency && value.empty()) {
    *why = "a step begins with its frequency in hertz";
    return false;
  }
  // Appended piece by piece: GCC 12 at -O3 warns (-Wrestrict) of a literal put before a string.
  const bool quoted = field == Field::kLabel && !value.empty();
  std::string text = quoted ? "\"" : "";
  text += value;
  if (quoted) text += '"';
  std::string& body = lines_[steps_[row]].body;
  const StepWords step = WordsOfStep(row);
  const std::vector<Word>& words = step.words;
  const int f = static_cast<int>(field);
  const size_t k = step.index[f];
  const size_t frequency = step.index[static_cast<int>(Field::kFrequency)];
  if (field == Field::kGate || field == Field::kDuty) {
    const size_t key = step.key[f];
    if (key != kNone && !text.empty()) {
      // The value after its keyword; a keyword left without one gets it.
      const size_t begin = k != kNone ? words[k].begin : words[key].end;
      const size_t end = k != kNone ? words[step.last[f]].end : words[key].end;
      body.replace(begin, end - begin, k != kNone ? text : " " + text);
    } else if (key != kNone) {
      size_t begin = words[key].begin;
      while (begin > 0 && IsBlank(body[begin - 1])) --begin;
      const size_t end = words[k != kNone ? step.last[f] : key].end;
      body.erase(begin, end - begin);
    } else if (!text.empty()) {
      std::string added(1, ' ');
      added += field == Field::kGate ? "gate " : "duty ";
      added += text;
      body.insert(words.empty() ? 0 : words.back().end, added);
    }
    return true;
  }
  if (k != kNone && !text.empty()) {
    body.replace(words[k].begin, words[k].end - words[k].begin, text);
    // The arrow before an end frequency says its law.
    if (field == Field::kEndFrequency && words[k - 1].text != arrow) {
      body.replace(words[k - 1].begin, 2, arrow);
    }
  } else if (k != kNone) {
    // Out with the word and the blanks before it; a glide's end takes its "->" along.
    size_t begin = words[k].begin;
    if (field == Field::kEndFrequency && frequency != kNone) begin = words[frequency].end;
    while (begin > 0 && IsBlank(body[begin - 1])) --begin;
    body.erase(begin, words[k].end - begin);
  } else if (!text.empty()) {
    if (field == Field::kFrequency) {
      body.insert(0, text + " ");
    } else if (field == Field::kEndFrequency && frequency != kNone) {
      // After the "->" already written, else a new one after the frequency.
      const size_t next = frequency + 1;
      if (next < words.size() && !words[next].quoted && IsGlideArrow(words[next].text)) {
        body.insert(words[next].end, " " + text);
        body.replace(words[next].begin, 2, arrow);
      } else {
        std::string added(1, ' ');
        added += arrow;
        added += ' ';
        added += text;
        body.insert(words[frequency].end, added);
      }
    } else {
      body.insert(words.empty() ? 0 : words.back().end, " " + text);
    }
  }
  return true;
}

void ProgramDocument::InsertLine(size_t at, std::string body) {
  Line line{std::move(body), newline_};
  if (at >= lines_.size()) {
    at = lines_.size();
    // A file that ended without a line ending still does.
    if (!lines_.empty() && lines_.back().end.empty()) {
      lines_.back().end = newline_;
      line.end.clear();
    }
  }
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
  Index();
}

void ProgramDocument::InsertLines(size_t at, std::vector<std::string> bodies) {
  if (bodies.empty()) return;
  std::vector<Line> added;
  added.reserve(bodies.size());
  for (std::string& body : bodies) added.push_back({std::move(body), newline_});
  if (at >= lines_.size()) {
    at = lines_.size();
    if (!lines_.empty() && lines_.back().end.empty()) {
      lines_.back().end = newline_;
      added.back().end.clear();
    }
  }
  // One insertion and one index for the lot: a line at a time is quadratic in a long paste.
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at),
                std::make_move_iterator(added.begin()), std::make_move_iterator(added.end()));
  Index();
}

void ProgramDocument::EraseLine(size_t at) {
  if (at + 1 == lines_.size() && at > 0 && lines_[at].end.empty()) lines_[at - 1].end.clear();
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(at));
  Index();
}

void ProgramDocument::InsertStep(size_t row, std::string_view line) {
  size_t at = lines_.size();
  if (row < steps_.size()) {
    at = steps_[row];
  } else if (!steps_.empty()) {
    at = steps_.back() + 1;
  }
  InsertLine(at, std::string(line));
}

void ProgramDocument::InsertSteps(size_t row, const std::vector<std::string>& lines) {
  size_t at = lines_.size();
  if (row < steps_.size()) {
    at = steps_[row];
  } else if (!steps_.empty()) {
    at = steps_.back() + 1;
  }
  InsertLines(at, lines);
}

void ProgramDocument::RemoveStep(size_t row) {
  EraseLine(steps_[row]);
}

void ProgramDocument::SwapWithNext(size_t row) {
  std::swap(lines_[steps_[row]].body, lines_[steps_[row + 1]].body);
}

ProgramDocument::Place ProgramDocument::PlaceOf(int line, int column) const {
  Place place;
  if (line < 1 || static_cast<size_t>(line) > lines_.size()) return place;
  const size_t index = static_cast<size_t>(line - 1);
  if (index == title_line_) place.kind = Place::kTitle;
  if (index == shape_line_) place.kind = Place::kShape;
  if (index == repeat_line_) place.kind = Place::kRepeat;
  const auto step = std::lower_bound(steps_.begin(), steps_.end(), index);
  if (step == steps_.end() || *step != index) return place;
  place.kind = Place::kStep;
  place.row = static_cast<size_t>(step - steps_.begin());
  // The column counts characters; the words are in bytes.
  const std::string& body = lines_[index].body;
  size_t at = 0;
  for (int characters = 1; characters < column && at < body.size(); ++characters) {
    ++at;
    while (at < body.size() && (static_cast<unsigned char>(body[at]) & 0xC0) == 0x80) ++at;
  }
  const StepWords words = WordsOfStep(place.row);
  for (int field = 0; field < kFields; ++field) {
    // A gate's or a duty's keyword belongs to it as much as its value does.
    const size_t first = words.key[field] != kNone ? words.key[field] : words.index[field];
    const size_t last = words.last[field] != kNone ? words.last[field] : first;
    if (first != kNone && at >= words.words[first].begin && at < words.words[last].end) {
      place.field = static_cast<Field>(field);
    }
  }
  return place;
}

std::vector<std::string> ProgramDocument::StepsFromList(std::string_view text) {
  std::vector<std::string> steps;
  bool has_duration = false;
  size_t i = 0;
  while (i < text.size()) {
    const size_t begin = text.find_first_not_of(" \t\r\n,;", i);
    if (begin == std::string_view::npos) break;
    size_t end = text.find_first_of(" \t\r\n,;", begin);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view word = text.substr(begin, end - begin);
    i = end;
    if (IsListFrequency(word)) {
      steps.emplace_back(word);
      has_duration = false;
    } else if (IsListDuration(word) && !steps.empty() && !has_duration) {
      steps.back() += ' ';
      steps.back() += word;
      has_duration = true;
    } else {
      return {};
    }
  }
  return steps;
}
