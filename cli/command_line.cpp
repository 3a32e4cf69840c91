#include "command_line.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <utility>

#include "app_identity.h"
#include "audio_output.h"
#include "default_output.h"
#include "device_name.h"
#include "generator_command.h"
#include "headless_play.h"
#include "output_check.h"
#include "path_text.h"
#include "process_signals.h"
#include "program_file.h"
#include "program_library.h"

namespace {

// The options that choose what runs instead of the window.
struct ModeOption {
  const char* name;
  const char* value_name;
  const char* description;
  CommandLine::Mode mode;
  bool names_program;  // the value is the program (zelk|bx), not a file
};

const ModeOption kModes[] = {
    {"export", "file",
     "Write the whole --program to an audio file (.wav or .flac) instead of opening the window; "
     "needs no display.",
     CommandLine::Mode::Export, false},
    {"play", "zelk|bx|file",
     "Play the program (a built-in, a program file or the name of one in the program folders) "
     "through the default sound output without a window; needs no display. Ctrl+C ends it; on a "
     "terminal p or space pause and resume it (so do Ctrl+Z and fg), n skips to the next step "
     "and q ends the run.",
     CommandLine::Mode::Play, true},
    {"check", nullptr,
     "Check the program files given as arguments: each error as FILE:LINE:COLUMN: message; "
     "exit status 1 when a file has one. With --device naming a signal generator, against what "
     "every model of its family can play; else against the sound card.",
     CommandLine::Mode::Check, false},
    {"list", nullptr, "List the built-in programs and the program files in the program folders.",
     CommandLine::Mode::List, false},
    {"list-devices", nullptr,
     "List the sound outputs, one a line, as --device takes them; the default first, marked. "
     "Signal generators seen on serial ports and USB follow them.",
     CommandLine::Mode::ListDevices, false},
    {"identify", "device",
     "Ask a signal generator (fy:/dev/ttyUSB0, jds:/dev/ttyUSB0, scpi:192.0.2.10, "
     "scpi:/dev/usbtmc0) what it is: its model, firmware and limits.",
     CommandLine::Mode::Identify, false},
    {"print-program", "zelk|bx|FILE",
     "Write a program as a program file: a built-in one as a starting point for your own, a "
     "file (or the name of one in the program folders) as it was read.",
     CommandLine::Mode::PrintProgram, true},
};

struct ShapeName {
  const char* name;
  WaveShape shape;
};

const ShapeName kShapes[] = {{"square", wsSquare}, {"sine", wsSine}};

// Qt's own options: accepted here, applied by the window's QApplication, which removes them.
const char* const kQtOptionsWithValue[] = {"platform",
                                           "platformpluginpath",
                                           "platformtheme",
                                           "plugin",
                                           "qwindowgeometry",
                                           "geometry",
                                           "qwindowtitle",
                                           "title",
                                           "qwindowicon",
                                           "icon",
                                           "session",
                                           "display",
                                           "name",
                                           "style",
                                           "stylesheet",
                                           "qmljsdebugger"};
const char* const kQtFlags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

QString ProgramNames() {
  QStringList names;
  for (const BuiltInProgram& entry : kBuiltInPrograms) names << entry.name;
  return names.join('|');
}

const TreatmentProgram* BuiltInNamed(const QString& name) {
  for (const BuiltInProgram& entry : kBuiltInPrograms) {
    if (name == entry.name) return entry.program;
  }
  return nullptr;
}

// A program named on the command line: a built-in's name, else a program file, else the name of
// one in the program folders ("morning"); a bare word that names none is an unknown program.
// Empty when good.
QString ReadProgram(const QString& name, CommandLine* command) {
  command->program = BuiltInNamed(name);
  if (command->program != nullptr) return {};
  // A file's name is bytes (path_text.h): checked and kept as such.
  const std::string bytes = PathBytes(name);
  struct stat info {};
  std::string file = stat(bytes.c_str(), &info) == 0 && !S_ISDIR(info.st_mode)
                         ? bytes
                         : PathBytes(ProgramFileNamed(name));
  if (file.empty() && (name.contains('/') || name.contains('.'))) file = bytes;
  if (!file.empty()) {
    command->program_file = file;
    return {};
  }
  return "unknown program '" + ShownPath(name) + "' (" + ProgramNames() +
         ", a program file or the name of one in the program folders)";
}

CommandLine UsageError(const QString& message) {
  std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", kAppName,
               qPrintable(message), kAppName);
  CommandLine done;
  done.mode = CommandLine::Mode::Done;
  done.exit_status = 2;
  return done;
}

