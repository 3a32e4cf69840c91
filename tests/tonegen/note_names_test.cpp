// Note names: the parser's table of cases, sweeps against the equal-tempered formula, and the
// component's SetNote and SetAMNote with their octave state.
#include "note_names.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tone_gen.h"
#include "tone_gen_test_peer.h"

namespace {

// Whole hertz of a note number, halves up, worked out independently in double precision.
int32_t ExpectedFrequency(int number) {
  const double hertz = 440.0 * std::exp2((number - 48) / 12.0);
  const auto whole = static_cast<int32_t>(std::floor(hertz + 0.5));
  return (whole >= 20 && whole <= 20000) ? whole : 0;
}

struct Case {
  std::string text;
  int32_t frequency;
  int32_t octave_after;  // -1: left at 4
};

TEST(NoteToFrequency, DocumentedCasesFromOctaveFour) {
  const std::vector<Case> cases = {
      {"A", 440, 4},   {"a", 440, 4},      {" A ", 440, 4},    {"\tA\r\n", 440, 4},
      {"C", 523, 4},   {"G#", 831, 4},     {"G+", 831, 4},     {"A-", 415, 3},
      {"O0A", 28, 0},  {"O9D#", 19912, 9}, {"O9E", 0, 9},      {"N48", 440, 4},
      {"N0", 28, 4},   {"N114", 19912, 4}, {"N115", 0, 4},     {"N121", 0, 4},
      {"N122", 0, -1}, {"N-1", 0, -1},     {"N", 0, -1},       {"N48X", 0, -1},
      {"B#", 0, -1},   {"E+", 0, -1},      {"C-", 0, -1},      {"F-", 0, -1},
      {"O0A-", 0, -1}, {"H", 0, -1},       {"", 0, -1},        {"O", 0, -1},
      {"OX", 0, -1},   {"A#5", 0, -1},     {"A##", 0, -1},     {"O4 A", 0, -1},
      {"<O4A", 0, -1}, {">O4A", 0, -1},    {"<<<<<<A", 28, 0}, {">>>>>>>A", 14080, 9},
      {">C", 1047, 5}, {"o4c", 523, 4},    {"N 48", 0, -1},    {"NA", 0, -1},
      {"<>", 0, -1},   {"A-#", 0, -1},     {"O10A", 0, -1},    {"N48O4A", 0, -1},
  };
  for (const Case& c : cases) {
    int32_t octave = 4;
    EXPECT_EQ(NoteToFrequency(c.text, octave), c.frequency) << '"' << c.text << '"';
    EXPECT_EQ(octave, c.octave_after < 0 ? 4 : c.octave_after) << '"' << c.text << '"';
  }
}

TEST(NoteToFrequency, NoteNumbersFollowTheEqualTemperedScale) {
  for (int number = 0; number <= 121; ++number) {
    int32_t octave = 7;
    EXPECT_EQ(NoteToFrequency(std::string("N").append(std::to_string(number)), octave),
              ExpectedFrequency(number))
        << number;
    EXPECT_EQ(octave, 7);  // the N form keeps the octave
  }
}

TEST(NoteToFrequency, EveryLetterAndAccidentalInEveryOctave) {
  struct Spelling {
    std::string name;
    int semitone;  // from A, before the octave; -1 for A flat
  };
  const std::vector<Spelling> spellings = {{"A", 0},   {"A#", 1}, {"B-", 1}, {"B", 2},  {"C", 3},
                                           {"C#", 4},  {"D-", 4}, {"D", 5},  {"D#", 6}, {"E-", 6},
                                           {"E", 7},   {"F", 8},  {"F+", 9}, {"G-", 9}, {"G", 10},
                                           {"G#", 11}, {"A-", -1}};
  for (int o = 0; o <= 9; ++o) {
    for (const Spelling& s : spellings) {
      const int number = s.semitone + 12 * o;  // A flat: semitone 11 of the octave below
      const std::string text = std::string("O").append(std::to_string(o)).append(s.name);
      int32_t octave = 4;
      const int32_t frequency = NoteToFrequency(text, octave);
      if (number < 0) {
        EXPECT_EQ(frequency, 0) << text;
        EXPECT_EQ(octave, 4) << text;
        continue;
      }
      EXPECT_EQ(frequency, ExpectedFrequency(number)) << text;
      EXPECT_EQ(octave, s.semitone < 0 ? o - 1 : o) << text;
    }
  }
}

TEST(NoteToFrequency, RelativeMarksMoveWithinZeroToNine) {
  for (int start = 0; start <= 9; ++start) {
    for (int down = 0; down <= 10; ++down) {
      for (int up = 0; up <= 10; up += 5) {
        // Marks mixed: first down, then up.
        const std::string text = std::string(down, '<') + std::string(up, '>') + "A";
        int expected = start;
        for (int i = 0; i < down; ++i) expected = expected > 0 ? expected - 1 : 0;
        for (int i = 0; i < up; ++i) expected = expected < 9 ? expected + 1 : 9;
        int32_t octave = start;
        EXPECT_EQ(NoteToFrequency(text, octave), ExpectedFrequency(12 * expected)) << text;
        EXPECT_EQ(octave, expected) << text;
      }
    }
  }
}

TEST(NoteToFrequency, BareLetterWorksAgainstTheLastOctave) {
  int32_t octave = 4;
  EXPECT_EQ(NoteToFrequency(">C", octave), 1047);
  EXPECT_EQ(NoteToFrequency("C", octave), 1047);
  EXPECT_EQ(NoteToFrequency("N48", octave), 440);
  EXPECT_EQ(octave, 5);
  EXPECT_EQ(NoteToFrequency("B#", octave), 0);
  EXPECT_EQ(octave, 5);
}

class NoteComponentTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(ToneGenCount, 0); }
};

