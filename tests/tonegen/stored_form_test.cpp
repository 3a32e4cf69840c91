// The stored form: writing only what differs from the stored defaults, reading back exactly,
// the order of the setters, the main window's ToneGen1, and clear errors for bad input.
#include "stored_form.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "range_check.h"
#include "tone_gen_test_peer.h"
#include "wave_volume.h"

namespace {

// Every field the stored form carries, for comparing two instances.
struct Snapshot {
  std::string name;
  int16_t frequency, duration, attack, hold, decay, sustain, release, left, right, am_amplitude;
  int waveform, resolution, quality, level, am_waveform;
  bool async, loop, stereo, multiplier;
  uint32_t am_frequency_bits;
  std::vector<int> amplitudes, waveforms;
  std::vector<uint32_t> frequency_bits;
  bool operator==(const Snapshot&) const = default;
};

Snapshot Snap(const TToneGen& g) {
  TToneGenTestPeer peer(g);
  Snapshot s{g.Name(),
             g.Frequency(),
             g.Duration(),
             g.Attack(),
             g.Hold(),
             g.Decay(),
             g.Sustain(),
             g.Release(),
             g.LeftVolume(),
             g.RightVolume(),
             g.AMAmplitude(),
             g.Waveform(),
             g.Resolution(),
             g.Quality(),
             g.AMLevel(),
             g.AMWaveform(),
             g.Async(),
             g.Loop(),
             g.Stereo(),
             g.AMUseMultiplier(),
             Bits(g.AMFrequency()),
             {},
             {},
             {}};
  for (int i = 0; i < kAMLevelCount; ++i) {
    s.amplitudes.push_back(peer.FAMAmplitudes()[i]);
    s.waveforms.push_back(peer.FAMWaveforms()[i]);
    s.frequency_bits.push_back(Bits(peer.FAMFrequencies()[i]));
  }
  return s;
}

// The hex bytes of the AMArrayData value in a stored text, length field included.
std::vector<uint8_t> BlockBytes(const std::string& text) {
  std::vector<uint8_t> bytes;
  const size_t open = text.find("AMArrayData = {");
  const size_t close = text.find('}', open);
  if (open == std::string::npos || close == std::string::npos) return bytes;
  std::string hex;
  for (size_t i = open + 15; i < close; ++i) {
    if (std::isxdigit(static_cast<unsigned char>(text[i]))) hex += text[i];
  }
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

class StoredFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(ToneGenCount, 0);
    waveOutSetVolume(0, 0xFFFFFFFFu);
  }
};

TEST_F(StoredFormTest, DefaultsWriteOnlyTheAlwaysStoredProperties) {
  TToneGen gen(nullptr);
  gen.SetName("ToneGen7");
  const std::string text = WriteToneGenForm(gen);
  std::istringstream lines(text);
  std::vector<std::string> names;
  for (std::string line; std::getline(lines, line);)
    names.push_back(line.substr(0, line.find('=')));
  ASSERT_GE(names.size(), 6u);
  EXPECT_EQ(names[0], "object ToneGen7: TToneGen");
  EXPECT_EQ(names[1], "  AMAmplitude ");
  EXPECT_EQ(names[2], "  AMWaveform ");
  EXPECT_EQ(names[3], "  AMFrequency ");
  EXPECT_EQ(names[4], "  AMArrayData ");
  EXPECT_EQ(names.back(), "end");
}

