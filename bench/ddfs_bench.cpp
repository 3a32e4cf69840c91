// ToneStreamProc filling a 4096-byte buffer (1024 stereo frames), reported as frames per second,
// ns per frame and times real time (44100 frames/s), beside a plain memcpy of 4096 bytes. The
// audio thread needs 44100 frames/s; the target is a thousand times that. The exact tone of
// program files (exact_tone.h) beside it, steady and gliding, should keep up with it: the export
// writes either at the speed of its stream procedure. A gated step, and a square with a duty other
// than half, should cost at most 10 % more than the plain exact tone of the same shape: compare
// ns_per_frame of the ExactTone_SquareGated* with ExactTone_Square, of ExactTone_SineGatedFast
// with ExactTone_Sine. The gate's silence costs next to nothing, so a gate on for 99 % of its
// cycle shows what gating itself costs, and a fast one (499.999 Hz) what its edges cost.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>

#include "ddfs.h"
#include "exact_tone.h"

namespace {

constexpr uint32_t BufferBytes = 4096;
constexpr double FramesPerBuffer = BufferBytes / 4;

// Counters from the wall time of the timed loop, printed as plain numbers.
void ReportFrames(benchmark::State& state, std::chrono::steady_clock::duration elapsed) {
  const double frames = FramesPerBuffer * static_cast<double>(state.iterations());
  const double seconds = std::chrono::duration<double>(elapsed).count();
  state.counters["frames_per_s"] = frames / seconds;
  state.counters["ns_per_frame"] = seconds * 1e9 / frames;
  state.counters["x_realtime"] = frames / seconds / 44100.0;
  state.SetBytesProcessed(static_cast<int64_t>(BufferBytes) * state.iterations());
}

void ToneStreamProcFill(benchmark::State& state, WaveShape shape, long double amplitude) {
  InitDDFS();
  OutputWaveShape = shape;
  StreamFrequency = 1000.0L;
  StreamAmplitude = amplitude;
  alignas(64) unsigned char buffer[BufferBytes];
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    benchmark::DoNotOptimize(ToneStreamProc(0, buffer, BufferBytes, nullptr));
    benchmark::ClobberMemory();
  }
  ReportFrames(state, std::chrono::steady_clock::now() - start);
}

void BM_ToneStreamProc_Square(benchmark::State& state) {
  ToneStreamProcFill(state, wsSquare, 1.0L);
}
void BM_ToneStreamProc_Sine(benchmark::State& state) {
  ToneStreamProcFill(state, wsSine, 1.0L);
}
// A factor other than 1.0 takes the extended-precision path; the program never uses it.
void BM_ToneStreamProc_SineHalfAmplitude(benchmark::State& state) {
  ToneStreamProcFill(state, wsSine, 0.5L);
}

void ExactToneFill(benchmark::State& state, const ExactTone& tone) {
  InitDDFS();
  ExactOscillator oscillator;
  oscillator.SetTone(tone);
  alignas(64) unsigned char buffer[BufferBytes];
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    benchmark::DoNotOptimize(ExactToneStreamProc(0, buffer, BufferBytes, &oscillator));
    benchmark::ClobberMemory();
  }
  ReportFrames(state, std::chrono::steady_clock::now() - start);
}

void BM_ExactTone_Square(benchmark::State& state) {
  ExactToneFill(state, {1000.125L, 1000.125L, 0, 100, wsSquare});
}
void BM_ExactTone_Sine(benchmark::State& state) {
  ExactToneFill(state, {1000.125L, 1000.125L, 0, 100, wsSine});
}
// Gated 7.83 times a second, on for a quarter of each gate cycle (or almost all of it), high for
// a quarter of a period.
void BM_ExactTone_SquareGatedDuty(benchmark::State& state) {
  ExactToneFill(state, {1000.125L, 1000.125L, 0, 100, wsSquare, 7830, 25, 25});
}
void BM_ExactTone_SquareGatedOn99Duty(benchmark::State& state) {
  ExactToneFill(state, {1000.125L, 1000.125L, 0, 100, wsSquare, 7830, 99, 25});
}
// Just below half the carrier: an edge every 44 frames.
void BM_ExactTone_SineGatedFast(benchmark::State& state) {
  ExactToneFill(state, {1000.125L, 1000.125L, 0, 100, wsSine, 499999, 50});
}
// A glide over a day's frames, so that it goes on for the whole measurement, at half level.
void BM_ExactTone_SineGlideHalfLevel(benchmark::State& state) {
  ExactToneFill(state, {100.0L, 20000.0L, 86400ull * 44100, 50, wsSine});
}

void BM_Memcpy(benchmark::State& state) {
  alignas(64) unsigned char source[BufferBytes];
  alignas(64) unsigned char target[BufferBytes];
  std::memset(source, 0x5A, sizeof source);
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    benchmark::DoNotOptimize(source);
    std::memcpy(target, source, BufferBytes);
    benchmark::DoNotOptimize(target);
    benchmark::ClobberMemory();
  }
  ReportFrames(state, std::chrono::steady_clock::now() - start);
}

BENCHMARK(BM_ToneStreamProc_Square);
BENCHMARK(BM_ToneStreamProc_Sine);
BENCHMARK(BM_ToneStreamProc_SineHalfAmplitude);
BENCHMARK(BM_ExactTone_Square);
BENCHMARK(BM_ExactTone_SineGlideHalfLevel);
BENCHMARK(BM_ExactTone_Sine);
BENCHMARK(BM_ExactTone_SquareGatedDuty);
BENCHMARK(BM_ExactTone_SquareGatedOn99Duty);
BENCHMARK(BM_ExactTone_SineGatedFast);
BENCHMARK(BM_Memcpy);

}  // namespace

BENCHMARK_MAIN();