TEST_F(NoteComponentTest, SetNoteKeepsItsOwnOctave) {
  TToneGen gen(nullptr);
  TToneGenTestPeer peer(gen);
  EXPECT_EQ(gen.SetNote("O9E"), 0);
  EXPECT_EQ(peer.FOctave(), 4);
  EXPECT_EQ(gen.Frequency(), 440);
  EXPECT_EQ(gen.SetNote(">C"), 1047);
  EXPECT_EQ(peer.FOctave(), 5);
  EXPECT_EQ(gen.Frequency(), 1047);
  EXPECT_EQ(gen.SetNote("C"), 1047);
  EXPECT_EQ(gen.SetNote("N48"), 440);
  EXPECT_EQ(peer.FOctave(), 5);
  EXPECT_EQ(gen.SetNote("o4c"), 523);
  EXPECT_EQ(gen.Frequency(), 523);
  for (int i = 0; i < kAMLevelCount; ++i) EXPECT_EQ(peer.FAMOctaves()[i], 4);
}

TEST_F(NoteComponentTest, SetAMNoteStoresAFactorOrHertzInThatLevelOnly) {
  TToneGen gen(nullptr);
  TToneGenTestPeer peer(gen);
  const float factor = gen.SetAMNote(tgAMLevel1, "E");
  EXPECT_EQ(factor, static_cast<float>(659.0 / 440.0));
  EXPECT_NEAR(factor, 1.4977273f, 1e-7f);
  EXPECT_EQ(peer.FAMFrequencies()[0], factor);
  EXPECT_EQ(gen.AMFrequency(), 0.5f);  // the mirror is not updated
  gen.SetAMUseMultiplier(false);
  EXPECT_EQ(gen.SetAMNote(tgAMLevel1, "E"), 659.0f);
  EXPECT_EQ(peer.FAMFrequencies()[0], 659.0f);

  EXPECT_EQ(gen.SetAMNote(tgAMLevel3, ">A"), 880.0f);
  EXPECT_EQ(peer.FAMOctaves()[2], 5);
  EXPECT_EQ(peer.FOctave(), 4);
  for (int i = 0; i < kAMLevelCount; ++i) {
    if (i != 2) {
      EXPECT_EQ(peer.FAMOctaves()[i], 4) << i;
    }
  }
  EXPECT_EQ(gen.SetAMNote(tgAMLevel3, "O9E"), 0.0f);
  EXPECT_EQ(peer.FAMOctaves()[2], 5);
  EXPECT_EQ(peer.FAMFrequencies()[2], 880.0f);
}

}  // namespace