CommandLine Printed(const QString& text) {
  std::fputs(qPrintable(text), stdout);
  CommandLine done;
  done.mode = CommandLine::Mode::Done;
  return done;
}

// A file size limit fails the write, like a full disk, instead of killing the process with its
// temporary file left behind.
void IgnoreFileSizeLimitSignal() {
  std::signal(SIGXFSZ, SIG_IGN);
}

// Adds Qt's options, hidden, so that they pass; returns them as the full help lists them.
QString AddQtOptions(QCommandLineParser& parser) {
  QString listed = " ";
  const auto add = [&](const char* name, const QString& value_name) {
    QCommandLineOption qt_option(name, QString(), value_name);
    qt_option.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(qt_option);
    const QString shown = QString(" -%1%2").arg(name, value_name.isEmpty() ? "" : " <value>");
    if (listed.size() - listed.lastIndexOf('\n') + shown.size() > 79) listed += "\n ";
    listed += shown;
  };
  for (const char* name : kQtOptionsWithValue) add(name, "value");
  for (const char* name : kQtFlags) add(name, QString());
  return listed;
}

// The hidden options that shorten a step for tests, each for its own mode.
struct TestStepOptions {
  QCommandLineOption frames{"test-step-frames", "Frames per step, for tests.", "frames"};
  QCommandLineOption ms{"test-step-ms", "Milliseconds per step, for tests.", "ms"};
};

// The number an option of the parser gives, 1 to most; false when it is not one.
bool ReadCount(const QCommandLineParser& parser, const QCommandLineOption& option, uint most,
               uint* count) {
  bool number = false;
  const uint value = parser.value(option).toUInt(&number);
  if (!number || value == 0 || value > most) return false;
  *count = value;
  return true;
}

// The options the modes share; an error text, or empty when they are good. program_name: the
// mode's own value when it names the program, else empty.
// --amplitude and --offset, for --play on a signal generator only.
QString ReadGeneratorVolts(const QCommandLineParser& parser, const QCommandLineOption& amplitude,
                           const QCommandLineOption& offset, CommandLine* command) {
  if (!parser.isSet(amplitude) && !parser.isSet(offset)) return {};
  if (command->mode != CommandLine::Mode::Play || !LooksLikeGeneratorName(command->device)) {
    return "--amplitude and --offset go with --play and a signal generator's --device";
  }
  const std::pair<const QCommandLineOption*, double*> volts[] = {
      {&amplitude, &command->generator.AmplitudeVpp}, {&offset, &command->generator.OffsetVolts}};
  for (const auto& [option, value] : volts) {
    if (!parser.isSet(*option)) continue;
    bool ok = false;
    *value = parser.value(*option).toDouble(&ok);
    if (!ok || !std::isfinite(*value)) {
      return "--" + option->names().front() + " takes volts, such as 2.5 (not '" +
             parser.value(*option) + "')";
    }
  }
  return {};
}

