#include "ddfs.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

// --- An independent evaluation of the tables -------------------------------------------------

// Half to even, in double.
double RoundHalfEven(double x) {
  double r = std::floor(x + 0.5);
  if (r - x == 0.5 && std::fmod(r, 2.0) != 0.0) r -= 1.0;
  return r;
}

// numerator / denominator to the nearest integer, halves to even, in exact integer arithmetic.
int64_t NearestRatio(int64_t numerator, int64_t denominator) {
  const bool negative = numerator < 0;
  const int64_t n = negative ? -numerator : numerator;
  int64_t quotient = n / denominator;
  const int64_t twice_rest = 2 * (n % denominator);
  if (twice_rest > denominator || (twice_rest == denominator && quotient % 2 != 0)) ++quotient;
  return negative ? -quotient : quotient;
}

// Value of a table built from a quarter cycle q(0..11024) mirrored into four quarters.
template <typename Quarter>
int Mirrored(int j, Quarter q) {
  if (j <= 11024) return q(j);
  if (j <= 22049) return q(22049 - j);
  if (j <= 33074) return -q(j - 22050);
  return -q(44099 - j);
}

int ExpectedSine(int j) {
  const double pi = 3.14159265358979323846;
  return Mirrored(j, [&](int i) {
    return static_cast<int>(RoundHalfEven(std::sin(i * 2.0 * pi / 44099.0) * 32767.0));
  });
}
int ExpectedSquare(int j) {
  return j < 22050 ? 26000 : -26000;
}
int ExpectedTriangle(int j) {
  return Mirrored(j, [](int i) { return static_cast<int>(NearestRatio(i * 26000LL, 11024)); });
}
int ExpectedSawtooth(int j) {
  // -(j * 52000 / 44099 - 26000) = (26000 * 44099 - j * 52000) / 44099
  return static_cast<int>(NearestRatio(26000LL * 44099 - 52000LL * j, 44099));
}

int ExpectedEntry(uint8_t shape, int j) {
  switch (shape) {
    case wsSine:
      return ExpectedSine(j);
    case wsSquare:
      return ExpectedSquare(j);
    case wsTriangle:
      return ExpectedTriangle(j);
    default:
      return ExpectedSawtooth(j);
  }
}

// --- An independent model of the accumulators and the stream --------------------------------

struct ReferenceStream {
  uint32_t left_phase;
  uint32_t right_phase;
  uint32_t step;  // 0: frozen
  uint8_t shape;
  double amplitude = 1.0;

  static uint32_t Advance(uint32_t& phase, uint32_t step) {
    const uint32_t old = phase;
    if (step != 0) {
      phase += step;
      if (phase > 44099) phase %= 44099;
    }
    return old;
  }
  int16_t Sample(uint32_t phase) const {
    const double scaled = std::trunc(ExpectedEntry(shape, static_cast<int>(phase)) * amplitude);
    return static_cast<int16_t>(std::fmax(-32768.0, std::fmin(32767.0, scaled)));
  }
  void NextFrame(int16_t* left, int16_t* right) {
    *left = Sample(Advance(left_phase, step));
    *right = Sample(Advance(right_phase, step));
  }
};

int16_t ReadLe16(const unsigned char* at) {
  return static_cast<int16_t>(at[0] | (at[1] << 8));
}

class DdfsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitDDFS();
    StreamFrequency = 0.0L;
    StreamAmplitude = 1.0L;
    OutputWaveShape = wsSquare;
  }
};

const int16_t* Table(uint8_t shape) {
  const int16_t* tables[] = {SineTable, SquareTable, TriangleTable, SawtoothTable};
  return tables[shape];
}

// --- Tables ----------------------------------------------------------------------------------

TEST_F(DdfsTest, EveryEntryOfEveryTableMatchesAnIndependentEvaluation) {
  const char* names[] = {"sine", "square", "triangle", "sawtooth"};
  for (uint8_t shape = 0; shape < 4; ++shape) {
    int mismatches = 0;
    for (int j = 0; j < TableLength; ++j) {
      if (Table(shape)[j] != ExpectedEntry(shape, j)) {
        if (++mismatches <= 5) {
          ADD_FAILURE() << names[shape] << "[" << j << "] = " << Table(shape)[j] << ", expected "
                        << ExpectedEntry(shape, j);
        }
      }
    }
    EXPECT_EQ(mismatches, 0) << names[shape];
  }
}

