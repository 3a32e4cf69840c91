#include "tone_options.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "app_identity.h"
#include "path_text.h"
#include "tone_gen.h"

namespace {

constexpr char kCommand[] = "zelkgen tone";

template <typename Value>
struct Name {
  const char* name;
  Value value;
};

constexpr Name<TTGWave> kWaveforms[] = {{"sine", tgSine},
                                        {"square", tgSquare},
                                        {"triangle", tgTriangle},
                                        {"sawtooth", tgSawtooth},
                                        {"noise", tgNoise}};
constexpr Name<TTGResolution> kResolutions[] = {{"16", tg16Bit}, {"8", tg8Bit}};
constexpr Name<TTGQuality> kQualities[] = {{"high", tgHiQ}, {"low", tgLoQ}};

template <typename Value, size_t N>
std::string Names(const Name<Value> (&names)[N], const char* separator) {
  std::string text;
  for (const Name<Value>& entry : names)
    text += (text.empty() ? "" : separator) + std::string(entry.name);
  return text;
}

template <typename Value, size_t N>
std::optional<Value> Named(const Name<Value> (&names)[N], const std::string& text) {
  for (const Name<Value>& entry : names) {
    if (text == entry.name) return entry.value;
  }
  return std::nullopt;
}

// A whole number written in decimal digits (a sign allowed), nothing around it.
std::optional<long> WholeNumber(const std::string& text) {
  long value = 0;
  const char* last = text.data() + text.size();
  const auto [end, error] = std::from_chars(text.data(), last, value);
  if (text.empty() || error != std::errc() || end != last) return std::nullopt;
  return value;
}

std::optional<double> RealNumber(const std::string& text) {
  double value = 0;
  const char* last = text.data() + text.size();
  const auto [end, error] = std::from_chars(text.data(), last, value);
  if (text.empty() || error != std::errc() || end != last || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

std::string Quoted(const std::string& text) {
  return "'" + text + "'";
}

std::string WholeRange(long minimum, long maximum, const char* unit) {
  return "whole numbers from " + std::to_string(minimum) + " to " + std::to_string(maximum) + " (" +
         unit + ")";
}

// A ranged whole-number property of the command line.
struct RangedOption {
  const char* name;
  const char* value_name;
  const char* description;
  int16_t minimum, maximum;
  const char* unit;
  std::optional<int16_t> ToneOptions::*field;
};

const RangedOption kRangedOptions[] = {
    {"frequency", "HZ", "The tone's frequency, 20 to 20000 hertz (default 440).", kMinFrequency,
     kMaxFrequency, "hertz", &ToneOptions::frequency},
    {"duration", "MS", "The tone's length, 10 to 32767 milliseconds (default 100).", 10, 32767,
     "milliseconds", &ToneOptions::duration},
    {"attack", "P", "The envelope's attack, 0 to 100 percent of the duration (default 10).", 0, 100,
     "percent", &ToneOptions::attack},
    {"hold", "P", "The envelope's hold, 0 to 100 percent of the duration (default 5).", 0, 100,
     "percent", &ToneOptions::hold},
    {"decay", "P", "The envelope's decay, 0 to 100 percent of the duration (default 20).", 0, 100,
     "percent", &ToneOptions::decay},
    {"sustain", "P",
     "The envelope's sustain level, 0 to 100 percent of full amplitude (default 50).", 0, 100,
     "percent", &ToneOptions::sustain},
    {"release", "P", "The envelope's release, 0 to 100 percent of the duration (default 30).", 0,
     100, "percent", &ToneOptions::release},
};

// Reads one --am LEVEL,AMPLITUDE,WAVEFORM,VALUE; an error text, or empty.
std::string ReadExtraTone(const std::string& text, bool hertz, ToneOptions::ExtraTone* tone) {
  tone->text = text;
  const QStringList parts = QString::fromStdString(text).split(',');
  const std::string start = "--am " + Quoted(text) + ": ";
  if (parts.size() != 4) {
    return start + "allowed is LEVEL,AMPLITUDE,WAVEFORM,VALUE, four values separated by commas";
  }
  const std::string level = parts[0].toStdString(), amplitude = parts[1].toStdString(),
                    waveform = parts[2].toStdString(), value = parts[3].toStdString();
  const std::optional<long> level_number = WholeNumber(level);
  if (!level_number || *level_number < 1 || *level_number > kAMLevelCount) {
    return start + "LEVEL " + Quoted(level) + ": allowed are whole numbers from 1 to 8";
  }
  tone->level = static_cast<TTGAMLevel>(*level_number - 1);
  const std::optional<long> amplitude_number = WholeNumber(amplitude);
  if (!amplitude_number || *amplitude_number < 0 || *amplitude_number > 100) {
    return start + "AMPLITUDE " + Quoted(amplitude) + ": allowed are " +
           WholeRange(0, 100, "percent");
  }
  tone->amplitude = static_cast<int16_t>(*amplitude_number);
  const std::optional<TTGWave> wave = Named(kWaveforms, waveform);
  if (!wave) {
    return start + "WAVEFORM " + Quoted(waveform) + ": allowed are " + Names(kWaveforms, ", ");
  }
  tone->waveform = *wave;
  if (const std::optional<double> number = RealNumber(value)) {
    // A multiplied value is checked against the frequency once that is known.
    if (hertz ? (*number < kMinFrequency || *number > kMaxFrequency) : *number <= 0) {
      return start + "VALUE " + Quoted(value) + ": allowed " +
             (hertz ? "are 20 to 20000 (hertz, with --am-hertz)"
                    : "is a factor above 0 that puts the tone within 20 to 20000 hertz");
    }
    tone->value = static_cast<float>(*number);
  }
  tone->value_text = value;
  return {};
}

ToneOptions Failed(const std::string& message) {
  ToneOptions done;
  done.exit_status = ToneUsageError(message);
  return done;
}

const char kDescription[] =
    "Renders one tone of the tone generator: a main tone and up to eight extra tones mixed in,\n"
    "optionally shaped by an attack-hold-decay-sustain-release envelope. It is written to a WAV\n"
    "file, played, or its settings saved. Without property options the component's defaults\n"
    "apply; --settings starts from a stored form, and the other options override it. Needs no\n"
    "display.\n"
    "\n"
    "  zelkgen tone [--frequency HZ | --note NAME] [--duration MS]\n"
    "               [--waveform sine|square|triangle|sawtooth|noise]\n"
    "               [--envelope] [--attack P] [--hold P] [--decay P] [--sustain P] [--release P]\n"
    "               [--resolution 16|8] [--quality high|low] [--stereo] [--volume LEFT,RIGHT]\n"
    "               [--clean]\n"
    "               [--am LEVEL,AMPLITUDE,WAVEFORM,VALUE]... [--am-hertz] [--settings FILE]\n"
    "               (--export FILE.wav | --play [--loop] | --save-settings FILE)";

}  // namespace

int ToneUsageError(const std::string& message) {
  std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", kAppName, message.c_str(),
               kCommand);
  return 2;
}

ToneOptions ParseToneOptions(int argc, char** argv) {
  QCommandLineParser parser;
  parser.setApplicationDescription(kDescription);
  const QCommandLineOption help = parser.addHelpOption();
  const auto ranged = [](const char* name) {
    for (const RangedOption& option : kRangedOptions) {
      if (std::strcmp(option.name, name) == 0) {
        return QCommandLineOption(option.name, option.description, option.value_name);
      }
    }
    return QCommandLineOption(name);
  };
  const QCommandLineOption note(
      "note",
      "The frequency as a note name instead: A to G, # or + for sharp, - for flat, after an "
      "octave O0 to O9 or the marks < and > (from octave 4); or N0 to N114. 20 to 20000 hertz.",
      "NAME");
  const QCommandLineOption waveform(
      "waveform",
      "The main tone's waveform: " + QString::fromStdString(Names(kWaveforms, ", ")) +
          " (default sine).",
      "WAVE");
  const QCommandLineOption envelope("envelope",
                                    "Shape the tone with the envelope (--attack to --release).");
  const QCommandLineOption resolution("resolution", "Bits per sample: 16 (default) or 8.", "BITS");
  const QCommandLineOption quality(
      "quality", "Frames per second: high, 96000 (default), or low, 44100.", "high|low");
  const QCommandLineOption stereo("stereo", "Two channels with the same samples (default mono).");
  const QCommandLineOption clean(
      "clean",
      "A clean tone: the phase runs on from period to period, notes and extra tones sound at "
      "their exact pitch, and --frequency may have a fraction (997.5). Default: every period "
      "restarts on a whole frame.");
  const QCommandLineOption volume(
      "volume",
      "The playing volume of the left and right channel, 0 to 100 percent each (default 100,100); "
      "stored with the settings, never in the samples.",
      "LEFT,RIGHT");
  const QCommandLineOption am(
      "am",
      "Extra tone LEVEL, 1 to 8: AMPLITUDE 0 to 100 percent of full scale (the main tone keeps "
      "the rest), WAVEFORM as --waveform, VALUE a factor of the frequency giving 20 to 20000 "
      "hertz, or a note name. Repeatable.",
      "LEVEL,AMPLITUDE,WAVEFORM,VALUE");
  const QCommandLineOption am_hertz("am-hertz", "--am values are hertz, 20 to 20000, not factors.");
  const QCommandLineOption settings(
      "settings", "Start from a stored form of the settings (as --save-settings writes).", "FILE");
  const QCommandLineOption export_file("export", "Write the tone to a WAV file.", "FILE.wav");
  const QCommandLineOption play("play", "Play the tone through the default sound output.");
  const QCommandLineOption loop("loop", "With --play: repeat the tone until Ctrl+C.");
  const QCommandLineOption save_settings("save-settings",
                                         "Write the settings as a stored form to FILE.", "FILE");
  // In the order of the synopsis.
  parser.addOptions({ranged("frequency"),
                     note,
                     ranged("duration"),
                     waveform,
                     envelope,
                     ranged("attack"),
                     ranged("hold"),
                     ranged("decay"),
                     ranged("sustain"),
                     ranged("release"),
                     resolution,
                     quality,
                     stereo,
                     volume,
                     clean,
                     am,
                     am_hertz,
                     settings,
                     export_file,
                     play,
                     loop,
                     save_settings});

  QStringList arguments;
  arguments << kCommand;
  // File names are bytes, which need not be UTF-8: kept whole (path_text.h).
  for (int i = 2; i < argc; ++i) arguments << PathText(argv[i]);
  if (!parser.parse(arguments)) return Failed(parser.errorText().toStdString());
  // The command has no Qt options of its own, so --help-all prints the same.
  if (parser.isSet(help) || parser.isSet("help-all")) {
    std::fputs(qPrintable(parser.helpText().replace("<executable_name>", kCommand)), stdout);
    return ToneOptions{};
  }
  if (!parser.positionalArguments().isEmpty()) {
    return Failed("unexpected argument " + Quoted(parser.positionalArguments()[0].toStdString()));
  }

  ToneOptions options;
  const auto value = [&](const QCommandLineOption& option) {
    return PathBytes(parser.value(option));
  };
  int actions = 0;
  if (parser.isSet(export_file)) {
    options.action = ToneOptions::Action::Export;
    options.file = value(export_file);
    ++actions;
  }
  if (parser.isSet(play)) {
    options.action = ToneOptions::Action::Play;
    ++actions;
  }
  if (parser.isSet(save_settings)) {
    options.action = ToneOptions::Action::SaveSettings;
    options.file = value(save_settings);
    ++actions;
  }
  if (actions != 1) {
    return Failed(actions == 0
                      ? "one of --export FILE.wav, --play or --save-settings FILE is needed"
                      : "only one of --export, --play and --save-settings can run");
  }
  if (options.action == ToneOptions::Action::Export &&
      !QString::fromStdString(options.file).endsWith(".wav", Qt::CaseInsensitive)) {
    return Failed("--export " + Quoted(options.file) +
                  ": allowed are file names ending in .wav (the tone is written as WAV)");
  }
  options.loop = parser.isSet(loop);
  if (options.loop && options.action != ToneOptions::Action::Play) {
    return Failed("--loop goes with --play");
  }
  options.envelope = parser.isSet(envelope);
  if (options.envelope && options.action == ToneOptions::Action::SaveSettings) {
    return Failed("--envelope goes with --export or --play (the stored form does not hold it)");
  }
  options.settings_file = value(settings);
  if (parser.isSet(settings) && options.settings_file.empty()) {
    return Failed("--settings '': allowed are file names");
  }

  options.clean = parser.isSet(clean);
  for (const RangedOption& option : kRangedOptions) {
    if (!parser.isSet(option.name)) continue;
    const std::string text = parser.value(option.name).toStdString();
    if (options.clean && option.field == &ToneOptions::frequency) {
      const std::optional<double> hz = RealNumber(text);
      if (!hz || !(*hz >= option.minimum && *hz <= option.maximum)) {
        return Failed("--frequency " + Quoted(text) + ": allowed are numbers from 20 to 20000 " +
                      "(hertz)");
      }
      options.frequency_hz = *hz;
      options.frequency = static_cast<int16_t>(std::floor(*hz + 0.5));
      continue;
    }
    const std::optional<long> number = WholeNumber(text);
    if (!number || *number < option.minimum || *number > option.maximum) {
      return Failed("--" + std::string(option.name) + " " + Quoted(text) + ": allowed are " +
                    WholeRange(option.minimum, option.maximum, option.unit));
    }
    options.*option.field = static_cast<int16_t>(*number);
  }
  if (parser.isSet(note)) {
    if (options.frequency) return Failed("only one of --frequency and --note can be given");
    options.note = parser.value(note).toStdString();
  }
  if (parser.isSet(waveform)) {
    options.waveform = Named(kWaveforms, value(waveform));
    if (!options.waveform) {
      return Failed("--waveform " + Quoted(value(waveform)) + ": allowed are " +
                    Names(kWaveforms, ", "));
    }
  }
  if (parser.isSet(resolution)) {
    options.resolution = Named(kResolutions, value(resolution));
    if (!options.resolution) {
      return Failed("--resolution " + Quoted(value(resolution)) + ": allowed are 16 and 8 (bits)");
    }
  }
  if (parser.isSet(quality)) {
    options.quality = Named(kQualities, value(quality));
    if (!options.quality) {
      return Failed("--quality " + Quoted(value(quality)) +
                    ": allowed are high (96000 frames per second) and low (44100)");
    }
  }
  options.stereo = parser.isSet(stereo);
  if (parser.isSet(volume)) {
    const QStringList parts = parser.value(volume).split(',');
    std::optional<long> left, right;
    if (parts.size() == 2) {
      left = WholeNumber(parts[0].toStdString());
      right = WholeNumber(parts[1].toStdString());
    }
    if (!left || !right || *left < 0 || *left > 100 || *right < 0 || *right > 100) {
      return Failed("--volume " + Quoted(value(volume)) + ": allowed are LEFT,RIGHT, each " +
                    WholeRange(0, 100, "percent"));
    }
    options.left_volume = static_cast<int16_t>(*left);
    options.right_volume = static_cast<int16_t>(*right);
  }
  options.am_hertz = parser.isSet(am_hertz);
  for (const QString& text : parser.values(am)) {
    ToneOptions::ExtraTone tone;
    const std::string error = ReadExtraTone(text.toStdString(), options.am_hertz, &tone);
    if (!error.empty()) return Failed(error);
    options.extra_tones.push_back(tone);
  }
  return options;
}

namespace {

// False when the leading < and > marks of a note name would take octave 4 past 0 or 9, which the
// component quietly stops at: the command clamps nothing.
bool OctaveMarksFit(const std::string& note) {
  int octave = 4;
  for (const char c : note) {
    if (static_cast<unsigned char>(c) <= ' ') continue;
    if (c != '<' && c != '>') break;
    octave += c == '>' ? 1 : -1;
    if (octave < 0 || octave > 9) return false;
  }
  return true;
}

}  // namespace

std::string ApplyToneOptions(const ToneOptions& options, TToneGen& gen) {
  // The stored form's order: Frequency, Duration, Waveform, the envelope, Resolution, Quality,
  // the volumes, Stereo, AMUseMultiplier, then the AM table.
  if (options.frequency_hz) {
    gen.SetFrequencyHz(*options.frequency_hz);
  } else if (options.frequency) {
    gen.SetFrequency(*options.frequency);
  }
  if (options.note && !OctaveMarksFit(*options.note)) {
    return "--note " + Quoted(*options.note) +
           ": the octave marks < and > lead outside the octaves 0 to 9 (from octave 4)";
  }
  if (options.note && gen.SetNote(*options.note) == 0) {
    return "--note " + Quoted(*options.note) +
           ": allowed are note names from 20 to 20000 hertz: A to G, # or + for sharp, - for "
           "flat, after an octave O0 to O9 or the marks < and >; or N0 to N114";
  }
  if (options.duration) gen.SetDuration(*options.duration);
  if (options.waveform) gen.SetWaveform(*options.waveform);
  if (options.attack) gen.SetAttack(*options.attack);
  if (options.hold) gen.SetHold(*options.hold);
  if (options.decay) gen.SetDecay(*options.decay);
  if (options.sustain) gen.SetSustain(*options.sustain);
  if (options.release) gen.SetRelease(*options.release);
  if (options.resolution) gen.SetResolution(*options.resolution);
  if (options.quality) gen.SetQuality(*options.quality);
  if (options.left_volume) gen.SetLeftVolume(*options.left_volume);
  if (options.right_volume) gen.SetRightVolume(*options.right_volume);
  if (options.stereo) gen.SetStereo(true);
  if (options.am_hertz) gen.SetAMUseMultiplier(false);
  if (options.clean) gen.SetClean(true);
  if (options.extra_tones.empty()) return {};
  for (const ToneOptions::ExtraTone& tone : options.extra_tones) {
    const std::string start = "--am " + Quoted(tone.text) + ": VALUE ";
    float value = tone.value.value_or(0.0f);
    if (!tone.value) {
      // Through the component, which turns the note into a factor of the frequency when
      // AMUseMultiplier is on.
      gen.SetAMParameter(tone.level, tone.amplitude, value, tone.waveform);
      value = gen.SetAMNote(tone.level, tone.value_text);
      if (value == 0.0f) {
        return start + Quoted(tone.value_text) +
               ": allowed are numbers and note names from 20 to 20000 hertz (as --note)";
      }
    }
    // The renderer's frequency of a multiplied value, which it would clamp.
    const double hertz =
        gen.AMUseMultiplier() ? std::trunc(double{value} * gen.Frequency()) : std::trunc(value);
    if (hertz < kMinFrequency || hertz > kMaxFrequency) {
      char range[96];
      std::snprintf(range, sizeof range, "factors from %.6g to %.6g at %d hertz",
                    kMinFrequency / static_cast<double>(gen.Frequency()),
                    kMaxFrequency / static_cast<double>(gen.Frequency()), gen.Frequency());
      return start + Quoted(tone.value_text) + ": allowed are " + range + " (20 to 20000 hertz)";
    }
    gen.SetAMParameter(tone.level, tone.amplitude, value, tone.waveform);
  }
  // The mirror properties follow the table, so that the stored form holds one picture of it.
  gen.SetAMLevel(gen.AMLevel());
  return {};
}
