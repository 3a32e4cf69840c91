// zelkgen tone run as a user would: its exported file holds the bytes the component's own
// ExportFile writes for the same property values, its stored settings read back to the same
// tone with later options overriding them, and a looping tone ends on Ctrl+C. Its usage errors
// are rows of the command-line table (command_line_test.cpp).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "scratch_dir.h"
#include "tone_gen.h"

namespace {

using namespace std::chrono_literals;

const std::vector<std::string> kSilent = {"DISPLAY=", "WAYLAND_DISPLAY=", "SDL_AUDIODRIVER=dummy"};

struct ToneCase {
  const char* name;
  std::vector<std::string> properties;  // the command's property options
  bool envelope;
  std::function<void(TToneGen&)> set;  // the same through the component's setters
};

// The file ExportFile writes for gen's settings.
std::string ComponentExport(TToneGen& gen, bool envelope, const std::filesystem::path& path) {
  EXPECT_TRUE(envelope ? gen.PrepareADSR() : gen.Prepare());
  EXPECT_TRUE(gen.ExportFile(path.string()));
  return ReadFile(path);
}

std::string CommandExport(std::vector<std::string> arguments, const std::filesystem::path& path,
                          const std::filesystem::path& folder) {
  arguments.insert(arguments.begin(), {ZELKGEN_PROGRAM, "tone"});
  arguments.insert(arguments.end(), {"--export", path.string()});
  const ProgramRun run = RunProgram(arguments, kSilent, folder.string());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out + run.err, "");
  return ReadFile(path);
}

TEST(ToneCommand, ExportsTheComponentsBytesAndItsSettingsReadBackWithOverrides) {
  const std::vector<ToneCase> cases = {
      {"defaults", {}, false, [](TToneGen&) {}},
      {"triangle with a square a fifth above, stereo, low quality, enveloped",
       {"--frequency", "330", "--duration", "250", "--waveform", "triangle", "--am",
        "2,30,square,1.5", "--stereo", "--quality", "low"},
       true,
       [](TToneGen& gen) {
         gen.SetFrequency(330);
         gen.SetDuration(250);
         gen.SetWaveform(tgTriangle);
         gen.SetAMParameter(tgAMLevel2, 30, 1.5f, tgSquare);
         gen.SetStereo(true);
         gen.SetQuality(tgLoQ);
       }},
      {"8-bit noise from a note, sustain only",
       {"--note", "C", "--resolution", "8", "--waveform", "noise", "--attack", "0", "--hold", "0",
        "--decay", "0", "--release", "0", "--sustain", "40", "--volume", "30,70"},
       true,
       [](TToneGen& gen) {
         gen.SetNote("C");
         gen.SetResolution(tg8Bit);
         gen.SetWaveform(tgNoise);
         gen.SetAttack(0);
         gen.SetHold(0);
         gen.SetDecay(0);
         gen.SetRelease(0);
         gen.SetSustain(40);
         gen.SetLeftVolume(30);
         gen.SetRightVolume(70);
       }},
      {"extra tones in hertz, one a note",
       {"--am-hertz", "--am", "1,50,sawtooth,880.5", "--am", "8,20,sine,>A"},
       false,
       [](TToneGen& gen) {
         gen.SetAMUseMultiplier(false);
         gen.SetAMParameter(tgAMLevel1, 50, 880.5f, tgSawtooth);
         gen.SetAMParameter(tgAMLevel8, 20, 0.0f, tgSine);
         gen.SetAMNote(tgAMLevel8, ">A");
       }},
      {"clean, a fractional frequency with an extra tone",
       {"--clean", "--frequency", "997.5", "--am", "1,20,triangle,1.5"},
       true,
       [](TToneGen& gen) {
         gen.SetClean(true);
         gen.SetFrequencyHz(997.5);
         gen.SetAMParameter(tgAMLevel1, 20, 1.5f, tgTriangle);
       }},
      {"clean, a note at its exact pitch",
       {"--note", "O0A", "--clean", "--stereo"},
       false,
       [](TToneGen& gen) {
         gen.SetClean(true);
         gen.SetFrequencyHz(27.5);
         gen.SetStereo(true);
       }},
  };
  ScratchDir scratch;
  ASSERT_TRUE(scratch.Created());
  const std::filesystem::path folder = scratch.Path();
  for (const ToneCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> options = c.properties;
    if (c.envelope) options.push_back("--envelope");
    const std::string command = CommandExport(options, folder / "command.wav", folder);
    TToneGen gen(nullptr);
    c.set(gen);
    EXPECT_EQ(command, ComponentExport(gen, c.envelope, folder / "component.wav"));

    // The stored settings, then a later option over them.
    std::vector<std::string> save = {ZELKGEN_PROGRAM, "tone"};
    save.insert(save.end(), c.properties.begin(), c.properties.end());
    save.insert(save.end(), {"--save-settings", (folder / "saved.tonegen").string()});
    const ProgramRun saved = RunProgram(save, kSilent, folder.string());
    ASSERT_EQ(saved.status, 0) << saved.err;
    options = {"--settings", (folder / "saved.tonegen").string(), "--duration", "40"};
    if (c.envelope) options.push_back("--envelope");
    const std::string reread = CommandExport(options, folder / "reread.wav", folder);
    gen.SetDuration(40);
    EXPECT_EQ(reread, ComponentExport(gen, c.envelope, folder / "component.wav"));
  }
}