QString ReadRunOptions(const QCommandLineParser& parser, const QString& program_name,
                       const QCommandLineOption& program, const QCommandLineOption& shape,
                       const TestStepOptions& step, CommandLine* command) {
  QString name = program_name;
  if (name.isEmpty()) {
    if (!parser.isSet(program)) return "--program " + ProgramNames() + " is needed";
    name = parser.value(program);
  } else if (parser.isSet(program)) {
    return "--play takes the program itself, not --program";
  }
  if (const QString error = ReadProgram(name, command); !error.isEmpty()) return error;
  if (parser.isSet(shape)) {
    const auto known =
        std::find_if(std::begin(kShapes), std::end(kShapes),
                     [&](const ShapeName& entry) { return parser.value(shape) == entry.name; });
    if (known == std::end(kShapes))
      return "unknown shape '" + parser.value(shape) + "' (square|sine)";
    command->shape = known->shape;
  }
  const bool play = command->mode == CommandLine::Mode::Play;
  if (parser.isSet(play ? step.frames : step.ms)) {
    return play ? "--test-step-frames goes with --export" : "--test-step-ms goes with --play";
  }
  if (parser.isSet(step.frames) &&
      !ReadCount(parser, step.frames, kStepFrames, &command->step_frames)) {
    return "--test-step-frames takes 1 to " + QString::number(kStepFrames);
  }
  uint step_ms = 0;
  if (parser.isSet(step.ms)) {
    if (!ReadCount(parser, step.ms, kStepMilliseconds, &step_ms)) {
      return "--test-step-ms takes 1 to " + QString::number(kStepMilliseconds);
    }
    command->step_ms = int(step_ms);
  }
  return {};
}

}  // namespace

