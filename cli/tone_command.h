// zelkgen tone: the tone generator component as a command. The options (tone_options.h) set a
// TToneGen's properties through its setters, starting from its defaults or from a stored form
// (--settings); then the tone is rendered (plain, or with its envelope) and
//   --export FILE.wav   written by ExportFile, the file replaced whole or not at all;
//   --play [--loop]     played through the component's sound service, until its end or, with
//                       --loop, until Ctrl+C (SIGINT, SIGTERM, SIGHUP);
//   --save-settings F   its stored form written to F, replaced the same way.
// Needs no display and no application object.
#pragma once

// True when the arguments ask for the tone command (its name is the first argument).
bool IsToneCommand(int argc, char** argv);

// Runs it; returns the exit status: 0 done, 1 a file could not be read or written, 2 a usage
// error.
int RunToneCommand(int argc, char** argv);
