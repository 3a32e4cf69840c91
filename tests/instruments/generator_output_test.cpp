// The generator output driven as a run drives it, against each family's emulator: a whole
// program's commands to the digit, glides along their law, gates, pause and skip, the output off
// at every way out, slow and lost replies, a pulled link, a frequency read back wrong.
#include "generator_output.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device_name.h"
#include "generator_emulator.h"
#include "step_player.h"
#include "treatment_run.h"

namespace {

StepRequest Step(long double hertz, int ms, WaveShape shape = wsSine) {
  StepRequest request;
  request.Step.Frequency = hertz;
  request.Shape = shape;
  request.DurationMs = ms;
  return request;
}

StepRequest Square(long double hertz, int ms, int duty, int level) {
  StepRequest request = Step(hertz, ms, wsSquare);
  request.Step.DutyPercent = duty;
  request.Step.Level = level;
  return request;
}

StepRequest Glide(long double from, long double to, int ms, bool exponential) {
  StepRequest request = Step(from, ms);
  request.Step.EndFrequency = to;
  request.Step.ExponentialGlide = exponential;
  return request;
}

StepRequest Gated(long double hertz, int ms, int64_t gate_millihertz) {
  StepRequest request = Step(hertz, ms);
  request.Step.GateMillihertz = gate_millihertz;
  return request;
}

// Two steps, the second long enough for a lost link's tries to run out in it.
std::vector<StepRequest> StepsOutlastingRetries() {
  return {Step(1000, 300), Step(2000, 1500)};
}

// Two steps: a sine at full level, then a quarter-duty square at half level.
std::vector<StepRequest> TwoSteps(int first_ms = 300) {
  return {Step(1000, first_ms), Square(2500.5L, 300, 25, 50)};
}

struct Row {
  const char* name;
  EmulatorBehaviour behaviour = {};
  PlayScript script = {};
  // The whole command log, when the row pins it.
  std::vector<std::string> commands = {};
  // The failure the row expects, with a piece of its message.
  StepOutputErrorCode error = StepOutputErrorCode::None;
  std::string error_text = {};
  // The commands starting with this prefix, in order (glides, gates), when the row pins them.
  std::string only_prefix = {};
  std::vector<std::string> only = {};
  bool link_pulled = false;        // the outputs cannot be seen afterwards
  std::string device_prefix = {};  // another name for the emulator's port ("jds10:")
};

// The link pulled after this many commands, during the first step or at its end: the tries run
// out in the second step and the run is told, naming the generator.
Row PulledLink(int after_commands) {
  Row row{"a pulled link"};
  row.behaviour.PullAfterCommands = after_commands;
  row.script.Steps = StepsOutlastingRetries();
  row.error = StepOutputErrorCode::LinkLost;
  row.error_text = "did not come back within 1 s";
  row.link_pulled = true;
  return row;
}

GeneratorSettings TestSettings() {
  GeneratorSettings settings;
  settings.AmplitudeVpp = 2.0;
  settings.OffsetVolts = 0.5;
  settings.RetryMs = 1000;
  settings.RetryIntervalMs = 200;
  return settings;
}

// Plays the row on the emulator and checks it.
void Check(const Row& row, GeneratorEmulator& emulator) {
  SCOPED_TRACE(row.name);
  std::string name = emulator.Name();
  if (!row.device_prefix.empty()) name = row.device_prefix + name.substr(name.find(':') + 1);
  DeviceName device;
  std::string why;
  ASSERT_TRUE(ParseDeviceName(name, &device, &why)) << why;
  PlayResult result;
  {
    GeneratorOutput output(GeneratorDriver::Make(device), TestSettings());
    result = PlaySteps(output, row.script);
  }
  EXPECT_EQ(result.Error.Code, row.error) << result.Error.Message;
  EXPECT_EQ(result.Completed, row.error == StepOutputErrorCode::None && row.script.EndRunAtMs < 0);
  if (row.error == StepOutputErrorCode::LinkLost) {
    // Named, and only after the tries (the link was lost after the first step began).
    EXPECT_NE(result.Error.Message.find(emulator.Name()), std::string::npos);
    ASSERT_FALSE(result.StepStartsMs.empty());
    EXPECT_GE(result.FailedAtMs - result.StepStartsMs.front(), TestSettings().RetryMs - 50);
  }
  if (!row.error_text.empty()) {
    EXPECT_NE(result.Error.Message.find(row.error_text), std::string::npos) << result.Error.Message;
    EXPECT_FALSE(result.Error.Advice.empty());
  }
  const std::vector<std::string> commands = emulator.Commands();
  if (!row.commands.empty()) {
    EXPECT_EQ(commands, row.commands);
  }
  if (!row.only_prefix.empty()) {
    std::vector<std::string> only;
    for (const std::string& command : commands) {
      if (command.rfind(row.only_prefix, 0) == 0) only.push_back(command);
    }
    EXPECT_EQ(only, row.only);
  }
  if (!row.link_pulled) {
    // Whatever happened, the generator is left silent.
    EXPECT_FALSE(emulator.Channel(1).On);
    EXPECT_FALSE(emulator.Channel(2).On);
  }
}

const std::vector<std::string> kFyOff = {"WMN0", "WFN0"};

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> joined;
  for (const auto& part : parts) joined.insert(joined.end(), part.begin(), part.end());
  return joined;
}

