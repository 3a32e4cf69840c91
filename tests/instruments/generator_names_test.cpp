// What needs no generator: device names, the families' number forms, the glide's law, the ports
// listed as generators, and a program file checked against an output's limits.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "device_name.h"
#include "fy_driver.h"
#include "generator_list.h"
#include "generator_output.h"
#include "jds_driver.h"
#include "output_check.h"
#include "scpi_driver.h"
#include "step_output.h"

namespace {

TEST(DeviceNames, ReadsEveryFormAndWritesItBack) {
  struct Case {
    const char* text;
    bool good;
    GeneratorFamily family = GeneratorFamily::Fy;
    const char* path = "";
    const char* host = "";
    int port = 5025;
    int shift = 0;
    const char* written = nullptr;  // DeviceNameText of the result; nullptr: the text itself
  } cases[] = {
      {"fy:/dev/ttyUSB0", true, GeneratorFamily::Fy, "/dev/ttyUSB0", "", 5025, 0, nullptr},
      {"jds:/dev/pts/7", true, GeneratorFamily::Jds, "/dev/pts/7", "", 5025, 0, nullptr},
      {"jds10:/dev/ttyUSB1", true, GeneratorFamily::Jds, "/dev/ttyUSB1", "", 5025, 10, nullptr},
      {"scpi:192.0.2.10", true, GeneratorFamily::Scpi, "", "192.0.2.10", 5025, 0, nullptr},
      {"scpi:192.0.2.10:5025", true, GeneratorFamily::Scpi, "", "192.0.2.10", 5025, 0,
       "scpi:192.0.2.10"},
      {"scpi:sdg.lab:6000", true, GeneratorFamily::Scpi, "", "sdg.lab", 6000, 0, nullptr},
      {"scpi:[2001:db8::5]:6000", true, GeneratorFamily::Scpi, "", "2001:db8::5", 6000, 0, nullptr},
      {"scpi:2001:db8::5", true, GeneratorFamily::Scpi, "", "2001:db8::5", 5025, 0,
       "scpi:[2001:db8::5]"},
      {"scpi:/dev/usbtmc0", true, GeneratorFamily::Scpi, "/dev/usbtmc0", "", 5025, 0, nullptr},
      {"fy:", false},
      {"fy:ttyUSB0", false},
      {"scpi:host:0", false},
      {"scpi:host:70000", false},
      {"scpi:host:", false},
      {"scpi:[::1", false},
      {"usb:/dev/ttyUSB0", false},
      {"Built-in Audio Analog Stereo", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    DeviceName name;
    std::string error;
    ASSERT_EQ(ParseDeviceName(c.text, &name, &error), c.good) << error;
    if (!c.good) {
      EXPECT_NE(error.find(c.text), std::string::npos) << error;
      continue;
    }
    EXPECT_TRUE(LooksLikeGeneratorName(c.text));
    EXPECT_EQ(name.Family, c.family);
    EXPECT_EQ(name.Path, c.path);
    EXPECT_EQ(name.Host, c.host);
    EXPECT_EQ(name.Port, c.port);
    EXPECT_EQ(name.RegisterShift, c.shift);
    EXPECT_EQ(DeviceNameText(name), c.written != nullptr ? c.written : c.text);
  }
}

TEST(GeneratorNumbers, FrequenciesInEachFamilysForm) {
  // FY6x00: 14 digits of microhertz, or hertz with six decimals where the firmware reads so.
  FyModel micro = *FindFyModel("FY6900-60M", "V1.0");
  FyModel point = micro;
  point.HertzWithPoint = true;
  struct FyCase {
    long double hertz;
    const char* micro;
    const char* point;
  } fy[] = {
      {1000.0L, "00001000000000", "1000.000000"},
      {7.83L, "00000007830000", "7.830000"},
      {0.000001L, "00000000000001", "0.000001"},
      {60e6L, "60000000000000", "60000000.000000"},
  };
  for (const FyCase& c : fy) {
    EXPECT_EQ(FyFrequencyText(micro, c.hertz), c.micro);
    EXPECT_EQ(FyFrequencyText(point, c.hertz), c.point);
  }
  // JDS6600: hundredths of a hertz, or of a millihertz when the thousandth matters and fits.
  const JdsModel& jds = *FindJdsModel(60);
  struct JdsCase {
    long double hertz;
    long long value;
    int unit;
  } jdss[] = {
      {257.86L, 25786, 0},
      {1000.0L, 100000, 0},
      {7.835L, 783500, 3},
      {0.001L, 100, 3},
      {79999.999L, 7999999900, 3},
      // Above the millihertz unit's reach the thousandth is rounded to the hundredth.
      {100000.005L, 10000001, 0},
  };
  for (const JdsCase& c : jdss) {
    SCOPED_TRACE(static_cast<double>(c.hertz));
    const JdsFrequency frequency = JdsFrequencyFor(jds, c.hertz);
    EXPECT_EQ(frequency.Value, c.value);
    EXPECT_EQ(frequency.Unit, c.unit);
    long double back = 0.0L;
    ASSERT_TRUE(JdsHertz(frequency.Value, frequency.Unit, &back));
    EXPECT_NEAR(static_cast<double>(back), static_cast<double>(c.hertz), 0.006);
  }
  long double unused = 0.0L;
  EXPECT_FALSE(JdsHertz(100, 5, &unused));
}

TEST(GeneratorNumbers, ModelsAndTheirLimits) {
  EXPECT_EQ(FyNamedMaxFrequency("FY6900-60M"), 60e6L);
  EXPECT_EQ(FyNamedMaxFrequency("FY6800-30M"), 30e6L);
  EXPECT_EQ(FyNamedMaxFrequency("FY6600"), 0.0L);
  EXPECT_EQ(FindFyModel("JDS6600", ""), nullptr);
  EXPECT_EQ(SiglentNamedMaxFrequency("SDG1032X"), 30e6L);
  EXPECT_EQ(SiglentNamedMaxFrequency("SDG2122X"), 120e6L);
  std::string model;
  std::string firmware;
  const ScpiModel* rigol = FindScpiModel(
      "RIGOL TECHNOLOGIES,DG1022 ,DG1D000000001,00.02.00.06.00.02.07", &model, &firmware);
  ASSERT_NE(rigol, nullptr);
  EXPECT_EQ(rigol->Dialect, ScpiDialect::RigolLegacy);
  EXPECT_EQ(firmware, "00.02.00.06.00.02.07");
  const ScpiModel* rigol_z =
      FindScpiModel("Rigol Technologies,DG1022Z,DG1ZA0000,00.01.14", &model, &firmware);
  ASSERT_NE(rigol_z, nullptr);
  EXPECT_EQ(rigol_z->Dialect, ScpiDialect::Rigol);
  EXPECT_EQ(FindScpiModel("Keysight Technologies,33500B,MY0000,1.0", &model, &firmware), nullptr);
  EXPECT_EQ(FindJdsModel(70), nullptr);
}

TEST(GlideLaw, LinearAndExponentialByHand) {
  struct Case {
    long double f0, f1;
    bool exponential;
    long double elapsed, expected;
  } cases[] = {
      {100, 400, false, 0.5L, 250}, {100, 400, true, 0.5L, 200},   {100, 1600, true, 0.25L, 200},
      {400, 100, true, 0.5L, 200},  {400, 100, false, 0.25L, 325}, {100, 400, true, 0, 100},
      {100, 400, true, 1, 400},     {100, 400, false, 1.5L, 400},
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(static_cast<double>(GlideFrequencyAt(c.f0, c.f1, c.exponential, c.elapsed)),
                static_cast<double>(c.expected), 1e-9);
  }
}

TEST(GeneratorList, SerialBridgesAndUsbtmcDevices) {
  const std::vector<SeenSerialPort> ports = {
      {"/dev/ttyS0", 0, 0, false},
      {"/dev/ttyUSB0", 0x1a86, 0x7523, true},
      {"/dev/ttyACM0", 0x2341, 0x0043, true},
  };
  const std::vector<ListedGenerator> found = GeneratorsAmong(ports, {"/dev/usbtmc0"});
  std::vector<std::string> names;
  for (const ListedGenerator& generator : found) names.push_back(generator.Name);
  EXPECT_EQ(names,
            (std::vector<std::string>{"fy:/dev/ttyUSB0", "jds:/dev/ttyUSB0", "scpi:/dev/usbtmc0"}));
  EXPECT_NE(found[0].Description.find("1a86:7523"), std::string::npos);
}

TEST(ProgramCheck, NamesTheStepsAnOutputCannotPlay) {
  OutputLimits limits;
  limits.Name = "fy:/dev/ttyUSB0 (FY6900-60M)";
  limits.MaxFrequency = 5000;
  limits.MaxGateHertz = 2;
  const std::string text =
      "zelkgen program: Check\n"
      "# a comment\n"
      "repeat 2\n"
      "728\n"
      "  6000 \"ünder\" 90s\n"
      "1000 gate 7.83 on 25%\n"
      "100 -> 5000.5 \"gate é\" 10s gate 1\n"
      "880 \"ü\" GATE 3\n";
  const std::vector<std::string> expected = {
      "p.zelkgen:5:3: 6000 Hz is above the 5000 Hz fy:/dev/ttyUSB0 (FY6900-60M) can play",
      "p.zelkgen:6:6: a gate of 7.83 Hz is faster than fy:/dev/ttyUSB0 (FY6900-60M) can switch "
      "its output on and off (at most 2 Hz)",
      "p.zelkgen:7:1: 5000.5 Hz is above the 5000 Hz fy:/dev/ttyUSB0 (FY6900-60M) can play",
      "p.zelkgen:8:9: a gate of 3 Hz is faster than fy:/dev/ttyUSB0 (FY6900-60M) can switch "
      "its output on and off (at most 2 Hz)",
  };
  EXPECT_EQ(CheckProgramForOutput(text, "p.zelkgen", limits), expected);
  // A file with errors of its own gives those, as its check does.
  const std::vector<std::string> broken =
      CheckProgramForOutput("zelkgen program: X\n728 lots\n", "p.zelkgen", limits);
  ASSERT_EQ(broken.size(), 1u);
  EXPECT_EQ(broken[0].rfind("p.zelkgen:2:5: ", 0), 0u) << broken[0];
  // An output that follows no gate says so.
  limits.MaxGateHertz = 0;
  const std::vector<std::string> sound =
      CheckProgramForOutput("zelkgen program: X\n728 gate 1\n", "p.zelkgen", limits);
  ASSERT_EQ(sound.size(), 1u);
  EXPECT_EQ(sound[0], "p.zelkgen:2:5: fy:/dev/ttyUSB0 (FY6900-60M) cannot follow a gate");
}

// What every model of a family takes, before the generator is asked: 20 V peak to peak and
// +-10 V in all, and an offset that is not a number refused like one out of range.
TEST(GeneratorSettingsCheck, AmplitudeAndOffsetWithinEveryModelOfTheFamily) {
  const struct {
    GeneratorFamily family;
    double amplitude, offset;
    const char* problem;  // the start of it; "" for none
  } cases[] = {
      {GeneratorFamily::Fy, 1.0, 0.0, ""},
      {GeneratorFamily::Jds, 20.0, 0.0, ""},
      {GeneratorFamily::Scpi, 4.0, 8.0, ""},
      {GeneratorFamily::Fy, 20.5, 0.0,
       "an amplitude of 20.500 V peak to peak is above the 20.000 V"},
      {GeneratorFamily::Jds, 4.0, 8.5,
       "an offset of 8.500 V with 4.000 V peak to peak goes beyond"},
      {GeneratorFamily::Scpi, 0.0, 0.0, "the amplitude must be above 0 V"},
      {GeneratorFamily::Fy, 1.0, std::nan(""), "the offset must be a number of volts"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.amplitude) + " V, offset " + std::to_string(c.offset));
    GeneratorSettings settings;
    settings.AmplitudeVpp = c.amplitude;
    settings.OffsetVolts = c.offset;
    const GeneratorIdentity family = FamilyIdentity(c.family);
    const std::string problem = AmplitudeProblem(family, settings, family.Model);
    EXPECT_EQ(problem.rfind(c.problem, 0), 0u) << problem;
    EXPECT_EQ(problem.empty(), *c.problem == '\0') << problem;
  }
}

}  // namespace