TEST_F(StoredFormTest, EveryPropertyChangedIsWrittenInOrderAndReadsBack) {
  TToneGen gen(nullptr);
  gen.SetName("Gen_2");
  gen.SetFrequency(1234);
  gen.SetDuration(32767);
  gen.SetWaveform(tgNoise);
  gen.SetAttack(0);
  gen.SetHold(100);
  gen.SetDecay(1);
  gen.SetSustain(99);
  gen.SetRelease(0);
  gen.SetAsync(false);
  gen.SetLoop(true);
  gen.SetResolution(tg8Bit);
  gen.SetQuality(tgLoQ);
  gen.SetLeftVolume(0);
  gen.SetRightVolume(37);
  gen.SetStereo(true);
  gen.SetAMParameter(tgAMLevel5, -4, FromBits(0x7FA00001u), tgTriangle);
  gen.SetAMLevel(tgAMLevel6);
  gen.SetAMAmplitude(55);
  gen.SetAMWaveform(static_cast<TTGWave>(200));  // an ordinal without a name
  gen.SetAMFrequency(0.1f);
  gen.SetAMUseMultiplier(false);
  gen.SetAMParameter(tgAMLevel6, 12, -0.0f, tgSquare);  // the table differs from the mirrors
  const std::string text = WriteToneGenForm(gen);

  const char* order[] = {
      "Frequency",   "Duration",        "Waveform",   "Attack",  "Hold",        "Decay",
      "Sustain",     "Release",         "Async",      "Loop",    "Resolution",  "Quality",
      "LeftVolume",  "RightVolume",     "Stereo",     "AMLevel", "AMAmplitude", "AMWaveform",
      "AMFrequency", "AMUseMultiplier", "AMArrayData"};
  size_t at = 0;
  for (const char* name : order) {
    const size_t found = text.find("\n  " + std::string(name) + " = ");
    ASSERT_NE(found, std::string::npos) << name;
    EXPECT_GT(found, at) << name;
    at = found;
  }

  TToneGen copy(nullptr);
  std::string error;
  ASSERT_TRUE(ReadToneGenForm(copy, text, &error)) << error << "\n" << text;
  EXPECT_TRUE(Snap(copy) == Snap(gen)) << text;
  EXPECT_EQ(WriteToneGenForm(copy), text);
  EXPECT_FALSE(copy.Loading());
}

TEST_F(StoredFormTest, FloatsReadBackBitForBit) {
  const float values[] = {0.1f,
                          1.0f / 3.0f,
                          -0.0f,
                          1e-45f,
                          std::numeric_limits<float>::max(),
                          std::numeric_limits<float>::infinity(),
                          -std::numeric_limits<float>::infinity(),
                          FromBits(0x7FC00000u),
                          FromBits(0xFF812345u),
                          16777217.0f,
                          1.4977273f};
  for (float value : values) {
    TToneGen gen(nullptr);
    gen.SetAMFrequency(value);
    TToneGen copy(nullptr);
    std::string error;
    ASSERT_TRUE(ReadToneGenForm(copy, WriteToneGenForm(gen), &error)) << error;
    EXPECT_EQ(Bits(copy.AMFrequency()), Bits(value)) << WriteToneGenForm(gen);
    EXPECT_EQ(Bits(TToneGenTestPeer(copy).FAMFrequencies()[0]), Bits(value));
  }
}

