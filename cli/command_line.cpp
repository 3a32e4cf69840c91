#include "command_line.h"

#include <unistd.h>

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <iterator>

#include "headless_play.h"

// An exported step holds as many frames as a played step's timer lets the output play.
static_assert(kStepFrames == uint64_t{kStepMilliseconds} * 441 / 10);

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
    {"play", "zelk|bx",
     "Play the program through the default sound output without a window; needs no display. "
     "Ctrl+C ends it; on a terminal p or space pause and resume it, and so do Ctrl+Z and fg.",
     CommandLine::Mode::Play, true},
};

// The names a run option takes on the command line.
struct ProgramName {
  const char* name;
  const TreatmentProgram* program;
};

const ProgramName kPrograms[] = {{"zelk", &ZelkGeneralProgram}, {"bx", &BXVirusProgram}};

struct ShapeName {
  const char* name;
  uint8_t shape;
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
  for (const ProgramName& entry : kPrograms) names << entry.name;
  return names.join('|');
}

CommandLine UsageError(const QString& message) {
  std::fprintf(stderr, "zelkgen: %s\nTry 'zelkgen --help' for more information.\n",
               qPrintable(message));
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

// Set by SIGINT, SIGTERM and SIGHUP while an export runs: the export stops and cleans up.
volatile std::sig_atomic_t stop_requested = 0;

void RequestStop(int) {
  stop_requested = 1;
}

void InstallStopHandlers() {
  struct sigaction action {};
  action.sa_handler = RequestStop;
  sigemptyset(&action.sa_mask);
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal_number, &action, nullptr);
  // A file size limit then fails the write, like a full disk, instead of killing the process
  // with its temporary file left behind.
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
  for (const ProgramName& entry : kPrograms) {
    if (name == entry.name) command->program = entry.program;
  }
  if (command->program == nullptr) {
    return "unknown program '" + name + "' (" + ProgramNames() + ")";
  }
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
      "Plays the Zelk general and BX virus treatment programs.\n"
      "Without options the main window opens; Qt's own options (-platform, -style, ...) apply "
      "to it.");
  const QCommandLineOption help = parser.addHelpOption();
  const QCommandLineOption version = parser.addVersionOption();
  for (const ModeOption& mode : kModes) {
    parser.addOption(mode.value_name != nullptr
                         ? QCommandLineOption(mode.name, mode.description, mode.value_name)
                         : QCommandLineOption(mode.name, mode.description));
  }
  const QCommandLineOption program(
      "program", "The treatment program: zelk (Zelk general) or bx (BX virus).", ProgramNames());
  const QCommandLineOption shape("shape", "The output signal (default: square).", "square|sine");
  TestStepOptions step;
  step.frames.setFlags(QCommandLineOption::HiddenFromHelp);
  step.ms.setFlags(QCommandLineOption::HiddenFromHelp);
  parser.addOptions({program, shape, step.frames, step.ms});
  const QString qt_options = AddQtOptions(parser);

  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  if (arguments.isEmpty()) arguments << "zelkgen";
  if (!parser.parse(arguments)) return UsageError(parser.errorText());
  if (parser.isSet(help) || parser.isSet("help-all")) {
    // Parsed before any application object exists, which is where Qt looks for the name.
    QString text = parser.helpText().replace("<executable_name>", "zelkgen");
    if (parser.isSet("help-all")) text += "\nQt's options for the window:\n" + qt_options + "\n";
    return Printed(text);
  }
  if (parser.isSet(version)) return Printed("zelkgen " ZELKGEN_VERSION "\n");
  if (!parser.positionalArguments().isEmpty()) {
    return UsageError("unexpected argument '" + parser.positionalArguments().first() + "'");
  }

  CommandLine command;
  int modes = 0;
  QString program_name;
  for (const ModeOption& mode : kModes) {
    if (!parser.isSet(mode.name)) continue;
    command.mode = mode.mode;
    if (mode.names_program) {
      program_name = parser.value(mode.name);
    } else {
      command.file = parser.value(mode.name).toLocal8Bit().toStdString();
    }
    ++modes;
  }
  if (modes > 1) return UsageError("only one of the modes can run at a time");
  if (command.mode == CommandLine::Mode::Window) {
    if (parser.isSet(program) || parser.isSet(shape) || parser.isSet(step.frames) ||
        parser.isSet(step.ms)) {
      return UsageError("--program goes with --export, --shape with --export or --play");
    }
    return command;
  }
  const QString error = ReadRunOptions(parser, program_name, program, shape, step, &command);
  return error.isEmpty() ? command : UsageError(error);
}

namespace {

int RunExport(const CommandLine& command) {
  InitDDFS();
  InstallStopHandlers();
  const bool terminal = ::isatty(STDERR_FILENO) == 1;
  const size_t steps = command.program->Steps.size();
  int shown_percent = -1;
  size_t shown_step = 0;
  const auto report = [&](size_t step, int percent) {
    if (terminal && (percent != shown_percent || step != shown_step)) {
      std::fprintf(stderr, "\rzelkgen: writing %s: step %zu of %zu, %d%%", command.file.c_str(),
                   step, steps, percent);
      shown_percent = percent;
      shown_step = step;
    }
    return stop_requested == 0;
  };
  std::string error;
  const bool written = ExportProgram(*command.program, command.shape, command.file,
                                     command.step_frames, report, &error);
  if (terminal && shown_step != 0) std::fputc('\n', stderr);
  if (written) return 0;
  std::fprintf(stderr, "zelkgen: %s\n", error.c_str());
  return 1;
}

}  // namespace

int RunWithoutWindow(const CommandLine& command) {
  switch (command.mode) {
    case CommandLine::Mode::Export:
      return RunExport(command);
    case CommandLine::Mode::Play:
      return PlayWithoutWindow(*command.program, command.shape, command.step_ms);
    case CommandLine::Mode::Done:
    case CommandLine::Mode::Window:
      break;
  }
  return command.exit_status;
}