// Opening, and the first step (a sine at 1000 Hz) set up, checked and sounding.
const std::vector<std::string> kFyFirstStep = Join({
    {"UMO", "UVE"},
    kFyOff,
    {"WMW00", "WMF00001000000000", "WMA2.0000", "WMO0.500", "WMP0.000"},
    {"WFW00", "WFF00001000000000", "WFA2.0000", "WFO0.500", "WFP180.000"},
    {"RMF", "WMN1", "WFN1"},
});

const std::vector<std::string> kFyTwoSteps = Join({
    kFyFirstStep,
    kFyOff,
    {"WMW01", "WMF00002500500000", "WMA1.0000", "WMO0.500", "WMD25.0", "WMP0.000"},
    {"WFW01", "WFF00002500500000", "WFA1.0000", "WFO0.500", "WFD25.0", "WFP180.000"},
    {"WMN1", "WFN1"},
    kFyOff,
    kFyOff,
});

TEST(GeneratorOutput, PlaysTheFy6x00Table) {
  const std::vector<Row> rows = {
      {"a whole program", {}, {TwoSteps()}, kFyTwoSteps},
      // Skip changes when the next step starts, not what it sends.
      {"skip", {}, {TwoSteps(5000), 300}, kFyTwoSteps},
      {.name = "a pause and resume",
       .script = {{Step(1000, 600)}, -1, 200, 300},
       .commands = Join({kFyFirstStep,
                         kFyOff,
                         {"WMF00001000000000", "WFF00001000000000", "WMN1", "WFN1"},
                         kFyOff,
                         kFyOff})},
      // Four even steps (a frequency takes two commands of up to 250 ms), halfway between points.
      {.name = "a linear glide",
       .script = {{Glide(1000, 2000, 2000, false)}},
       .only_prefix = "WMF",
       .only = {"WMF00001000000000", "WMF00001250000000", "WMF00001500000000", "WMF00001750000000",
                "WMF00002000000000"}},
      {.name = "an exponential glide",
       .script = {{Glide(100, 1600, 2000, true)}},
       .only_prefix = "WMF",
       .only = {"WMF00000100000000", "WMF00000200000000", "WMF00000400000000", "WMF00000800000000",
                "WMF00001600000000"}},
      // On for the first half of each second: off at 0.5 s and 1.5 s, on again at 1 s.
      {.name = "a gate of 1 Hz",
       .script = {{Gated(1000, 1800, 1000)}},
       .only_prefix = "WMN",
       .only = {"WMN0", "WMN1", "WMN0", "WMN1", "WMN0", "WMN0"}},
      {.name = "a gate faster than the outputs switch",
       .script = {{Gated(1000, 1000, 5000)}},
       .error = StepOutputErrorCode::CannotPlay,
       .error_text = "at most 2 Hz",
       .only_prefix = "WMN",
       .only = {"WMN0", "WMN0", "WMN0"}},
      {.name = "a firmware that reads WMF as hertz",
       .behaviour = {.WmfAsHertz = true},
       .script = {TwoSteps()},
       .error = StepOutputErrorCode::ReadBack,
       .error_text = "was set to 1000 Hz but reads back 60000000 Hz",
       .only_prefix = "WMN",
       .only = {"WMN0", "WMN0", "WMN0"}},
      // The reply to WMA is lost once: the link is opened again and the step set up afresh.
      {.name = "a reply that never comes",
       .behaviour = {.SilentPrefix = "WMA", .SilentCount = 1},
       .script = {TwoSteps(1000)},
       .only_prefix = "UMO",
       .only = {"UMO", "UMO"}},
      {.name = "slow replies",
       .behaviour = {.ReplyDelayMs = 40},
       .script = {{Step(1000, 300)}},
       .only_prefix = "WMN",
       .only = {"WMN0", "WMN1", "WMN0", "WMN0"}},
      // Pulled after the first step's outputs went on; its end finds the link gone.
      PulledLink(17),
      // The run's owner lets the output go in the middle of a step.
      {.name = "destroyed while sounding",
       .script = {{Step(1000, 5000)}, -1, -1, 0, 300},
       .only_prefix = "WMN",
       .only = {"WMN0", "WMN1", "WMN0"}},
  };
  for (const Row& row : rows) {
    FyEmulator emulator(row.behaviour);
    Check(row, emulator);
  }
}