TEST_F(StoredFormTest, MainWindowToneGen1RoundTripsAndHoldsTheWorkedExample) {
  std::ifstream file(ZELKGEN_TONE_GEN1_FORM);
  ASSERT_TRUE(file) << ZELKGEN_TONE_GEN1_FORM;
  const std::string stored((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());

  // The instance as the main window lists it, built through the setters.
  TToneGen expected(nullptr);
  expected.SetName("ToneGen1");
  expected.SetDuration(30000);
  expected.SetLoop(true);
  expected.SetAMAmplitude(0);
  expected.SetAMWaveform(tgSquare);
  expected.SetAMFrequency(0.5f);
  expected.ResetAM();
  expected.SetAMParameter(tgAMLevel1, 0, 0.5f, tgSquare);
  EXPECT_EQ(WriteToneGenForm(expected), stored);

  TToneGen gen(nullptr);
  std::string error;
  ASSERT_TRUE(ReadToneGenForm(gen, stored, &error)) << error;
  EXPECT_EQ(gen.Name(), "ToneGen1");
  EXPECT_EQ(gen.Duration(), 30000);
  EXPECT_TRUE(gen.Loop());
  EXPECT_TRUE(gen.Async());
  EXPECT_EQ(gen.AMWaveform(), tgSquare);
  TToneGenTestPeer peer(gen);
  const float levels[kAMLevelCount] = {0.5f, 1.0f, 1.5f, 2.0f, 2.5f, 3.0f, 3.5f, 4.0f};
  for (int i = 0; i < kAMLevelCount; ++i) {
    EXPECT_EQ(peer.FAMAmplitudes()[i], 0);
    EXPECT_EQ(peer.FAMWaveforms()[i], i == 0 ? tgSquare : tgSine);
    EXPECT_EQ(peer.FAMFrequencies()[i], levels[i]);
  }
  EXPECT_TRUE(Snap(gen) == Snap(expected));
  EXPECT_EQ(WriteToneGenForm(gen), stored);

  const std::vector<uint8_t> bytes = BlockBytes(stored);
  ASSERT_EQ(bytes.size(), 104u);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4),
            (std::vector<uint8_t>{100, 0, 0, 0}));  // the length field
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 4, bytes.begin() + 20),
            (std::vector<uint8_t>{0x07, 0, 0, 0, 0, 0, 0, 0, 0x01, 0, 0, 0, 0, 0, 0, 0x3F}));
}

TEST_F(StoredFormTest, ReadingAppliesTheSettersInPropertyOrder) {
  // AMLevel comes before the mirrors even when the text lists it after them, so the mirrors
  // write level 3; the block comes last and replaces the table.
  TToneGen gen(nullptr);
  gen.SetAMParameter(tgAMLevel3, 120, 6.0f, tgNoise);
  const std::string text =
      "object G: TToneGen\n"
      "  AMAmplitude = 7\n"
      "  AMLevel = tgAMLevel3\n"
      "  AMFrequency = 2.5\n"
      "  AMWaveform = tgSawtooth\n"
      "end\n";
  std::string error;
  ASSERT_TRUE(ReadToneGenForm(gen, text, &error)) << error;
  TToneGenTestPeer peer(gen);
  EXPECT_EQ(gen.AMLevel(), tgAMLevel3);
  EXPECT_EQ(peer.FAMAmplitudes()[2], 7);
  EXPECT_EQ(peer.FAMWaveforms()[2], tgSawtooth);
  EXPECT_EQ(peer.FAMFrequencies()[2], 2.5f);
  EXPECT_EQ(peer.FAMAmplitudes()[0], 0);
}

