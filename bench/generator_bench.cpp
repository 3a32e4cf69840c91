// Signal generators on their emulators (tests/instruments): how many commands a second a driver
// gets answered, how many glide updates a second the generator output sends, and how far each
// step's start (its output switched on) lies from the schedule. The emulators answer at once, so
// these are zelkgen's own costs; a real FY6x00 takes up to about 250 ms a command.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "device_name.h"
#include "generator_emulator.h"
#include "generator_output.h"
#include "step_player.h"

namespace {

enum class Family { Fy, Jds, Scpi };

std::unique_ptr<GeneratorEmulator> Emulator(Family family) {
  switch (family) {
    case Family::Fy:
      return std::make_unique<FyEmulator>(EmulatorBehaviour{});
    case Family::Jds:
      return std::make_unique<JdsEmulator>(EmulatorBehaviour{});
    case Family::Scpi:
      break;
  }
  return std::make_unique<ScpiEmulator>(EmulatorBehaviour{});
}

std::unique_ptr<GeneratorDriver> Driver(const GeneratorEmulator& emulator) {
  DeviceName name;
  std::string error;
  ParseDeviceName(emulator.Name(), &name, &error);
  return GeneratorDriver::Make(name);
}

bool IsOn(const std::string& command) {
  return command == "WMN1" || command == ":w20=1,1." || command == "OUTP1 ON";
}

bool IsFrequency(const std::string& command) {
  return command.rfind("WMF", 0) == 0 || command.rfind(":w23=", 0) == 0 ||
         command.rfind("SOUR1:FREQ ", 0) == 0;
}

int64_t SteadyNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// One frequency command and its reply (SCPI: with its *OPC?/SYST:ERR? query) per item.
void CommandsPerSecond(benchmark::State& state, Family family) {
  const std::unique_ptr<GeneratorEmulator> emulator = Emulator(family);
  const std::unique_ptr<GeneratorDriver> driver = Driver(*emulator);
  if (!driver->Connect()) return state.SkipWithError(driver->Error().Message.c_str());
  long double hertz = 1000.0L;
  for (auto _ : state) {
    if (!driver->SetFrequency(1, hertz))
      return state.SkipWithError(driver->Error().Message.c_str());
    hertz += 0.001L;
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["commands_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// A glide of two seconds on both channels, then five steps of 200 ms: the glide's updates a
// second as sent, and each step's start error against the schedule.
void GlideAndStepStarts(benchmark::State& state, Family family) {
  for (auto _ : state) {
    const std::unique_ptr<GeneratorEmulator> emulator = Emulator(family);
    GeneratorOutput output(Driver(*emulator));
    PlayScript script;
    StepRequest glide;
    glide.Step.Frequency = 1000;
    glide.Step.EndFrequency = 2000;
    glide.Shape = wsSine;
    glide.DurationMs = 2000;
    script.Steps.push_back(glide);
    for (int i = 0; i < 5; ++i) {
      StepRequest step;
      step.Step.Frequency = 100 + 100 * i;
      step.Shape = wsSine;
      step.DurationMs = 200;
      script.Steps.push_back(step);
    }
    const int64_t player_start_ns = SteadyNs();
    const PlayResult result = PlaySteps(output, script);
    if (!result.Completed) return state.SkipWithError(result.Error.Message.c_str());
    // The glide's updates: its frequency commands after the first, within its two seconds.
    const std::vector<LoggedCommand> log = emulator->Log();
    const int64_t offset_ms = (emulator->StartNs() - player_start_ns) / 1000000;
    int updates = 0;
    bool first = true;
    std::vector<int64_t> starts;
    for (const LoggedCommand& entry : log) {
      const int64_t at = entry.Ms + offset_ms;
      if (IsFrequency(entry.Text) && at < result.StepStartsMs[0] + glide.DurationMs) {
        if (!first) ++updates;
        first = false;
      }
      if (IsOn(entry.Text)) starts.push_back(at);
    }
    double worst = 0.0;
    double sum = 0.0;
    int64_t scheduled = result.StepStartsMs[0];
    for (size_t i = 0; i < starts.size() && i < script.Steps.size(); ++i) {
      const double error = static_cast<double>(starts[i] - scheduled);
      worst = std::max(worst, std::fabs(error));
      sum += std::fabs(error);
      scheduled += script.Steps[i].DurationMs;
    }
    state.counters["glide_updates_per_s"] = updates / (glide.DurationMs / 1000.0);
    state.counters["start_error_ms_mean"] = starts.empty() ? 0.0 : sum / starts.size();
    state.counters["start_error_ms_worst"] = worst;
  }
}

}  // namespace

BENCHMARK_CAPTURE(CommandsPerSecond, fy, Family::Fy)->UseRealTime();
BENCHMARK_CAPTURE(CommandsPerSecond, jds, Family::Jds)->UseRealTime();
BENCHMARK_CAPTURE(CommandsPerSecond, scpi, Family::Scpi)->UseRealTime();
BENCHMARK_CAPTURE(GlideAndStepStarts, fy, Family::Fy)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(GlideAndStepStarts, jds, Family::Jds)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(GlideAndStepStarts, scpi, Family::Scpi)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
