// The real program's command line: what it prints and the status it ends with, with and without
// a display, and Qt's own options still reaching the window.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "scratch_dir.h"

namespace {

using namespace std::chrono_literals;

// A runtime folder of the tests' own: the window's one-copy lock never meets a copy the user
// runs.
const ScratchDir kRuntimeDir("zelkgen-runtime-");

// No display of any kind and no sound: what a login over SSH without X forwarding gives.
const std::vector<std::string> kNoDisplay = {
    "DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=", "SDL_AUDIODRIVER=dummy",
    "XDG_RUNTIME_DIR=" + kRuntimeDir.Path().string()};

size_t Lines(const std::string& text) {
  size_t lines = 0;
  for (char c : text) lines += c == '\n';
  return lines;
}

struct CommandCase {
  const char* name;
  std::vector<std::string> arguments;
  std::vector<std::string> environment;
  int status;
  std::string out_starts;  // what standard output begins with
  std::string out_has;
  std::string err_starts;  // what standard error begins with
  size_t err_lines;
};

TEST(CommandLine, EachOptionPrintsAndEndsWithItsStatus) {
  const std::string no_display_line = "zelkgen: cannot open a display (";
  const std::string bad_settings = (kRuntimeDir.Path() / "bad.tonegen").string();
  std::ofstream(bad_settings) << "object ToneGen1: TToneGen\n  Bogus = 1\nend\n";
  const std::vector<CommandCase> cases = {
      {"help", {"--help"}, kNoDisplay, 0, "Usage: zelkgen", "--export <file>", "", 0},
      {"help on the player",
       {"--help"},
       kNoDisplay,
       0,
       "Usage: zelkgen",
       "--play <zelk|bx|file>",
       "",
       0},
      {"version",
       {"--version"},
       kNoDisplay,
       0,
       "zelkgen " ZELKGEN_EXPECTED_VERSION "\n",
       "",
       "",
       0},
      {"unknown option", {"--bogus"}, {}, 2, "", "", "zelkgen: Unknown option 'bogus'", 2},
      {"argument", {"stray"}, {}, 2, "", "", "zelkgen: cannot open 'stray'", 2},
      {"two arguments", {"/", "stray"}, {}, 2, "", "", "zelkgen: unexpected argument 'stray'", 2},
      {"check without files", {"--check"}, {}, 2, "", "", "zelkgen: --check needs", 2},
      {"print an unknown program",
       {"--print-program", "cx"},
       {},
       2,
       "",
       "",
       "zelkgen: unknown program 'cx'",
       2},
      {"export without program", {"--export", "x.flac"}, {}, 2, "", "", "zelkgen: --program", 2},
      {"unknown program",
       {"--export", "x.flac", "--program", "cx"},
       {},
       2,
       "",
       "",
       "zelkgen: unknown program 'cx'",
       2},
      {"program without a mode", {"--program", "bx"}, {}, 2, "", "", "zelkgen: --program", 2},
      {"unknown program to play",
       {"--play", "cx"},
       {},
       2,
       "",
       "",
       "zelkgen: unknown program 'cx'",
       2},
      {"two programs to play",
       {"--play", "bx", "--program", "zelk"},
       {},
       2,
       "",
       "",
       "zelkgen: --play takes the program itself",
       2},
      {"device left empty",
       {"--play", "bx", "--device", ""},
       {},
       2,
       "",
       "",
       "zelkgen: --device needs the name of an output\n",
       2},
      {"volts without a generator",
       {"--play", "bx", "--amplitude", "2"},
       {},
       2,
       "",
       "",
       "zelkgen: --amplitude and --offset go with --play and a signal generator's --device\n",
       2},
      {"volts that are no number",
       {"--play", "bx", "--device", "fy:/dev/null", "--offset", "1,5"},
       {},
       2,
       "",
       "",
       "zelkgen: --offset takes volts, such as 2.5 (not '1,5')\n",
       2},
      {"no display", {}, kNoDisplay, 1, "", "", no_display_line, 1},
      {"tone help",
       {"tone", "--help"},
       kNoDisplay,
       0,
       "Usage: zelkgen tone",
       "--am <LEVEL,AMPLITUDE,WAVEFORM,VALUE>",
       "",
       0},
      {"tone played", {"tone", "--play", "--duration", "10"}, kNoDisplay, 0, "", "", "", 0},
      {"tone without an action",
       {"tone", "--frequency", "500"},
       {},
       2,
       "",
       "",
       "zelkgen: one of --export FILE.wav, --play or --save-settings FILE is needed\n",
       2},
      {"tone frequency out of range",
       {"tone", "--frequency", "25000", "--play"},
       {},
       2,
       "",
       "",
       "zelkgen: --frequency '25000': allowed are whole numbers from 20 to 20000 (hertz)\n",
       2},
      {"tone fractional frequency without --clean",
       {"tone", "--frequency", "440.5", "--play"},
       {},
       2,
       "",
       "",
       "zelkgen: --frequency '440.5': allowed are whole numbers from 20 to 20000 (hertz)\n",
       2},
      {"tone clean frequency out of range",
       {"tone", "--clean", "--frequency", "19.99", "--play"},
       {},
       2,
       "",
       "",
       "zelkgen: --frequency '19.99': allowed are numbers from 20 to 20000 (hertz)\n",
       2},
      {"tone duration too short",
       {"tone", "--duration", "9", "--play"},
       {},
       2,
       "",
       "",
       "zelkgen: --duration '9': allowed are whole numbers from 10 to 32767 (milliseconds)\n",
       2},
      {"tone percent not a number",
       {"tone", "--sustain", "5.5", "--play"},
       {},
       2,
       "",
       "",
       "zelkgen: --sustain '5.5': allowed are whole numbers from 0 to 100 (percent)\n",
       2},
      {"tone unknown waveform",
       {"tone", "--waveform", "saw", "--play"},
       {},
       2,
       "",
       "",
       "zelkgen: --waveform 'saw': allowed are sine, square, triangle, sawtooth, noise\n",
       2},
      {"tone bad note",
       {"tone", "--note", "H", "--play"},
       {},
       2,
       "",
       "",
       "zelkgen: --note 'H': ",
       2},
      {"tone note above 20000 hertz",
       {"tone", "--note", "O9E", "--play"},
       {},
       2,
       "",
       "",
       "zelkgen: --note 'O9E': allowed are note names from 20 to 20000 hertz",
       2},
      {"tone note with more octave marks than octaves",
       {"tone", "--note", ">>>>>>C", "--play"},
       {},
       2,
       "",
       "",
       "zelkgen: --note '>>>>>>C': the octave marks < and > lead outside the octaves 0 to 9",
       2},
      {"tone frequency and note",
       {"tone", "--frequency", "500", "--note", "A", "--play"},
       {},
       2,
       "",
       "",
       "zelkgen: only one of --frequency and --note",
       2},
      {"tone extra tone with three values",
       {"tone", "--am", "2,30,square", "--play"},
       {},
       2,
       "",
       "",
       "zelkgen: --am '2,30,square': allowed is LEVEL,AMPLITUDE,WAVEFORM,VALUE",
       2},
      {"tone extra tone level 9",
       {"tone", "--am", "9,30,square,1.5", "--play"},
       {},
       2,
       "",
       "",
       "zelkgen: --am '9,30,square,1.5': LEVEL '9': allowed are whole numbers from 1 to 8\n",
       2},
      {"tone extra tone above 20000 hertz as a factor",
       {"tone", "--am", "2,30,square,50", "--play"},
       {},
       2,
       "",
       "",
       "zelkgen: --am '2,30,square,50': VALUE '50': allowed are factors from 0.0454545 to "
       "45.4545 at 440 hertz (20 to 20000 hertz)\n",
       2},
      {"tone extra tone below 20 hertz in hertz",
       {"tone", "--am-hertz", "--am", "1,10,sine,19.5", "--play"},
       {},
       2,
       "",
       "",
       "zelkgen: --am '1,10,sine,19.5': VALUE '19.5': allowed are 20 to 20000",
       2},
      {"tone volume with one value",
       {"tone", "--volume", "50", "--play"},
       {},
       2,
       "",
       "",
       "zelkgen: --volume '50': allowed are LEFT,RIGHT",
       2},
      {"tone export other than wav",
       {"tone", "--export", "x.flac"},
       {},
       2,
       "",
       "",
       "zelkgen: --export 'x.flac': allowed are file names ending in .wav",
       2},
      {"tone loop without play",
       {"tone", "--loop", "--export", "x.wav"},
       {},
       2,
       "",
       "",
       "zelkgen: --loop goes with --play\n",
       2},
      {"tone two actions",
       {"tone", "--play", "--export", "x.wav"},
       {},
       2,
       "",
       "",
       "zelkgen: only one of --export, --play and --save-settings",
       2},
      {"tone settings missing",
       {"tone", "--settings", "missing.tonegen", "--play"},
       {},
       1,
       "",
       "",
       "zelkgen: cannot read 'missing.tonegen': No such file or directory\n",
       1},
      {"tone settings with an error",
       {"tone", "--settings", bad_settings, "--play"},
       {},
       1,
       "",
       "",
       "zelkgen: " + bad_settings + ": line 2: unknown property \"Bogus\"\n",
       1},
      {"display that does not answer",
       {},
       {"DISPLAY=:9999", "WAYLAND_DISPLAY=", "XDG_RUNTIME_DIR=" + kRuntimeDir.Path().string()},
       1,
       "",
       "",
       no_display_line,
       1},
  };
  ScratchDir scratch;
  ASSERT_TRUE(scratch.Created());
  for (const CommandCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> argv = {ZELKGEN_PROGRAM};
    argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
    const ProgramRun run = RunProgram(argv, c.environment, scratch.Path().string());
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_EQ(run.out.rfind(c.out_starts, 0), 0u) << run.out;
    EXPECT_NE(run.out.find(c.out_has), std::string::npos) << run.out;
    EXPECT_EQ(run.err.rfind(c.err_starts, 0), 0u) << run.err;
    EXPECT_EQ(Lines(run.err), c.err_lines) << run.err;
  }
}

TEST(CommandLine, ProgramFilesAreCheckedPlayedOnlyWhenGoodAndListedFromTheFolders) {
  ScratchDir scratch;
  ASSERT_TRUE(scratch.Created());
  const std::string folder = scratch.Path().string();
  const ProgramRun printed = RunProgram({ZELKGEN_PROGRAM, "--print-program", "bx"}, {}, folder);
  ASSERT_EQ(printed.status, 0);
  const std::string good = folder + "/bx.zelkgen", bad = folder + "/bad.zelkgen";
  std::ofstream(good) << printed.out;
  // A file is written back as read, its gate and duty with it.
  const std::string gated = folder + "/gated.zelkgen";
  std::ofstream(gated) << "zelkgen program: G\n728 3s  gate 7.83 on 25%\n1000 2s square duty 25%\n";
  const ProgramRun reprinted = RunProgram({ZELKGEN_PROGRAM, "--print-program", gated}, {}, folder);
  EXPECT_EQ(reprinted.status, 0) << reprinted.err;
  EXPECT_NE(reprinted.out.find("gate 7.83 on 25%"), std::string::npos) << reprinted.out;
  EXPECT_NE(reprinted.out.find("duty 25%"), std::string::npos) << reprinted.out;
  std::ofstream(bad) << "zelkgen program: Bad\n1e999\nnan 3:00\n440 9\n";
  const ProgramRun passed = RunProgram({ZELKGEN_PROGRAM, "--check", good}, {}, folder);
  EXPECT_EQ(passed.status, 0) << passed.err;
  EXPECT_EQ(passed.out, good + ": BX virus: 2 steps, 6:00\n");
  const ProgramRun failed = RunProgram({ZELKGEN_PROGRAM, "--check", good, bad}, {}, folder);
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.err, bad + ":2:1: a frequency is written out in digits, without an exponent\n" +
                            bad + ":3:1: 'nan' is not a frequency\n" + bad +
                            ":4:5: a duration needs its unit: 90s, 5m, 1h or 1:30\n");
  // A hundred errors of a file at most, then how many more.
  const std::string many = folder + "/many.zelkgen";
  {
    std::ofstream lines(many);
    lines << "zelkgen program: Many\n";
    for (int k = 0; k < 105; ++k) lines << "0\n";
  }
  const ProgramRun capped = RunProgram({ZELKGEN_PROGRAM, "--check", bad, many}, {}, folder);
  EXPECT_EQ(capped.status, 1);
  EXPECT_EQ(Lines(capped.err), 3u + 100u + 1u);
  const std::string last = many + ": and 5 more errors\n";
  ASSERT_GT(capped.err.size(), last.size());
  EXPECT_EQ(capped.err.substr(capped.err.size() - last.size()), last);
  // Nothing plays from a file with errors.
  const ProgramRun play = RunProgram({ZELKGEN_PROGRAM, "--play", bad}, kNoDisplay, folder);
  EXPECT_EQ(play.status, 1);
  EXPECT_EQ(play.out, "");
  EXPECT_EQ(play.err, failed.err);
  // The user's program folder, then the system's; a name in the first hides it in the second.
  for (const char* data : {"/user", "/system"}) {
    std::filesystem::create_directories(folder + data + "/zelkgen/programs");
    std::filesystem::copy_file(good, folder + data + "/zelkgen/programs/bx.zelkgen");
  }
  std::filesystem::copy_file(bad, folder + "/system/zelkgen/programs/bad.zelkgen");
  const ProgramRun list = RunProgram(
      {ZELKGEN_PROGRAM, "--list"},
      {"XDG_DATA_HOME=" + folder + "/user", "XDG_DATA_DIRS=" + folder + "/system"}, folder);
  EXPECT_EQ(list.status, 0);
  // A file goes by its name without folder and extension, unless a built-in has that name.
  const std::string user_bx = folder + "/user/zelkgen/programs/bx.zelkgen";
  const std::string system_bad = folder + "/system/zelkgen/programs/bad.zelkgen";
  EXPECT_EQ(list.out,
            "zelk\tZelk general: 10 steps, 30:00 (built in)\n"
            "bx\tBX virus: 2 steps, 6:00 (built in)\n" +
                user_bx + "\tBX virus: 2 steps, 6:00 (" + user_bx + ")\n" +
                "bad\thas errors (zelkgen --check " + system_bad + " shows them)\n");
  // --play and --export take that name.
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"--play", "bad"},
        std::vector<std::string>{"--export", folder + "/bad.wav", "--program", "bad"}}) {
    std::vector<std::string> argv = {ZELKGEN_PROGRAM};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<std::string> environment = kNoDisplay;
    environment.push_back("XDG_DATA_HOME=" + folder + "/user");
    environment.push_back("XDG_DATA_DIRS=" + folder + "/system");
    const ProgramRun named = RunProgram(argv, environment, "/");
    EXPECT_EQ(named.status, 1) << arguments[0];
    EXPECT_EQ(named.err.rfind(system_bad + ":2:1: a frequency is written out", 0), 0u) << named.err;
  }
}