TEST_F(StoredFormTest, OutOfRangeValuesAreClampedBySettersAtBothEnds) {
  struct Case {
    const char* line;
    int16_t (TToneGen::*property)() const;
    int16_t expected;
  };
  const Case cases[] = {
      {"Frequency = 5", &TToneGen::Frequency, 20},
      {"Frequency = 99999", &TToneGen::Frequency, 20000},
      {"Duration = -5", &TToneGen::Duration, 10},
      {"Duration = 40000", &TToneGen::Duration, 32767},
      {"Duration = -40000", &TToneGen::Duration, 10},
      {"Attack = 150", &TToneGen::Attack, 100},
      {"Attack = 70000", &TToneGen::Attack, 100},
      {"LeftVolume = -70000", &TToneGen::LeftVolume, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    TToneGen gen(nullptr);
    std::string error;
    ASSERT_TRUE(
        ReadToneGenForm(gen, std::string("object G: TToneGen\n  ") + c.line + "\nend", &error))
        << error;
    EXPECT_EQ((gen.*c.property)(), c.expected);
  }
}

struct BadText {
  std::string text;
  std::string error;
};

TEST_F(StoredFormTest, BadInputNamesTheLineAndChangesNothing) {
  const std::string head = "object Bad: TToneGen\n  Frequency = 1000\n";
  const std::string block_head = "  AMArrayData = {\n    64000000\n";
  const std::vector<BadText> cases = {
      {"", "line 1: no \"object\" line"},
      {"thing X: TToneGen\nend\n", "line 1: expected \"object <Name>: TToneGen\""},
      {"object X: TTimer\nend\n", "line 1: expected a TToneGen, found \"TTimer\""},
      {"object 1X: TToneGen\nend\n", "line 1: \"1X\" is not a component name"},
      {head + "  Pitch = 3\nend\n", "line 3: unknown property \"Pitch\""},
      {head + "  Duration 3\nend\n", "line 3: expected \"<property> = <value>\" or \"end\""},
      {head + "  Duration = 3x\nend\n", "line 3: Duration: \"3x\" is not a whole number"},
      {head + "  Loop = yes\nend\n", "line 3: Loop: \"yes\" is neither True nor False"},
      {head + "  Waveform = tgPulse\nend\n", "line 3: Waveform: \"tgPulse\" is not a waveform"},
      {head + "  Quality = tgMidQ\nend\n", "line 3: Quality: \"tgMidQ\" is not a quality"},
      {head + "  AMLevel = tgAMLevel9\nend\n",
       "line 3: AMLevel: \"tgAMLevel9\" is not an AM level"},
      {head + "  AMFrequency = 0.5.1\nend\n", "line 3: AMFrequency: \"0.5.1\" is not a float"},
      {head + "  AMFrequency = $3F00000\nend\n",
       "line 3: AMFrequency: \"$3F00000\" is not a float"},
      {head + "  Frequency = 900\nend\n", "line 3: Frequency is given twice"},
      {head, "line 2: the text ends before \"end\""},
      {head + "end\n  Duration = 3\n", "line 4: text after \"end\""},
      {head + "  AMArrayData = 5\nend\n", "line 3: AMArrayData: a binary value opens with \"{\""},
      {head + block_head + "    0700000\n  }\nend\n",
       "line 5: AMArrayData: \"0700000\" is not a whole number of hex bytes"},
      {head + block_head + "    07000G00\n  }\nend\n",
       "line 5: AMArrayData: \"07000G00\" is not hex bytes"},
      {head + block_head + "    07000000\n", "line 5: AMArrayData: the text ends before \"}\""},
      {head + block_head + "    07000000\n  }\nend\n",
       "line 3: AMArrayData: the length field reads 100 but 4 bytes follow"},
      {head + "  AMArrayData = {\n    6400\n  }\nend\n",
       "line 3: AMArrayData: the value has no length field"},
  };
  for (const BadText& c : cases) {
    TToneGen gen(nullptr);
    gen.SetName("Kept");
    std::string error;
    EXPECT_FALSE(ReadToneGenForm(gen, c.text, &error)) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
    EXPECT_EQ(gen.Name(), "Kept");
    EXPECT_EQ(gen.Frequency(), 440);
  }
}

TEST_F(StoredFormTest, TruncatedBlockFailsWithStreamReadErrorAndKeepsTheTable) {
  // Last index 7 with only one record: the block is shorter than its last index requires.
  const std::string text =
      "object Short: TToneGen\n"
      "  Duration = 500\n"
      "  AMArrayData = {\n"
      "    10000000\n"
      "    07000000210000000200000000001041\n"
      "  }\n"
      "end\n";
  TToneGen gen(nullptr);
  std::string error;
  EXPECT_FALSE(ReadToneGenForm(gen, text, &error));
  EXPECT_EQ(error, "line 3: AMArrayData: Stream read error");
  TToneGenTestPeer peer(gen);
  EXPECT_EQ(peer.FAMAmplitudes()[0], 0);
  EXPECT_EQ(peer.FAMFrequencies()[0], 0.5f);
  EXPECT_EQ(gen.Duration(), 500);  // applied before the block, as the framework does
  EXPECT_FALSE(gen.Loading());
}

TEST_F(StoredFormTest, BlocksWithOtherLastIndexesFollowTheTableRules) {
  const std::string surplus =  // last index 8: nine records, the ninth dropped
      "object S: TToneGen\n  AMArrayData = {\n    70000000\n    08000000" + std::string(9, ' ') +
      "\n" +
      [] {
        std::string records;
        for (int i = 0; i < 9; ++i)
          records += "    0" + std::to_string(i + 1) + "00000001000000" + "0000803F\n";
        return records;
      }() +
      "  }\nend\n";
  TToneGen gen(nullptr);
  std::string error;
  ASSERT_TRUE(ReadToneGenForm(gen, surplus, &error)) << error;
  TToneGenTestPeer peer(gen);
  for (int i = 0; i < kAMLevelCount; ++i) {
    EXPECT_EQ(peer.FAMAmplitudes()[i], i + 1);
    EXPECT_EQ(peer.FAMWaveforms()[i], tgSquare);
    EXPECT_EQ(peer.FAMFrequencies()[i], 1.0f);
  }
  const std::string negative =
      "object N: TToneGen\n  AMArrayData = {\n    04000000\n    FFFFFFFF\n  }\nend\n";
  TToneGen other(nullptr);
  ASSERT_TRUE(ReadToneGenForm(other, negative, &error)) << error;
  EXPECT_EQ(TToneGenTestPeer(other).FAMFrequencies()[7], 4.0f);
}

}  // namespace