CommandLine ParseCommandLine(int argc, char** argv) {
  QCommandLineParser parser;
  // Qt's window options are single-dash words (-platform, -style).
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  parser.setApplicationDescription(
      "Plays the Zelk general and BX virus treatment programs, and programs of your own.\n"
      "Without options the main window opens, with the program file given opened in it; Qt's "
      "own options (-platform, -style, ...) apply to it.");
  const QCommandLineOption help = parser.addHelpOption();
  const QCommandLineOption version = parser.addVersionOption();
  for (const ModeOption& mode : kModes) {
    parser.addOption(mode.value_name != nullptr
                         ? QCommandLineOption(mode.name, mode.description, mode.value_name)
                         : QCommandLineOption(mode.name, mode.description));
  }
  const QCommandLineOption program(
      "program",
      "The treatment program: zelk (Zelk general), bx (BX virus), a program file or the name of "
      "one in the program folders.",
      ProgramNames() + "|file");
  parser.addPositionalArgument("file", "A program file to open in the window, or to --check.",
                               "[file...]");
  const QCommandLineOption shape("shape", "The output signal (default: square).", "square|sine");
  TestStepOptions step;
  step.frames.setFlags(QCommandLineOption::HiddenFromHelp);
  step.ms.setFlags(QCommandLineOption::HiddenFromHelp);
  const QCommandLineOption device("device",
                                  "The sound output --play plays through (--export ignores it): "
                                  "its name as --list-devices lists it, or any part of it that "
                                  "names one output only (default: the system's default output).",
                                  "name");
  const QCommandLineOption amplitude(
      "amplitude", "A signal generator's amplitude, peak to peak (default: 1).", "volts");
  const QCommandLineOption offset("offset", "A signal generator's DC offset (default: 0).",
                                  "volts");
  parser.addOptions({program, shape, device, amplitude, offset, step.frames, step.ms});
  const QString qt_options = AddQtOptions(parser);

  QStringList arguments;
  // File names are bytes, which need not be UTF-8: kept whole (path_text.h).
  for (int i = 0; i < argc; ++i) arguments << PathText(argv[i]);
  if (arguments.isEmpty()) arguments << kAppName;
  if (!parser.parse(arguments)) return UsageError(parser.errorText());
  if (parser.isSet(help) || parser.isSet("help-all")) {
    // Parsed before any application object exists, which is where Qt looks for the name.
    QString text = parser.helpText().replace("<executable_name>", kAppName);
    if (parser.isSet("help-all")) text += "\nQt's options for the window:\n" + qt_options + "\n";
    return Printed(text);
  }
  if (parser.isSet(version)) return Printed(QString(kAppName) + " " ZELKGEN_VERSION "\n");

  CommandLine command;
  int modes = 0;
  QString program_name;
  for (const ModeOption& mode : kModes) {
    if (!parser.isSet(mode.name)) continue;
    command.mode = mode.mode;
    if (mode.names_program) {
      program_name = parser.value(mode.name);
    } else if (mode.value_name != nullptr) {
      command.file = PathBytes(parser.value(mode.name));
    }
    ++modes;
  }
  if (modes > 1) return UsageError("only one of the modes can run at a time");
  const QStringList arguments_left = parser.positionalArguments();
  // The window opens one file; --check takes any number; the other modes none.
  const qsizetype files_taken = command.mode == CommandLine::Mode::Check    ? arguments_left.size()
                                : command.mode == CommandLine::Mode::Window ? 1
                                                                            : 0;
  if (arguments_left.size() > files_taken) {
    return UsageError("unexpected argument '" + ShownPath(arguments_left[files_taken]) + "'");
  }
  for (const QString& file : arguments_left) command.files.push_back(PathBytes(file));
  const bool run_options = parser.isSet(program) || parser.isSet(shape) ||
                           parser.isSet(step.frames) || parser.isSet(step.ms);
  if (parser.isSet(device)) {
    if (command.mode != CommandLine::Mode::Play && command.mode != CommandLine::Mode::Export &&
        command.mode != CommandLine::Mode::Check) {
      return UsageError("--device goes with --play or --check");
    }
    command.device = parser.value(device).toLocal8Bit().toStdString();
    // Not the default: a name left empty by mistake must not play on the speakers.
    if (command.device.empty()) return UsageError("--device needs the name of an output");
  }
  if (const QString error = ReadGeneratorVolts(parser, amplitude, offset, &command);
      !error.isEmpty()) {
    return UsageError(error);
  }
  switch (command.mode) {
    case CommandLine::Mode::Export:
    case CommandLine::Mode::Play:
      break;
    case CommandLine::Mode::Window:
      if (!arguments_left.isEmpty() && !run_options) {
        const QString shown = ShownPath(arguments_left[0]);
        struct stat info {};
        if (stat(command.files[0].c_str(), &info) != 0) {
          return UsageError("cannot open '" + shown + "': " + std::strerror(errno));
        }
        if (S_ISDIR(info.st_mode)) return UsageError("'" + shown + "' is a folder");
      }
      [[fallthrough]];
    case CommandLine::Mode::Check:
    case CommandLine::Mode::List:
    case CommandLine::Mode::ListDevices:
    case CommandLine::Mode::Identify:
    case CommandLine::Mode::PrintProgram:
      if (run_options) {
        return UsageError("--program goes with --export, --shape with --export or --play");
      }
      if (command.mode == CommandLine::Mode::Check && command.files.empty()) {
        return UsageError("--check needs one or more program files");
      }
      if (command.mode == CommandLine::Mode::PrintProgram) {
        if (const QString error = ReadProgram(program_name, &command); !error.isEmpty()) {
          return UsageError(error);
        }
      }
      return command;
    case CommandLine::Mode::Done:
      break;
  }
  const QString error = ReadRunOptions(parser, program_name, program, shape, step, &command);
  return error.isEmpty() ? command : UsageError(error);
}

