// Reading a program file of the most steps allowed, 10 000 written as people write them (decimals,
// glides, durations in each form, levels, labels, comments; short steps, to stay within a day),
// against the target of 50 ms. Prints the time per parse and the file's size.
#include <benchmark/benchmark.h>

#include <string>

#include "program_file.h"

namespace {

std::string LargestProgram() {
  static const char* const kLines[] = {
      "728 5s\n",         "7.83 9s sine 50% \"Schumann\"   # a comment\n",
      "432.125hz 0:08\n", "100 -> 200.5 1.5s square \"Rising\"\n",
      "528 5s 80%\n",
  };
  std::string text = "zelkgen program: Ten thousand steps\n# Benchmark input\nshape sine\n";
  for (int k = 0; k < 10000; ++k) text += kLines[k % 5];
  return text;
}

void BM_ParseTenThousandSteps(benchmark::State& state) {
  const std::string text = LargestProgram();
  for (auto _ : state) {
    ParsedProgram parsed = ParseProgramText(text);
    if (!parsed.errors.empty() || parsed.program.Steps.size() != 10000) {
      state.SkipWithError("the benchmark's program does not parse");
      break;
    }
    benchmark::DoNotOptimize(parsed);
  }
  state.counters["file_bytes"] = static_cast<double>(text.size());
  state.counters["target_ms"] = 50;
}

}  // namespace

BENCHMARK(BM_ParseTenThousandSteps)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