namespace {

// The stored text outside the AMArrayData block, and the block's records after its last index.
std::pair<std::string, std::vector<uint8_t>> SplitForm(const std::string& text) {
  const size_t open = text.find("AMArrayData = {");
  const size_t close = text.find('}', open);
  std::vector<uint8_t> block = BlockBytes(text);
  block.erase(block.begin(), block.begin() + std::min<size_t>(8, block.size()));
  return {text.substr(0, open) + text.substr(close), block};
}

TEST_F(StoredFormTest, CleanChoiceRidesInARecordOlderReadersDrop) {
  struct Case {
    const char* note;  // empty: a frequency in hertz
    double hz;
    double expected_hz;
  };
  const Case cases[] = {{"", 997.25, 997.25}, {"O0A", 0, 27.5}, {"O4C", 0, 523.2511306011972}};
  for (const Case& c : cases) {
    TToneGen plain(nullptr);
    plain.SetAMParameter(tgAMLevel2, 30, 1.5f, tgTriangle);
    if (*c.note != '\0') {
      ASSERT_NE(plain.SetNote(c.note), 0) << c.note;
    } else {
      plain.SetFrequencyHz(c.hz);
    }
    EXPECT_NEAR(plain.FrequencyHz(), c.expected_hz, 1e-9) << c.note << c.hz;
    const std::string plain_text = WriteToneGenForm(plain);
    TToneGen clean(nullptr);
    std::string error;
    ASSERT_TRUE(ReadToneGenForm(clean, plain_text, &error)) << error;
    EXPECT_FALSE(clean.Clean());
    clean.SetClean(true);
    clean.SetFrequencyHz(c.expected_hz);
    const std::string clean_text = WriteToneGenForm(clean);

    // What an older reader sees: the same property lines, the same eight records, then one more
    // record that it reads and drops.
    const auto [plain_lines, plain_records] = SplitForm(plain_text);
    const auto [clean_lines, clean_records] = SplitForm(clean_text);
    EXPECT_EQ(clean_lines, plain_lines);
    ASSERT_EQ(clean_records.size(), plain_records.size() + 12);
    EXPECT_TRUE(std::equal(plain_records.begin(), plain_records.end(), clean_records.begin()));

    TToneGen back(nullptr);
    ASSERT_TRUE(ReadToneGenForm(back, clean_text, &error)) << error;
    EXPECT_TRUE(back.Clean());
    EXPECT_EQ(back.FrequencyHz(), c.expected_hz);
    EXPECT_EQ(Snap(back), Snap(clean));
    ASSERT_TRUE(ReadToneGenForm(back, plain_text, &error)) << error;
    EXPECT_FALSE(back.Clean());
  }
}

}  // namespace
