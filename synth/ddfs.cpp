#include "ddfs.h"

#include <sys/mman.h>

#include <cmath>
#include <limits>
#include <numbers>

#include "little_endian.h"

int16_t SineTable[TableLength];
int16_t SquareTable[TableLength];
int16_t TriangleTable[TableLength];
int16_t SawtoothTable[TableLength];

uint32_t Phase[17];

long double StreamFrequency = 0.0L;
long double StreamAmplitude = 0.0L;

std::atomic<WaveShape> OutputWaveShape{wsSquare};

namespace {

constexpr int kQuarterCycle = 11025;  // indices 0..11024 of the mirrored tables
constexpr int kHalfTable = 22050;

// Halves go to the even neighbour. Written out rather than left to the FPU rounding mode, which
// the audio thread may not share with the thread that set it.
long double Nearest(long double x) {
  long double whole = std::floor(x);
  const long double fraction = x - whole;  // exact for every finite x
  if (fraction > 0.5L || (fraction == 0.5L && std::fmod(whole, 2.0L) != 0.0L)) whole += 1.0L;
  return whole;
}

// The number of entries a frequency advances a phase per frame; 0 freezes the phase. The
// comparisons are written so that a NaN freezes it too.
uint32_t StepFor(long double Frequency) {
  if (!(Frequency > 1.0L && Frequency <= MaxFrequency)) return 0;
  return static_cast<uint32_t>(Nearest(Frequency));
}

bool IsChannel(uint8_t Channel) {
  return Channel >= 1 && Channel <= 16;
}

// Writes a, a, -a, -a at i, 22049 - i, 22050 + i and 44099 - i: a quarter cycle mirrored into
// the whole table.
void MirrorQuarter(int16_t* table, int i, int16_t a) {
  table[i] = a;
  table[kHalfTable - 1 - i] = a;
  table[kHalfTable + i] = static_cast<int16_t>(-a);
  table[TableLength - 1 - i] = static_cast<int16_t>(-a);
}

void BuildTables() {
  const long double pi = std::numbers::pi_v<long double>;
  for (int i = 0; i < kQuarterCycle; ++i) {
    const long double angle = i * 2.0L * pi / PhaseModulus;
    MirrorQuarter(SineTable, i, static_cast<int16_t>(Nearest(std::sin(angle) * 32767.0L)));
  }
  for (int i = 0; i < TableLength; ++i) SquareTable[i] = i < kHalfTable ? 26000 : -26000;
  for (int i = 0; i < kQuarterCycle; ++i) {
    MirrorQuarter(TriangleTable, i, static_cast<int16_t>(Nearest(i * 26000.0L / 11024.0L)));
  }
  for (int i = 0; i < TableLength; ++i) {
    // i * 52000 passes 2^31, so it is formed in extended precision.
    const long double ramp = static_cast<long double>(i) * 52000.0L / PhaseModulus;
    SawtoothTable[i] = static_cast<int16_t>(Nearest(-(ramp - 26000.0L)));
  }
}

// The stream procedure reads the tables on the audio thread, where waiting for a page to come
// back from swap would be a gap in the tone: they stay in memory. Where the system refuses (a
// locked-memory limit below 352 KB), they are merely likely to.
void KeepTablesInMemory() {
  for (const int16_t* table : {SineTable, SquareTable, TriangleTable, SawtoothTable}) {
    mlock(table, TableLength * sizeof(int16_t));
  }
}

// One accumulator step, for AdvancePhase and the stream alike: the phase moves on by step, and a
// result greater than 44099 is reduced modulo 44099 (exactly 44099 stays). Returns the phase
// before the step. From a phase in 0..44099 one subtraction is the modulo.
inline uint32_t Step(uint32_t& phase, uint32_t step) {
  const uint32_t old = phase;
  uint32_t next = old + step;
  if (next > PhaseModulus) {
    next -= PhaseModulus;
    // Only a phase that was already past the modulus (written from outside) needs more.
    if (next >= PhaseModulus) next %= PhaseModulus;
  }
  phase = next;
  return old;
}

// toward-zero(sample x amplitude) as a 16-bit sample. The system always plays at 1.0; a larger
// factor saturates rather than wrapping into the opposite sign.
// The conversion to an integer truncates by itself, so the bounds are tested on the product:
// trunc(p) > 32767 exactly when p >= 32768, and trunc(p) < -32768 exactly when p <= -32769.
int16_t Scale(int16_t sample, long double amplitude) {
  const long double product = sample * amplitude;
  if (!(product == product)) return 0;
  if (product >= 32768.0L) return 32767;
  if (product <= -32769.0L) return -32768;
  return static_cast<int16_t>(static_cast<int32_t>(product));
}

inline void StoreFrame(uint8_t* at, int16_t left, int16_t right) {
  PutLE32(at, static_cast<uint16_t>(left) |
                  (static_cast<uint32_t>(static_cast<uint16_t>(right)) << 16));
}

}  // namespace