namespace {

int RunExport(const CommandLine& command, const TreatmentProgram& program) {
  InitDDFS();
  // SIGINT, SIGTERM and SIGHUP stop the export, which then cleans up.
  CatchQuitSignals();
  IgnoreFileSizeLimitSignal();
  const bool terminal = ::isatty(STDERR_FILENO) == 1;
  const size_t steps = program.Steps.size();
  int shown_percent = -1;
  size_t shown_step = 0;
  const auto report = [&](size_t step, int percent) {
    if (terminal && (percent != shown_percent || step != shown_step)) {
      std::fprintf(stderr, "\rzelkgen: writing %s: step %zu of %zu, %d%%", command.file.c_str(),
                   step, steps, percent);
      shown_percent = percent;
      shown_step = step;
    }
    return QuitSignalArrived() == 0;
  };
  std::string error;
  const bool written =
      ExportProgram(program, command.shape, command.file, command.step_frames, report, &error);
  if (terminal && shown_step != 0) std::fputc('\n', stderr);
  if (written) return 0;
  std::fprintf(stderr, "%s: %s\n", kAppName, error.c_str());
  return 1;
}

// A file's errors, at most kErrorsPrinted of them: a wrong file (a recording, a list of
// something else) would otherwise give one a line.
constexpr size_t kErrorsPrinted = 100;

constexpr char kStandardInput[] = "<stdin>";

void PrintMessages(const std::string& file, const std::vector<std::string>& messages) {
  for (size_t k = 0; k < messages.size() && k < kErrorsPrinted; ++k) {
    std::fprintf(stderr, "%s\n", messages[k].c_str());
  }
  if (messages.size() > kErrorsPrinted) {
    const size_t more = messages.size() - kErrorsPrinted;
    std::fprintf(stderr, "%s: and %zu more %s\n", file.c_str(), more,
                 more == 1 ? "error" : "errors");
  }
}

// The program a run names: a built-in, or the program file loaded into *loaded. Null after the
// file's errors have been printed.
const TreatmentProgram* RunProgram(const CommandLine& command, TreatmentProgram* loaded) {
  if (command.program_file.empty()) return command.program;
  std::vector<std::string> messages;
  if (LoadProgramFile(command.program_file, loaded, &messages)) return loaded;
  PrintMessages(command.program_file, messages);
  return nullptr;
}

std::string Summary(const TreatmentProgram& program) {
  return program.Name + ": " + std::to_string(program.Steps.size()) +
         (program.Steps.size() == 1 ? " step, " : " steps, ") + ProgramLengthText(program);
}

// A file of --check: "-" is standard input, named as compilers name it. On a generator its
// family's limits decide the frequencies and gates; else the sound card's.
bool CheckedProgram(const std::string& file, const DeviceName* generator, TreatmentProgram* program,
                    std::vector<std::string>* messages) {
  std::string text, error;
  const std::string name = file == "-" ? kStandardInput : file;
  if (!(file == "-" ? ReadProgramText(stdin, kStandardInput, &text, &error)
                    : ReadProgramFileText(file, &text, &error))) {
    messages->push_back(error);
    return false;
  }
  if (generator == nullptr) return ProgramFromText(text, name, program, messages);
  *messages = CheckProgramForOutput(text, name, FamilyLimits(*generator));
  return messages->empty() && ProgramFromText(text, name, program, messages, ProgramFor::AnyOutput);
}

int CheckFiles(const std::vector<std::string>& files, const std::string& device) {
  // A sound output's name is not looked up: every one has the sound card's limits.
  DeviceName generator;
  if (std::string why;
      LooksLikeGeneratorName(device) && !ParseDeviceName(device, &generator, &why)) {
    UsageError(QString::fromLocal8Bit(why.c_str()));
    return 2;
  }
  // A check has nothing to clean up: a quit signal ends it at once, in a read of a terminal too
  // (the catcher's handler would let the read go on).
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal_number, SIG_DFL);
  int status = 0;
  for (const std::string& file : files) {
    TreatmentProgram program;
    std::vector<std::string> messages;
    const std::string name = file == "-" ? kStandardInput : file;
    if (CheckedProgram(file, LooksLikeGeneratorName(device) ? &generator : nullptr, &program,
                       &messages)) {
      std::printf("%s: %s\n", name.c_str(), Summary(program).c_str());
    } else {
      PrintMessages(name, messages);
      status = 1;
    }
  }
  return status;
}

int ListPrograms() {
  for (const BuiltInProgram& entry : kBuiltInPrograms) {
    std::printf("%s\t%s (built in)\n", entry.name, Summary(*entry.program).c_str());
  }
  for (const QString& path : ProgramFilesInFolders()) {
    const std::string file = PathBytes(path);
    // The name --play and --export take; a built-in's name would play the built-in, so such a
    // file goes by its path.
    const QString name = ProgramFileName(path);
    const std::string first = BuiltInNamed(name) != nullptr ? file : PathBytes(name);
    TreatmentProgram program;
    std::vector<std::string> messages;
    if (LoadProgramFile(file, &program, &messages)) {
      std::printf("%s\t%s (%s)\n", first.c_str(), Summary(program).c_str(), file.c_str());
    } else {
      std::printf("%s\thas errors (zelkgen --check %s shows them)\n", first.c_str(), file.c_str());
    }
  }
  return 0;
}