// --check against the output it will play on: the sound card keeps its 22 050 Hz limit, a
// generator's family its own highest frequency and fastest gate, each step named at its place.
TEST(CommandLine, CheckKnowsTheOutputItWillPlayOn) {
  ScratchDir scratch;
  ASSERT_TRUE(scratch.Created());
  const std::string folder = scratch.Path().string();
  const std::string high = folder + "/high.zelkgen", fast = folder + "/fast.zelkgen";
  std::ofstream(high) << "zelkgen program: High\n30000 2s\n";
  std::ofstream(fast) << "zelkgen program: Fast\n728 2s gate 3\n100 -> 16000000 2s\n";
  const std::string sound_card =
      high + ":2:1: a frequency is below 22050 Hz, half the sample rate\n";
  const std::string high_good = high + ": High: 1 step, 0:02\n";
  const struct {
    std::string file;
    std::vector<std::string> device;
    int status;
    std::string out;
    std::string err;
  } cases[] = {
      {high, {}, 1, "", sound_card},
      {high, {"--device", "Speakers"}, 1, "", sound_card},
      {high, {"--device", "fy:/dev/ttyUSB0"}, 0, high_good, ""},
      {high, {"--device", "jds:/dev/ttyUSB0"}, 0, high_good, ""},
      {high, {"--device", "scpi:192.0.2.10"}, 0, high_good, ""},
      {fast,
       {"--device", "fy:/dev/ttyUSB0"},
       1,
       "",
       fast + ":2:8: a gate of 3 Hz is faster than fy:/dev/ttyUSB0 (FY6x00) can switch its output "
              "on and off (at most 2 Hz)\n"},
      {fast,
       {"--device", "jds:/dev/ttyUSB0"},
       1,
       "",
       fast + ":3:1: 16000000 Hz is above the 15000000 Hz jds:/dev/ttyUSB0 (JDS6600) can play\n"},
      {fast, {"--device", "scpi:192.0.2.10:6000"}, 0, fast + ": Fast: 2 steps, 0:04\n", ""},
      {high,
       {"--device", "fy:ttyUSB0"},
       2,
       "",
       "zelkgen: 'fy:ttyUSB0': a serial generator is named by its port's path (/dev/ttyUSB0)\n"
       "Try 'zelkgen --help' for more information.\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> argv = {ZELKGEN_PROGRAM, "--check", c.file};
    argv.insert(argv.end(), c.device.begin(), c.device.end());
    SCOPED_TRACE(testing::PrintToString(argv));
    const ProgramRun run = RunProgram(argv, kNoDisplay, folder);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
  }
}

// Whatever a program file turns out to be, every route answers at once: a named pipe or a device
// is refused as "not a regular file" (Ctrl+C and SIGTERM would not reach a process blocked in
// open), a name that is not UTF-8 opens (and is remembered whole), and "-" is standard input for
// --check alone. The window
// gets such a file as its argument, from a second start and as the output it remembers in its
// state folder (the file itself a pipe, or a link to one), and still ends at once on SIGTERM.
TEST(CommandLine, SpecialFilesAreRefusedAtOnceOnEveryRouteAndNamesAreBytes) {
  ScratchDir scratch;
  ASSERT_TRUE(scratch.Created());
  const std::string folder = scratch.Path().string();
  const std::string pipe = folder + "/pipe.zelkgen", zero = folder + "/zero.zelkgen";
  const std::string odd = folder + "/\xff\xfe.zelkgen";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/zero", zero);
  std::ofstream(odd) << "zelkgen program: Odd\n440 2s\n";
  enum class Face { Command, WindowArgument, SecondStart, RememberedOutput };
  struct Case {
    Face face;
    std::vector<std::string> arguments;  // for the window: the file alone
    int status;
    std::string out;
    std::string err_starts;
    size_t err_lines = 1;
  };
  std::vector<Case> cases;
  for (const std::string& special : {pipe, zero}) {
    const std::string refused = special + ": not a regular file\n";
    cases.push_back({Face::Command, {"--check", special}, 1, "", refused});
    cases.push_back({Face::Command, {"--play", special}, 1, "", refused});
    cases.push_back(
        {Face::Command, {"--export", folder + "/out.wav", "--program", special}, 1, "", refused});
    cases.push_back({Face::Command,
                     {"tone", "--settings", special, "--export", folder + "/out.wav"},
                     1,
                     "",
                     "zelkgen: cannot read '" + special + "': not a regular file\n"});
    cases.push_back({Face::WindowArgument, {special}, 0, "", "", 0});
    cases.push_back({Face::SecondStart, {special}, 0, "", "", 0});
    cases.push_back({Face::RememberedOutput, {special}, 0, "", "", 0});
  }
  cases.push_back({Face::RememberedOutput, {""}, 0, "", "", 0});  // "output" is a pipe itself
  cases.push_back({Face::Command, {"--check", odd}, 0, odd + ": Odd: 1 step, 0:02\n", "", 0});
  cases.push_back({Face::WindowArgument, {odd}, 0, "", "", 0});
  cases.push_back({Face::SecondStart, {odd}, 0, "", "", 0});
  cases.push_back({Face::Command, {"--check", "-"}, 1, "", "<stdin>:1:1: ", 2});
  cases.push_back({Face::Command, {"--play", "-"}, 2, "", "zelkgen: unknown program '-'", 2});
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.arguments) +
                 (c.face == Face::SecondStart ? " to a second start" : ""));
    std::vector<std::string> argv = {ZELKGEN_PROGRAM};
    if (c.face != Face::Command) {
      argv.insert(argv.end(), {"-platform", "offscreen"});
      if (c.face == Face::WindowArgument) argv.push_back(c.arguments[0]);
      const ScratchDir runtime;
      if (c.face == Face::RememberedOutput) {
        const std::string state = (runtime.Path() / "zelkgen").string();
        ASSERT_EQ(mkdir(state.c_str(), 0700), 0);
        if (c.arguments[0].empty()) {
          ASSERT_EQ(mkfifo((state + "/output").c_str(), 0600), 0);
        } else {
          std::filesystem::create_symlink(c.arguments[0], state + "/output");
        }
      }
      const std::vector<std::string> environment = {"XDG_RUNTIME_DIR=" + runtime.Path().string(),
                                                    "XDG_STATE_HOME=" + runtime.Path().string(),
                                                    "SDL_AUDIODRIVER=dummy"};
      pid_t pid = SpawnChild(argv, environment);
      ASSERT_GT(pid, 0);
      const auto socket = runtime.Path() / "zelkgen.socket";
      const auto until = std::chrono::steady_clock::now() + 10s;
      while (!std::filesystem::exists(socket) && WaitForExit(pid, 10ms) < 0 &&
             std::chrono::steady_clock::now() < until) {
      }
      if (c.face == Face::SecondStart) {
        const ProgramRun second =
            RunProgram({ZELKGEN_PROGRAM, c.arguments[0]}, environment, folder, 5s);
        EXPECT_EQ(second.status, 0) << second.err;
      }
      // Time to open the file; a window blocked in open() would not answer the signal.
      std::this_thread::sleep_for(500ms);
      kill(pid, SIGTERM);
      EXPECT_EQ(WaitForExit(pid, 1000ms), c.status) << "the window did not end at SIGTERM";
      TerminateChild(pid);
      // A good file opened in the window is remembered, by its own bytes.
      const std::string recent = ReadFile(runtime.Path() / "zelkgen/recent-programs");
      EXPECT_EQ(recent.find(c.arguments[0] + "\n") != std::string::npos, c.arguments[0] == odd);
      continue;
    }
    argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
    const auto started = std::chrono::steady_clock::now();
    const ProgramRun run = RunProgram(argv, kNoDisplay, folder, 5s);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err.rfind(c.err_starts, 0), 0u) << run.err;
    EXPECT_EQ(Lines(run.err), c.err_lines) << run.err;
  }
}

TEST(CommandLine, QtPlatformOptionOpensTheWindowWithoutADisplay) {
  pid_t pid =
      SpawnChild({ZELKGEN_PROGRAM, "-platform", "offscreen", "-style", "Fusion"}, kNoDisplay);
  ASSERT_GT(pid, 0);
  const auto until = std::chrono::steady_clock::now() + 60s;
  // The window's end handlers are installed after the windows exist.
  while (!CatchesSignal(pid, SIGTERM) && std::chrono::steady_clock::now() < until) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) FAIL() << "ended before its window opened";
    std::this_thread::sleep_for(10ms);
  }
  kill(pid, SIGTERM);
  EXPECT_EQ(WaitForExit(pid, 30s), 0);
  TerminateChild(pid);
}

}  // namespace