void InitDDFS() {
  for (uint32_t& phase : Phase) phase = 0;
  BuildTables();
  KeepTablesInMemory();
  for (uint8_t channel = 1; channel <= 16; ++channel) ResetPhase(channel);
  for (uint8_t channel = 1; channel <= 8; ++channel) {
    SetPhaseOffset(channel, static_cast<uint8_t>(channel + 8), 180.0L);
  }
}

uint32_t ResetPhase(uint8_t Channel) {
  if (IsChannel(Channel)) Phase[Channel] = 0;
  return 0;
}

int32_t SetPhaseOffset(uint8_t Channel, uint8_t PairedChannel, long double Degrees) {
  long double steps = Nearest(PhaseModulus * Degrees / 360.0L);
  // Out-of-range or NaN angles give an offset the 32-bit result can hold.
  if (!(steps == steps)) steps = 0.0L;
  steps = std::fmax(steps, static_cast<long double>(std::numeric_limits<int32_t>::min()));
  steps = std::fmin(steps, static_cast<long double>(std::numeric_limits<int32_t>::max()));
  const int32_t offset = static_cast<int32_t>(steps);
  if (Channel >= 1 && Channel <= 8 && PairedChannel >= 9 && PairedChannel <= 16) {
    // A negative angle places the pair behind instead of ahead.
    int64_t placed = (static_cast<int64_t>(Phase[Channel]) + offset) % PhaseModulus;
    if (placed < 0) placed += PhaseModulus;
    Phase[PairedChannel] = static_cast<uint32_t>(placed);
  }
  return offset;
}

uint32_t AdvancePhase(uint8_t Channel, long double Frequency) {
  if (!IsChannel(Channel)) return 0;
  const uint32_t step = StepFor(Frequency);
  if (step == 0) return Phase[Channel];
  return Step(Phase[Channel], step);
}

const int16_t* WaveTable(WaveShape shape) {
  switch (shape) {
    case wsSine:
      return SineTable;
    case wsSquare:
      return SquareTable;
    case wsTriangle:
      return TriangleTable;
    case wsSawtooth:
      return SawtoothTable;
  }
  return nullptr;
}

int16_t SineSample(int32_t Index) {
  return SineTable[Index];
}
int16_t SquareSample(int32_t Index) {
  return SquareTable[Index];
}
int16_t TriangleSample(int32_t Index) {
  return TriangleTable[Index];
}
int16_t SawtoothSample(int32_t Index) {
  return SawtoothTable[Index];
}

uint32_t ToneStreamProc(uint32_t /*Handle*/, void* Buffer, uint32_t Length, void* /*User*/) {
  const uint32_t frames = Length / 4;
  const int16_t* table = WaveTable(OutputWaveShape.load(std::memory_order_relaxed));
  if (table == nullptr || frames == 0) return Length;

  // The settings are written only while no stream exists, so reading them once per buffer gives
  // the same samples as reading them for every sample, at a fraction of the cost.
  const uint32_t step = StepFor(StreamFrequency);
  const long double amplitude = StreamAmplitude;
  // The accumulators stay in 0..44099 between calls; reduce anything else so that no read
  // leaves the table.
  uint32_t left_phase = Phase[1] > PhaseModulus ? Phase[1] % PhaseModulus : Phase[1];
  uint32_t right_phase = Phase[9] > PhaseModulus ? Phase[9] % PhaseModulus : Phase[9];
  auto* out = static_cast<uint8_t*>(Buffer);

  if (amplitude == 1.0L) {
    for (uint32_t k = 0; k < frames; ++k, out += 4) {
      const int16_t left = table[Step(left_phase, step)];
      const int16_t right = table[Step(right_phase, step)];
      StoreFrame(out, left, right);
    }
  } else {
    for (uint32_t k = 0; k < frames; ++k, out += 4) {
      const int16_t left = Scale(table[Step(left_phase, step)], amplitude);
      const int16_t right = Scale(table[Step(right_phase, step)], amplitude);
      StoreFrame(out, left, right);
    }
  }
  Phase[1] = left_phase;
  Phase[9] = right_phase;
  return Length;
}