TEST_F(DdfsTest, LookupsReturnTheirTablesEntries) {
  for (int j = 0; j < TableLength; j += 7) {
    ASSERT_EQ(SineSample(j), ExpectedSine(j));
    ASSERT_EQ(SquareSample(j), ExpectedSquare(j));
    ASSERT_EQ(TriangleSample(j), ExpectedTriangle(j));
    ASSERT_EQ(SawtoothSample(j), ExpectedSawtooth(j));
  }
}

TEST_F(DdfsTest, SineTableHasTheWorkedValues) {
  EXPECT_EQ(SineTable[0], 0);
  EXPECT_EQ(SineTable[1], 5);
  for (int j = 11023; j <= 11026; ++j) EXPECT_EQ(SineTable[j], 32767) << j;
  EXPECT_EQ(SineTable[22048], 5);
  EXPECT_EQ(SineTable[22049], 0);
  EXPECT_EQ(SineTable[22050], 0);
  EXPECT_EQ(SineTable[22051], -5);
  for (int j = 33073; j <= 33076; ++j) EXPECT_EQ(SineTable[j], -32767) << j;
  EXPECT_EQ(SineTable[44097], -9);
  EXPECT_EQ(SineTable[44098], -5);
  EXPECT_EQ(SineTable[44099], 0);
  for (int j = 0; j < TableLength; ++j) ASSERT_LE(std::abs(SineTable[j]), 32767) << j;
}

TEST_F(DdfsTest, SquareTriangleAndSawtoothHaveTheWorkedValues) {
  EXPECT_EQ(SquareTable[0], 26000);
  EXPECT_EQ(SquareTable[22049], 26000);
  EXPECT_EQ(SquareTable[22050], -26000);
  EXPECT_EQ(SquareTable[44099], -26000);

  const int triangle_start[] = {0, 2, 5, 7};
  for (int j = 0; j < 4; ++j) EXPECT_EQ(TriangleTable[j], triangle_start[j]) << j;
  const int triangle_peak[] = {25998, 26000, 26000, 25998};
  for (int j = 0; j < 4; ++j) EXPECT_EQ(TriangleTable[11023 + j], triangle_peak[j]) << j;
  EXPECT_EQ(TriangleTable[22049], 0);
  EXPECT_EQ(TriangleTable[22050], 0);
  EXPECT_EQ(TriangleTable[33074], -26000);
  EXPECT_EQ(TriangleTable[33075], -26000);
  EXPECT_EQ(TriangleTable[44099], 0);

  const int saw_start[] = {26000, 25999, 25998, 25996};
  for (int j = 0; j < 4; ++j) EXPECT_EQ(SawtoothTable[j], saw_start[j]) << j;
  EXPECT_EQ(SawtoothTable[22049], 1);
  EXPECT_EQ(SawtoothTable[22050], -1);
  EXPECT_EQ(SawtoothTable[44099], -26000);
  for (int j = 0; j < TableLength; ++j) ASSERT_NE(SawtoothTable[j], 0) << j;
}

// --- Accumulators ----------------------------------------------------------------------------

TEST_F(DdfsTest, StartUpLeavesTheSecondOfEachPairHalfACycleAhead) {
  for (int channel = 1; channel <= 8; ++channel) EXPECT_EQ(Phase[channel], 0u) << channel;
  for (int channel = 9; channel <= 16; ++channel) EXPECT_EQ(Phase[channel], 22050u) << channel;
  EXPECT_EQ(OutputWaveShape.load(), wsSquare);
}

TEST_F(DdfsTest, ResetPhaseClearsOnlyValidChannels) {
  Phase[5] = 1234;
  EXPECT_EQ(ResetPhase(5), 0u);
  EXPECT_EQ(Phase[5], 0u);

  uint32_t before[17];
  std::memcpy(before, Phase, sizeof before);
  EXPECT_EQ(ResetPhase(0), 0u);
  EXPECT_EQ(ResetPhase(17), 0u);
  EXPECT_EQ(ResetPhase(255), 0u);
  EXPECT_EQ(std::memcmp(before, Phase, sizeof before), 0);
}

TEST_F(DdfsTest, SetPhaseOffsetPlacesThePairAheadAndReturnsTheSteps) {
  EXPECT_EQ(SetPhaseOffset(1, 9, 180.0L), 22050);  // 22049.5 goes to the even 22050
  EXPECT_EQ(Phase[9], 22050u);

  Phase[2] = 40000;
  EXPECT_EQ(SetPhaseOffset(2, 10, 90.0L), 11025);  // from 11024.75
  EXPECT_EQ(Phase[10], (40000u + 11025u) % 44099u);

  uint32_t before[17];
  std::memcpy(before, Phase, sizeof before);
  EXPECT_EQ(SetPhaseOffset(9, 1, 180.0L), 22050);  // wrong way round: returns, changes nothing
  EXPECT_EQ(SetPhaseOffset(0, 9, 180.0L), 22050);
  EXPECT_EQ(SetPhaseOffset(1, 17, 180.0L), 22050);
  EXPECT_EQ(SetPhaseOffset(3, 4, 180.0L), 22050);
  EXPECT_EQ(std::memcmp(before, Phase, sizeof before), 0);
}