TEST(ToneCommand, FileNamesThatAreNotUtf8AreKept) {
  ScratchDir scratch;
  ASSERT_TRUE(scratch.Created());
  const std::filesystem::path folder = scratch.Path();
  // Latin-1 names, as an older system wrote them.
  const std::string settings = (folder / "k\xe4se.tonegen").string();
  const ProgramRun saved =
      RunProgram({ZELKGEN_PROGRAM, "tone", "--duration", "40", "--save-settings", settings},
                 kSilent, folder.string());
  ASSERT_EQ(saved.status, 0) << saved.err;
  TToneGen gen(nullptr);
  gen.SetDuration(40);
  EXPECT_EQ(CommandExport({"--settings", settings}, folder / "k\xe4se.wav", folder),
            ComponentExport(gen, false, folder / "component.wav"));
}

TEST(ToneCommand, AnExportThatCannotBeWrittenSaysWhyAndShowsTheNameAsItIs) {
  ScratchDir scratch;
  ASSERT_TRUE(scratch.Created());
  const std::filesystem::path folder = scratch.Path();
  std::filesystem::create_directory(folder / "d.wav");
  const std::string in = folder.string();
  const struct {
    std::string file;
    std::string err;
  } cases[] = {
      {in + "/d.wav", "zelkgen: cannot write '" + in + "/d.wav': Is a directory\n"},
      {in + "/missing/k\xe4se.wav",
       "zelkgen: cannot write '" + in + "/missing/k\\xe4se.wav': No such file or directory\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const ProgramRun run =
        RunProgram({ZELKGEN_PROGRAM, "tone", "--export", c.file}, kSilent, folder.string());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, c.err);
  }
}

TEST(ToneCommand, PlayWithoutAnOutputSaysWhatToCheckAndFails) {
  ScratchDir scratch;
  ASSERT_TRUE(scratch.Created());
  for (const bool loop : {false, true}) {
    SCOPED_TRACE(loop ? "looping" : "once");
    std::vector<std::string> arguments = {ZELKGEN_PROGRAM, "tone", "--play", "--duration", "50"};
    if (loop) arguments.push_back("--loop");
    const ProgramRun run =
        RunProgram(arguments, {"DISPLAY=", "WAYLAND_DISPLAY=", "SDL_AUDIODRIVER=no-such-driver"},
                   scratch.Path().string());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err,
              "zelkgen: the tone could not be played: no sound output could be opened\n"
              "(error code: 1)\n"
              "No sound output could be opened. Check that a sound server is running, that an "
              "output device is connected and switched on, and that it is not muted in the "
              "mixer.\n");
  }
}

TEST(ToneCommand, LoopingToneEndsOnCtrlC) {
  pid_t pid =
      SpawnChild({ZELKGEN_PROGRAM, "tone", "--play", "--loop", "--duration", "50"}, kSilent);
  ASSERT_GT(pid, 0);
  // Still looping long after one tone would have ended, until the signal comes.
  while (!CatchesSignal(pid, SIGINT)) std::this_thread::sleep_for(10ms);
  std::this_thread::sleep_for(600ms);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, WNOHANG), 0) << "ended by itself";
  kill(pid, SIGINT);
  EXPECT_EQ(WaitForExit(pid, 10s), 0);
  TerminateChild(pid);
}

}  // namespace

namespace {

// Every way the program writes a file a user names, into a link another user planted in a
// shared sticky folder (/tmp): refused with status 1 and the link named, the file it points to
// untouched. Run as two ordinary users made for the test.
TEST(ToneCommand, EveryWriteRefusesALinkAnotherUserPlantedInASharedFolder) {
  const OrdinaryUser owner("w"), other("x");
  if (!owner.Made() || !other.Made()) GTEST_SKIP() << owner.Why() << other.Why();
  const ScratchDir scratch;
  ASSERT_TRUE(scratch.Created());
  chmod(scratch.Path().c_str(), 0755);
  const std::filesystem::path home = scratch.Path() / "home", shared = scratch.Path() / "shared";
  ASSERT_EQ(mkdir(home.c_str(), 0700), 0);
  ASSERT_EQ(chown(home.c_str(), owner.Ids().uid, owner.Ids().gid), 0);
  ASSERT_EQ(mkdir(shared.c_str(), 0700), 0);
  ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
  const std::string victim = (home / "notes.txt").string();
  std::ofstream(victim) << "mine\n";
  ASSERT_EQ(chown(victim.c_str(), owner.Ids().uid, owner.Ids().gid), 0);
  const std::vector<std::vector<std::string>> writes = {
      {"tone", "--export", "tone.wav"},
      {"tone", "--save-settings", "tone.tonegen"},
      {"--export", "bx.wav", "--program", "bx", "--test-step-frames", "100"},
  };
  for (std::vector<std::string> arguments : writes) {
    std::string& name = arguments[arguments[0] == "tone" ? 2 : 1];
    SCOPED_TRACE(name);
    const std::string link = (shared / name).string();
    name = link;
    ASSERT_EQ(
        RunInChild([&] { return symlink(victim.c_str(), link.c_str()) == 0 ? 0 : 1; }, other.Ids()),
        0);
    arguments.insert(arguments.begin(), ZELKGEN_PROGRAM);
    const int status = RunInChild(
        [&] {
          const ProgramRun run = RunProgram(arguments, kSilent, home.string());
          const bool named =
              run.err.find("'" + link + "' is a link another user made") != std::string::npos;
          return run.status == 1 && named ? 0 : 1;
        },
        owner.Ids());
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ReadFile(victim), "mine\n");
  }
}

}  // namespace
