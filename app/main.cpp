// zelkgen: plays the treatment programs of the main window through the default sound output.
// Chooses the face: the tone generator's command, a mode without a window (cli/), or the windows.
#include <string>

#include "application.h"
#include "command_line.h"
#include "process_signals.h"
#include "tone_command.h"

int main(int argc, char** argv) {
  if (IsToneCommand(argc, argv)) return RunToneCommand(argc, argv);
  // First of all, so that a quit signal at any moment of the start ends the program in order.
  CatchQuitSignals();
  const CommandLine command = ParseCommandLine(argc, argv);
  if (command.mode != CommandLine::Mode::Window) return RunWithoutWindow(command);
  return RunWindows(argc, argv, command.files.empty() ? std::string() : command.files[0]);
}