TEST_F(DdfsTest, SetPhaseOffsetWithANegativeAngleShiftsBackward) {
  Phase[1] = 100;
  EXPECT_EQ(SetPhaseOffset(1, 9, -180.0L), -22050);
  EXPECT_EQ(Phase[9], 100u + 44099u - 22050u);
  EXPECT_EQ(SetPhaseOffset(1, 9, std::numeric_limits<long double>::quiet_NaN()), 0);
  EXPECT_EQ(Phase[9], 100u);
}

TEST_F(DdfsTest, AdvancePhaseReturnsTheOldPhaseAndWrapsPastTheModulus) {
  for (uint32_t k = 0; k <= 44; ++k) ASSERT_EQ(AdvancePhase(1, 1000.0L), k * 1000) << k;
  EXPECT_EQ(Phase[1], 901u);  // 45000 - 44099
}

// A phase written from outside may lie past the modulus; the step still reduces the sum modulo
// 44099, whether the sum is just past one modulus or lands on a multiple of it.
TEST_F(DdfsTest, AdvancePhaseReducesAPhaseWrittenPastTheModulus) {
  struct Case {
    uint32_t phase;
    long double frequency;
    uint32_t after;
  };
  const Case cases[] = {
      {44100, 1.5L, 3},          // 44102 - 44099 (1.5 steps by 2, its even neighbour)
      {88196, 2.0L, 0},          // 88198 is exactly twice the modulus
      {88000, 98.0L, 43999},     // 88098 - 44099
      {88203, 3.0L, 8},          // 88206 - 2 x 44099
      {1000000, 22000.0L, 7723}  // 1022000 - 23 x 44099
  };
  for (const Case& c : cases) {
    Phase[2] = c.phase;
    EXPECT_EQ(AdvancePhase(2, c.frequency), c.phase);
    EXPECT_EQ(Phase[2], c.after) << c.phase;
  }
}

TEST_F(DdfsTest, APhaseLandingOnTheModulusStaysThereForOneFrame) {
  Phase[1] = 44000;
  EXPECT_EQ(AdvancePhase(1, 99.0L), 44000u);
  EXPECT_EQ(Phase[1], 44099u);
  const uint32_t read = AdvancePhase(1, 99.0L);
  EXPECT_EQ(read, 44099u);
  EXPECT_EQ(Phase[1], 99u);
  EXPECT_EQ(SineSample(read), 0);
  EXPECT_EQ(SquareSample(read), -26000);
  EXPECT_EQ(SawtoothSample(read), -26000);
  EXPECT_EQ(SquareSample(0), 26000);
}

TEST_F(DdfsTest, FrequenciesOutsideTheRangeFreezeThePhase) {
  const long double frozen[] = {1.0L,
                                0.5L,
                                0.0L,
                                -440.0L,
                                22000.5L,
                                22000.0001L,
                                std::numeric_limits<long double>::quiet_NaN(),
                                std::numeric_limits<long double>::infinity(),
                                -std::numeric_limits<long double>::infinity()};
  Phase[3] = 1234;
  for (long double f : frozen) {
    EXPECT_EQ(AdvancePhase(3, f), 1234u) << static_cast<double>(f);
    EXPECT_EQ(Phase[3], 1234u) << static_cast<double>(f);
  }
  EXPECT_EQ(AdvancePhase(3, 1.0001L), 1234u);
  EXPECT_EQ(Phase[3], 1235u);
  EXPECT_EQ(AdvancePhase(3, 22000.0L), 1235u);
  EXPECT_EQ(Phase[3], 23235u);
}

TEST_F(DdfsTest, StepsAreTheFrequencyRoundedHalfToEven) {
  struct Case {
    long double frequency;
    uint32_t step;
  } cases[] = {{1.3L, 1}, {1.5L, 2}, {2.5L, 2}, {3.5L, 4}, {18910.09L, 18910}, {21999.5L, 22000}};
  for (const Case& c : cases) {
    Phase[4] = 0;
    AdvancePhase(4, c.frequency);
    EXPECT_EQ(Phase[4], c.step) << static_cast<double>(c.frequency);
  }
  // Every half, quarter and three quarters across the range.
  for (uint32_t n = 1; n < 22000; ++n) {
    const uint32_t half_step = n % 2 == 0 ? n : n + 1;
    const std::pair<long double, uint32_t> sweep[] = {
        {n + 0.25L, n}, {n + 0.5L, half_step}, {n + 0.75L, n + 1}};
    for (const auto& [frequency, step] : sweep) {
      if (frequency <= 1.0L) continue;
      Phase[4] = 0;
      AdvancePhase(4, frequency);
      ASSERT_EQ(Phase[4], step) << static_cast<double>(frequency);
    }
  }
}