const std::vector<std::string> kJdsOff = {":w20=0,0."};

TEST(GeneratorOutput, PlaysTheJds6600Table) {
  const std::vector<std::string> two_steps = Join({
      {":r00=0."},
      kJdsOff,
      {":w21=0.", ":w23=100000,0.", ":w25=2000.", ":w27=1050."},
      {":w22=0.", ":w24=100000,0.", ":w26=2000.", ":w28=1050.", ":w31=1800."},
      {":r23=0.", ":w20=1,1."},
      kJdsOff,
      {":w21=1.", ":w23=250050,0.", ":w25=1000.", ":w27=1050.", ":w29=250."},
      {":w22=1.", ":w24=250050,0.", ":w26=1000.", ":w28=1050.", ":w30=250.", ":w31=1800."},
      {":w20=1,1."},
      kJdsOff,
      kJdsOff,
  });
  const EmulatorBehaviour lower = {.Identity = "80", .RegistersLower = true};
  const std::vector<Row> rows = {
      {"a whole program", {}, {TwoSteps()}, two_steps},
      {"skip", {}, {TwoSteps(5000), 300}, two_steps},
      // 7.835 Hz needs the thousandth: hundredths of a millihertz, unit code 3.
      {.name = "a frequency to the millihertz",
       .script = {{Step(7.835L, 300)}},
       .only_prefix = ":w23",
       .only = {":w23=783500,3."}},
      // Found by its reading of register 23 failing and 13 answering.
      {.name = "a unit numbered 10 lower",
       .behaviour = lower,
       .script = {{Step(1000, 300)}},
       .only_prefix = ":r",
       .only = {":r00=0.", ":r23=0.", ":r13=0.", ":r13=0."}},
      // Told by its name: no probing.
      {.name = "a unit named jds10:",
       .behaviour = lower,
       .script = {{Step(1000, 300)}},
       .only_prefix = ":r",
       .only = {":r00=0.", ":r13=0."},
       .device_prefix = "jds10:"},
      {.name = "a gate faster than the outputs switch",
       .script = {{Gated(1000, 1000, 6000)}},
       .error = StepOutputErrorCode::CannotPlay,
       .error_text = "at most 5 Hz",
       .only_prefix = ":w20",
       .only = {":w20=0,0.", ":w20=0,0.", ":w20=0,0."}},
      {.name = "a reply that never comes",
       .behaviour = {.SilentPrefix = ":w25", .SilentCount = 1},
       .script = {TwoSteps(1000)},
       .only_prefix = ":r00",
       .only = {":r00=0.", ":r00=0."}},
      PulledLink(12),
  };
  for (const Row& row : rows) {
    JdsEmulator emulator(row.behaviour);
    Check(row, emulator);
    if (std::string(row.name) == "a unit numbered 10 lower") {
      // The settings landed where that unit keeps them.
      EXPECT_EQ(emulator.RegisterValue(23), "100000,0");
    }
  }
}

