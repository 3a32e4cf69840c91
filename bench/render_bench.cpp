// Rendering figures for the tone generator: the largest image (Duration 32767, 16-bit, 96000
// frames per second, stereo, main tone and all eight AM levels sounding, enveloped; target 100 ms
// or less, against about 0.81 s that sox needs for the same nine sines) and the default 100 ms
// tone. Peak memory of the process is reported as the counter peak_rss_MiB.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "wave_render.h"

namespace {

double PeakResidentMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB
}

void RenderInto(benchmark::State& state, const ToneSettings& settings, bool enveloped) {
  std::vector<uint8_t> image(static_cast<size_t>(WaveImageSize(settings)));
  for (auto _ : state) {
    RenderWaveImage(settings, enveloped, image.data());
    benchmark::DoNotOptimize(image.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(image.size()));
  state.counters["image_MiB"] = static_cast<double>(image.size()) / (1024.0 * 1024.0);
  state.counters["peak_rss_MiB"] = PeakResidentMiB();
}

void BM_LargestImage(benchmark::State& state) {
  ToneSettings s;
  s.Duration = 32767;
  s.Resolution = tg16Bit;
  s.Quality = tgHiQ;
  s.Stereo = true;
  s.FAMAmplitudes = {10, 10, 10, 10, 10, 10, 10, 10};  // the main tone keeps 20
  s.FAMWaveforms = {tgSine, tgSine, tgSine, tgSine, tgSine, tgSine, tgSine, tgSine};
  RenderInto(state, s, true);
}
BENCHMARK(BM_LargestImage)->Unit(benchmark::kMillisecond);

// The same with a mixed set of waveforms, noise included.
void BM_LargestImageMixedWaves(benchmark::State& state) {
  ToneSettings s;
  s.Duration = 32767;
  s.Stereo = true;
  s.Waveform = tgTriangle;
  s.FAMAmplitudes = {10, 10, 10, 10, 10, 10, 10, 10};
  s.FAMWaveforms = {tgSine, tgSquare, tgTriangle, tgSawtooth, tgNoise, tgSine, tgSquare, tgSine};
  RenderInto(state, s, true);
}
BENCHMARK(BM_LargestImageMixedWaves)->Unit(benchmark::kMillisecond);

// As the component does it: a new block for every rendering, its pages touched for the first
// time by the rendering.
void BM_LargestImageFreshBlock(benchmark::State& state) {
  ToneSettings s;
  s.Duration = 32767;
  s.Stereo = true;
  s.FAMAmplitudes = {10, 10, 10, 10, 10, 10, 10, 10};
  const size_t size = static_cast<size_t>(WaveImageSize(s));
  for (auto _ : state) {
    std::unique_ptr<uint8_t[]> image(new uint8_t[size]);
    RenderWaveImage(s, true, image.get());
    benchmark::DoNotOptimize(image.get());
    benchmark::ClobberMemory();
  }
  state.counters["peak_rss_MiB"] = PeakResidentMiB();
}
BENCHMARK(BM_LargestImageFreshBlock)->Unit(benchmark::kMillisecond);

void BM_DefaultTone(benchmark::State& state) {
  RenderInto(state, ToneSettings{}, false);
}
BENCHMARK(BM_DefaultTone)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