TEST_F(DdfsTest, AdvancePhaseIgnoresChannelsOutsideOneToSixteen) {
  uint32_t before[17];
  std::memcpy(before, Phase, sizeof before);
  EXPECT_EQ(AdvancePhase(0, 440.0L), 0u);
  EXPECT_EQ(AdvancePhase(17, 440.0L), 0u);
  EXPECT_EQ(std::memcmp(before, Phase, sizeof before), 0);
  EXPECT_EQ(AdvancePhase(16, 440.0L), 22050u);
  EXPECT_EQ(Phase[16], 22490u);
}

// --- The stream procedure --------------------------------------------------------------------

// Runs ToneStreamProc over several buffers of uneven sizes and compares every frame with the
// reference model started from the same phases.
void ExpectStreamMatchesReference(uint8_t shape, long double frequency, long double amplitude,
                                  uint32_t step, double reference_amplitude) {
  OutputWaveShape = static_cast<WaveShape>(shape);
  StreamFrequency = frequency;
  StreamAmplitude = amplitude;
  ReferenceStream reference{Phase[1], Phase[9], step, shape, reference_amplitude};
  for (uint32_t length : {4096u, 17640u, 4u, 8u, 1000u, 44100u * 4u}) {
    std::vector<unsigned char> buffer(length, 0xAB);
    ASSERT_EQ(ToneStreamProc(7, buffer.data(), length, nullptr), length);
    for (uint32_t k = 0; k < length / 4; ++k) {
      int16_t left, right;
      reference.NextFrame(&left, &right);
      ASSERT_EQ(ReadLe16(&buffer[4 * k]), left) << "shape " << int(shape) << " frame " << k;
      ASSERT_EQ(ReadLe16(&buffer[4 * k + 2]), right) << "shape " << int(shape) << " frame " << k;
    }
  }
  EXPECT_EQ(Phase[1], reference.left_phase);
  EXPECT_EQ(Phase[9], reference.right_phase);
}

TEST_F(DdfsTest, StreamFramesFollowTheReferenceForEveryShape) {
  for (uint8_t shape = 0; shape < 4; ++shape) {
    ExpectStreamMatchesReference(shape, 1000.0L, 1.0L, 1000, 1.0);
    // 2128 shares the factor 19 with 44099, so the phases keep landing on 44099.
    ExpectStreamMatchesReference(shape, 2127.5L, 1.0L, 2128, 1.0);
    ExpectStreamMatchesReference(shape, 21999.7L, 1.0L, 22000, 1.0);
  }
}

TEST_F(DdfsTest, AmplitudeScalesTowardZero) {
  ExpectStreamMatchesReference(wsSine, 441.0L, 0.5L, 441, 0.5);
  ExpectStreamMatchesReference(wsSawtooth, 3.0L, 0.375L, 3, 0.375);
  // -5 x 0.5 = -2.5 leaves as -2, not -3.
  OutputWaveShape = wsSine;
  StreamFrequency = 1.0L;
  StreamAmplitude = 0.5L;
  Phase[1] = 44098;  // -5
  Phase[9] = 1;      // 5
  unsigned char frame[4];
  ToneStreamProc(0, frame, 4, nullptr);
  EXPECT_EQ(ReadLe16(frame), -2);
  EXPECT_EQ(ReadLe16(frame + 2), 2);
}

TEST_F(DdfsTest, AmplitudeBeyondOneSaturatesInsteadOfWrapping) {
  // The first square frame is +26000 left, -26000 right.
  const struct {
    long double amplitude;
    int16_t left, right;
  } cases[] = {
      {2.0L, 32767, -32768},
      {-2.0L, -32768, 32767},
      {32767.999L / 26000.0L, 32767, -32767},  // -32767.999 truncates toward zero
      {std::numeric_limits<long double>::quiet_NaN(), 0, 0},
  };
  for (const auto& c : cases) {
    InitDDFS();
    OutputWaveShape = wsSquare;
    StreamFrequency = 1.0L;
    StreamAmplitude = c.amplitude;
    unsigned char frame[4];
    ToneStreamProc(0, frame, 4, nullptr);
    EXPECT_EQ(ReadLe16(frame), c.left) << static_cast<double>(c.amplitude);
    EXPECT_EQ(ReadLe16(frame + 2), c.right) << static_cast<double>(c.amplitude);
  }
}