TEST(GeneratorOutput, PlaysTheScpiTable) {
  const std::vector<std::string> off = {"OUTP1 OFF", "OUTP2 OFF", "SYST:ERR?"};
  const std::vector<std::string> two_steps = Join({
      {"*IDN?"},
      off,
      {"SOUR1:APPL:SIN 1000.000,2.0000,0.500,0", "SYST:ERR?"},
      {"SOUR2:APPL:SIN 1000.000,2.0000,0.500,180", "SYST:ERR?"},
      {"SOUR1:FREQ?", "OUTP1 ON", "OUTP2 ON", "SYST:ERR?"},
      off,
      {"SOUR1:APPL:SQU 2500.500,1.0000,0.500,0", "SOUR1:FUNC:SQU:DCYC 25", "SYST:ERR?"},
      {"SOUR2:APPL:SQU 2500.500,1.0000,0.500,180", "SOUR2:FUNC:SQU:DCYC 25", "SYST:ERR?"},
      {"OUTP1 ON", "OUTP2 ON", "SYST:ERR?"},
      off,
      off,
  });
  const std::vector<Row> rows = {
      {"a whole program", {}, {TwoSteps()}, two_steps},
      {"skip", {}, {TwoSteps(5000), 300}, two_steps},
      {.name = "Siglent's commands",
       .behaviour = {.Identity = "Siglent Technologies,SDG1032X,SDG1XABC000000,1.01.01.33R3"},
       .script = {{Square(1000, 300, 30, 100)}},
       .commands = {"*IDN?", "C1:OUTP OFF", "C2:OUTP OFF", "*OPC?",
                    "C1:BSWV WVTP,SQUARE,FRQ,1000.000,AMP,2.0000,OFST,0.500,DUTY,30,PHSE,0",
                    "*OPC?",
                    "C2:BSWV WVTP,SQUARE,FRQ,1000.000,AMP,2.0000,OFST,0.500,DUTY,30,PHSE,180",
                    "*OPC?", "C1:BSWV?", "C1:OUTP ON", "C2:OUTP ON", "*OPC?", "C1:OUTP OFF",
                    "C2:OUTP OFF", "*OPC?", "C1:OUTP OFF", "C2:OUTP OFF", "*OPC?"}},
      // Channel 2's setting is refused: SYST:ERR? says why and nothing sounds.
      {.name = "an error reply",
       .behaviour = {.ErrorPrefix = "SOUR2:APPL"},
       .script = {TwoSteps()},
       .error = StepOutputErrorCode::Refused,
       .error_text = "-222",
       .only_prefix = "OUTP1",
       .only = {"OUTP1 OFF", "OUTP1 OFF", "OUTP1 OFF"}},
      {.name = "a gate faster than the outputs switch",
       .script = {{Gated(1000, 1000, 12000)}},
       .error = StepOutputErrorCode::CannotPlay,
       .error_text = "at most 10 Hz"},
      // The instrument drops the connection and takes a new one: the run goes on.
      {.name = "a dropped connection taken again",
       .behaviour = {.PullAfterCommands = 8, .ReopenAfterPull = true},
       .script = {TwoSteps(1000)},
       .only_prefix = "*IDN?",
       .only = {"*IDN?", "*IDN?"}},
      PulledLink(12),
  };
  for (const Row& row : rows) {
    ScpiEmulator emulator(row.behaviour);
    Check(row, emulator);
  }
}

