// The command line. No options open the main window, with a program file given as the one argument
// opened in it; a mode option (--export, --play) runs a program without any window or display
// instead, and --check, --list and --print-program work with program files (program_file.h);
// --help and --version print and end. Qt's own window options (-platform, -style, ...) are
// accepted and left to the window's QApplication.
//
// A new mode is one more row in the mode table of command_line.cpp, a value of Mode and a
// runner; the run options (--program, --shape) are shared by the modes, and a mode's own value
// may name the program instead (--play zelk). A program is a built-in's name, a program file, or
// the name of one in the program folders without folder and extension (--play morning).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ddfs.h"
#include "generator_output.h"
#include "program_export.h"
#include "step_timer.h"
#include "treatment_programs.h"

struct CommandLine {
  enum class Mode {
    Window,        // no mode option: the main window, with a program file to open or none
    Export,        // --export FILE: the program written to FILE
    Play,          // --play PROGRAM: the program played without a window (headless_play.h)
    Check,         // --check FILE...: the program files checked, their errors listed
    List,          // --list: the built-in programs and those in the program folders
    PrintProgram,  // --print-program zelk|bx: a built-in program as a program file
    ListDevices,   // --list-devices: the sound outputs, as --device takes them
    Identify,      // --identify DEVICE: a signal generator's model and limits (generator_command.h)
    Done,          // nothing left to run: help or version printed, or a usage error
  };
  Mode mode = Mode::Window;
  int exit_status = 0;  // for Done: 0 after help or version, 2 after a usage error

  const TreatmentProgram* program = nullptr;  // --program zelk|bx, or --play's value
  std::string program_file;                   // --program FILE or --play FILE instead
  WaveShape shape = wsSquare;                 // --shape square|sine
  std::string device;                         // --device: --play's output, --check's generator
  GeneratorSettings generator;                // --amplitude, --offset: a generator's volts
  std::string file;                           // --export
  std::vector<std::string> files;             // --check's files; the window's program file
  uint32_t step_frames = kStepFrames;         // --test-step-frames, hidden: tests' short steps
  int step_ms = kStepMilliseconds;            // --test-step-ms, hidden: the same for --play
};

// Reads the arguments without any application object. Prints the help and the version on
// standard output and a usage error on standard error.
CommandLine ParseCommandLine(int argc, char** argv);

// Runs a command line whose mode is not the window; returns the exit status. A program file with
// errors is not run: its errors go to standard error and the status is 1. The export: DDFS as
// start-up leaves it, then the whole program into the file, with a progress line when standard
// error is a terminal; 0 when written, 1 (after one line on standard error) when not, the old
// file then untouched. The player: PlayWithoutWindow (headless_play.h). The check: every file's
// errors on standard error as FILE:LINE:COLUMN: message, checked against the family of the
// generator --device names or else the sound card (at most 100 a file, then "FILE: and N
// more errors", as for a file given to run), a line on standard output for each good one (the
// file "-" is standard input, read to its end or to Ctrl+C); 0 when all are good, 1 otherwise.
// Every file is opened as regular_file.h opens it: a pipe or a device is refused.
int RunWithoutWindow(const CommandLine& command);
