// The command line of `zelkgen tone`: the tone generator's properties as options, and what to do
// with the tone (--export FILE.wav, --play [--loop], --save-settings FILE).
//
// Unlike the component's setters, nothing here clamps: a value outside its range, an unknown
// name, a bad note or a malformed --am is a usage error that names the option, the value and what
// is allowed. Checks that depend on other properties (a note's frequency, a multiplied extra
// tone's frequency) run when the options are applied to a component, after --settings. QtCore
// only; no display.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tg_types.h"

class TToneGen;

struct ToneOptions {
  enum class Action {
    Export,        // --export FILE.wav: the image ExportFile writes
    Play,          // --play: through the component's sound service
    SaveSettings,  // --save-settings FILE: the component's stored form
    Done,          // help printed (status 0) or a usage error (status 2)
  };
  Action action = Action::Done;
  int exit_status = 0;
  std::string file;           // --export, --save-settings
  bool loop = false;          // --loop, with --play
  bool envelope = false;      // --envelope: PrepareADSR/PlayADSR
  std::string settings_file;  // --settings: the stored form to start from

  // Each property the command line sets; unset ones keep the component's (or the file's) value.
  std::optional<int16_t> frequency;    // with --clean, the nearest whole hertz of frequency_hz
  std::optional<double> frequency_hz;  // --frequency with --clean, which may hold a fraction
  bool clean = false;  // --clean: the continuous-phase rendering at the exact frequency
  std::optional<std::string> note;  // --note, instead of --frequency
  std::optional<int16_t> duration;
  std::optional<TTGWave> waveform;
  std::optional<int16_t> attack, hold, decay, sustain, release;
  std::optional<TTGResolution> resolution;
  std::optional<TTGQuality> quality;
  bool stereo = false;
  std::optional<int16_t> left_volume, right_volume;
  bool am_hertz = false;  // --am-hertz: AMUseMultiplier off, --am values in hertz

  // One --am LEVEL,AMPLITUDE,WAVEFORM,VALUE; VALUE is a number or a note name.
  struct ExtraTone {
    std::string text;  // as given, for messages
    TTGAMLevel level = tgAMLevel1;
    int16_t amplitude = 0;
    TTGWave waveform = tgSine;
    std::string value_text;      // VALUE as given
    std::optional<float> value;  // a factor of the frequency, or hertz with --am-hertz; unset
                                 // for a note name, which SetAMNote reads
  };
  std::vector<ExtraTone> extra_tones;
};

// Reads the arguments that follow "tone" (argv[0] is the program, argv[1] "tone"). Prints the
// help on standard output and a usage error on standard error.
ToneOptions ParseToneOptions(int argc, char** argv);

// Sets the options' properties on gen through its setters, in the stored form's order. Returns
// an empty text, or the usage error of a value that is out of range only in combination (a note
// beyond 20..20000 Hz, an extra tone's frequency); gen may then be partly set.
std::string ApplyToneOptions(const ToneOptions& options, TToneGen& gen);

// Prints a usage error of the tone command on standard error; returns its status, 2.
int ToneUsageError(const std::string& message);