int ListDevices() {
  const OutputList outputs = ListOutputs();
  // A server with no output at all is as good as none.
  if (!outputs.ok || outputs.names.empty()) {
    std::fprintf(stderr, "%s: no sound output can be reached (%s)\n", kAppName,
                 AudioErrorText(AUDIO_ERROR_NO_DEVICE));
    PrintGeneratorList();
    return 1;
  }
  // The default first, marked after a tab so that the name stands alone before it.
  for (const std::string& name : outputs.names) {
    if (name == outputs.default_name) std::printf("%s\t(default)\n", name.c_str());
  }
  for (const std::string& name : outputs.names) {
    if (name != outputs.default_name) std::printf("%s\n", name.c_str());
  }
  PrintGeneratorList();
  return 0;
}

// The output a --device name picks, chosen for the run; false after a usage error naming the
// outputs it matches (none, or more than one).
bool ChooseDevice(const std::string& wanted) {
  const OutputList outputs = ListOutputs();
  // With no output at all the name is not the user's mistake: the run fails as it does without
  // one, with the name in its advice.
  if (!outputs.ok || outputs.names.empty()) {
    AudioOutputChooseDevice(wanted);
    return true;
  }
  const std::vector<std::string> found = OutputsNamed(outputs.names, wanted);
  if (found.size() == 1) {
    AudioOutputChooseDevice(found.front());
    return true;
  }
  QString why = "--device '" + QString::fromLocal8Bit(wanted.c_str()) + "' ";
  if (found.empty()) {
    why += "names no sound output (" + QString(kAppName) + " --list-devices lists them)";
  } else {
    why += "names " + QString::number(found.size()) + " outputs:";
    for (const std::string& name : found) why += "\n  " + QString::fromStdString(name);
  }
  UsageError(why);
  return false;
}

}  // namespace

int RunWithoutWindow(const CommandLine& command) {
  TreatmentProgram loaded;
  switch (command.mode) {
    case CommandLine::Mode::Export:
    case CommandLine::Mode::Play: {
      const TreatmentProgram* program = RunProgram(command, &loaded);
      if (program == nullptr) return 1;
      if (command.mode == CommandLine::Mode::Play && LooksLikeGeneratorName(command.device)) {
        DeviceName name;
        std::string error;
        if (!ParseDeviceName(command.device, &name, &error)) {
          UsageError("--device '" + QString::fromLocal8Bit(command.device.c_str()) +
                     "': " + QString::fromStdString(error));
          return 2;
        }
        const PlayGenerator generator{command.device, command.generator, command.program_file};
        return PlayWithoutWindow(*program, command.shape, command.step_ms, &generator);
      }
      if (command.mode == CommandLine::Mode::Play && !command.device.empty() &&
          !ChooseDevice(command.device)) {
        return 2;
      }
      return command.mode == CommandLine::Mode::Export
                 ? RunExport(command, *program)
                 : PlayWithoutWindow(*program, command.shape, command.step_ms);
    }
    case CommandLine::Mode::Check:
      return CheckFiles(command.files, command.device);
    case CommandLine::Mode::List:
      return ListPrograms();
    case CommandLine::Mode::ListDevices:
      return ListDevices();
    case CommandLine::Mode::Identify:
      return IdentifyGenerator(command.file);
    case CommandLine::Mode::PrintProgram: {
      const TreatmentProgram* program = RunProgram(command, &loaded);
      if (program == nullptr) return 1;
      std::fputs(ProgramFileText(*program).c_str(), stdout);
      return 0;
    }
    case CommandLine::Mode::Done:
    case CommandLine::Mode::Window:
      break;
  }
  return command.exit_status;
}