TEST_F(DdfsTest, FirstSineStreamAfterStartUpBeginsAtZeroThenHalfACycleApart) {
  OutputWaveShape = wsSine;
  StreamFrequency = 1000.0L;
  unsigned char buffer[12];
  ToneStreamProc(0, buffer, sizeof buffer, nullptr);
  EXPECT_EQ(ReadLe16(buffer), 0);
  EXPECT_EQ(ReadLe16(buffer + 2), 0);
  EXPECT_EQ(ReadLe16(buffer + 4), SineTable[1000]);
  EXPECT_EQ(ReadLe16(buffer + 6), SineTable[23050]);
  EXPECT_EQ(ReadLe16(buffer + 8), SineTable[2000]);
  EXPECT_EQ(ReadLe16(buffer + 10), SineTable[24050]);
  EXPECT_LE(std::abs(SineTable[1000] + SineTable[23050]), 5);
}

TEST_F(DdfsTest, SquareAtOneHertzIsAConstantAntiphasePair) {
  StreamFrequency = 1.0L;
  std::vector<unsigned char> buffer(4096);
  ToneStreamProc(0, buffer.data(), 4096, nullptr);
  for (size_t k = 0; k < 1024; ++k) {
    ASSERT_EQ(ReadLe16(&buffer[4 * k]), 26000) << k;
    ASSERT_EQ(ReadLe16(&buffer[4 * k + 2]), -26000) << k;
  }
  EXPECT_EQ(Phase[1], 0u);
  EXPECT_EQ(Phase[9], 22050u);
  // Little-endian, left first: 26000 = 0x6590, -26000 = 0x9A70.
  const unsigned char expected[] = {0x90, 0x65, 0x70, 0x9A};
  EXPECT_EQ(std::memcmp(buffer.data(), expected, 4), 0);
}

TEST_F(DdfsTest, BufferSizesFillWholeFramesAndReportTheFullLength) {
  StreamFrequency = 440.0L;
  std::vector<unsigned char> buffer(17640 + 8, 0xAB);
  EXPECT_EQ(ToneStreamProc(0, buffer.data(), 17640, nullptr), 17640u);
  EXPECT_EQ(Phase[1], (4410u * 440u) % 44099u);  // 4410 frames, one step each
  for (size_t i = 17640; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0xAB) << i;

  // A 3-byte request gets nothing; 7 bytes get one frame and the rest is left alone.
  const uint32_t phase_before = Phase[1];
  unsigned char small[8];
  std::memset(small, 0xAB, sizeof small);
  EXPECT_EQ(ToneStreamProc(0, small, 3, nullptr), 3u);
  EXPECT_EQ(Phase[1], phase_before);
  for (unsigned char byte : small) EXPECT_EQ(byte, 0xAB);
  EXPECT_EQ(ToneStreamProc(0, small, 7, nullptr), 7u);
  EXPECT_EQ(Phase[1], (phase_before + 440u) % 44099u);
  for (int i = 4; i < 8; ++i) EXPECT_EQ(small[i], 0xAB) << i;
  EXPECT_EQ(ToneStreamProc(0, nullptr, 0, nullptr), 0u);
}

TEST_F(DdfsTest, AnUnknownShapeLeavesTheBufferAndPhasesAlone) {
  OutputWaveShape = static_cast<WaveShape>(4);
  StreamFrequency = 440.0L;
  std::array<unsigned char, 64> buffer;
  buffer.fill(0xAB);
  EXPECT_EQ(ToneStreamProc(0, buffer.data(), 64, nullptr), 64u);
  for (unsigned char byte : buffer) EXPECT_EQ(byte, 0xAB);
  EXPECT_EQ(Phase[1], 0u);
  EXPECT_EQ(Phase[9], 22050u);
}

TEST_F(DdfsTest, TheShapeChoiceTakesEffectAtTheNextBuffer) {
  StreamFrequency = 1.0L;
  Phase[1] = 1;
  unsigned char frame[4];
  ToneStreamProc(0, frame, 4, nullptr);
  EXPECT_EQ(ReadLe16(frame), 26000);
  OutputWaveShape = wsSine;
  ToneStreamProc(0, frame, 4, nullptr);
  EXPECT_EQ(ReadLe16(frame), 5);
}

}  // namespace