// Amplitude and offset never beyond the model: the output does not open.
TEST(GeneratorOutput, RefusesVoltsBeyondTheModel) {
  struct Case {
    double amplitude;
    double offset;
    const char* text;
  } cases[] = {
      {25.0, 0.0, "above the 20.000 V"},
      {10.0, 6.0, "range of +-10.000 V"},
      {0.0, 0.0, "above 0 V"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    FyEmulator emulator({});
    DeviceName device;
    std::string why;
    ASSERT_TRUE(ParseDeviceName(emulator.Name(), &device, &why));
    GeneratorSettings settings = TestSettings();
    settings.AmplitudeVpp = c.amplitude;
    settings.OffsetVolts = c.offset;
    GeneratorOutput output(GeneratorDriver::Make(device), settings);
    EXPECT_FALSE(output.Open());
    EXPECT_EQ(output.LastError().Code, StepOutputErrorCode::CannotPlay);
    EXPECT_NE(output.LastError().Message.find(c.text), std::string::npos)
        << output.LastError().Message;
    // Nothing was set.
    for (const std::string& command : emulator.Commands())
      EXPECT_EQ(command.rfind("WM", 0), std::string::npos) << command;
  }
}

// The treatment run on a generator, as the faces drive it: the run's own timing, the generator's
// commands for each step, and the outputs off however the run ends; a lost link ends the run with
// the generator's message and advice.
TEST(GeneratorOutput, ARunOnItLeavesItOffHoweverTheRunEnds) {
  enum class Act { None, Skip, EndProgram, PauseAndResume };
  using RunEnd = TreatmentRun::RunEnd;
  struct Case {
    const char* name;
    EmulatorBehaviour behaviour;
    Act act;  // 100 ms into each step
    RunEnd how;
    std::vector<std::string> frequencies;  // channel 1's
    std::string message = {};
  } cases[] = {
      {"both steps to their end",
       {},
       Act::None,
       RunEnd::Completed,
       {"WMF00001000000000", "WMF00002000000000"}},
      {"both skipped",
       {},
       Act::Skip,
       RunEnd::SkippedThrough,
       {"WMF00001000000000", "WMF00002000000000"}},
      {"the program ended in the first",
       {},
       Act::EndProgram,
       RunEnd::ProgramEnded,
       {"WMF00001000000000"}},
      // A resumed step sets its frequency again.
      {"each paused and resumed",
       {},
       Act::PauseAndResume,
       RunEnd::Completed,
       {"WMF00001000000000", "WMF00001000000000", "WMF00002000000000", "WMF00002000000000"}},
      {"a link pulled in the first step",
       {.PullAfterCommands = 18},
       Act::None,
       RunEnd::Failed,
       {"WMF00001000000000"},
       "did not come back within 1 s"},
  };
  TreatmentProgram program{"Two tones", {}, false};
  for (const auto& [hertz, ms] : {std::pair{1000, 400}, std::pair{2000, 1600}}) {
    TreatmentStep step{static_cast<long double>(hertz), 0, "", std::to_string(hertz) + "HZ"};
    step.DurationMs = ms;
    step.Exact = true;
    step.Shape = wsSine;
    program.Steps.push_back(step);
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FyEmulator emulator(c.behaviour);
    DeviceName device;
    std::string why;
    ASSERT_TRUE(ParseDeviceName(emulator.Name(), &device, &why)) << why;
    GeneratorOutput output(GeneratorDriver::Make(device), TestSettings());
    QTimer step_timer;
    step_timer.setInterval(180000);
    uint32_t stream_handle = 0;
    TreatmentRun run(&step_timer, &stream_handle);
    ASSERT_TRUE(run.UseOutput(&output));
    TreatmentRun::RunResult result;
    QObject::connect(&run, &TreatmentRun::RunEnded,
                     [&result](const TreatmentRun::RunResult& ended) { result = ended; });
    run.Run(program, [&](const TreatmentStep&) {
      QEventLoop loop;
      QObject::connect(&run, &TreatmentRun::StepEnded, &loop, &QEventLoop::quit);
      QTimer::singleShot(100, &loop, [&] {
        if (c.act == Act::Skip) run.EndStepBySkip();
        if (c.act == Act::EndProgram) run.EndProgram();
        if (c.act == Act::PauseAndResume && run.PauseStep()) {
          QTimer::singleShot(100, &loop, [&run] { run.ResumeStep(); });
        }
      });
      loop.exec();
      return true;
    });
    EXPECT_EQ(result.how, c.how);
    std::vector<std::string> frequencies;
    for (const std::string& command : emulator.Commands()) {
      if (command.rfind("WMF", 0) == 0) frequencies.push_back(command);
    }
    EXPECT_EQ(frequencies, c.frequencies);
    if (c.message.empty()) {
      EXPECT_FALSE(emulator.Channel(1).On);
      EXPECT_FALSE(emulator.Channel(2).On);
    } else {
      EXPECT_NE(result.message.toStdString().find(c.message), std::string::npos)
          << result.message.toStdString();
      EXPECT_FALSE(run.OutputError().Advice.empty());
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
