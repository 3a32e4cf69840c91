// The player without a window, zelkgen --play: the treatment run's second face beside the main
// window. The same run engine (run_engine.h), step timer, desktop services (inhibitor, task bar
// progress, notification) and one-copy lock as the window, with a QCoreApplication only, so no
// display is needed. Each step waits in an event loop of its own until the step ends; SIGINT,
// SIGTERM and SIGHUP end the run at once, as Exit ends the window's. On a terminal p or space pause
// and resume the step, as the window's Pause does; Ctrl+Z (SIGTSTP) pauses it too, releases the
// output and then stops the process, and fg or bg (SIGCONT) play it on (player_terminal.h).
//
// Standard output: while a step plays, "BX virus: step 1 of 2, 2128HZ, 2:41 left in the step,
// 5:41 left in the run", and ", paused" after it while paused; on a terminal one line rewritten
// every second, shortened to fit the terminal's width, otherwise one line per step as it starts
// and as it is paused or resumed. At the end, how the run ended ("BX virus: finished", "BX
// virus: stopped at step 1 of 2", "BX virus: failed at step 1 of 2").
// Standard error: an audio failure's message and its "(error code: N)" line, as the window's
// message box shows them, and what to check when no output could be had; a refusal when another
// copy runs. On a terminal a message first ends the status line, which comes back below it.
// Neither output ever holds the run up: a reader that has gone or a stopped terminal only loses
// lines (console_output.h). The process ends within moments of the run's end even when a sound
// server or a bus hangs (process_end.h).
//
// On a signal generator (--device fy:PORT, jds:PORT, scpi:ADDRESS) the same run plays through the
// generator's step output: before the run the generator is opened and the program checked against
// what it can play (a program file's problems as FILE:LINE:COLUMN: message, a built-in's by step),
// and a failure's message is followed by its advice. The generator's outputs are off at the end,
// after Skip, an error and a quit signal (switched off at once, before the run ends).
#pragma once

#include <string>

#include "generator_output.h"
#include "treatment_programs.h"

// A signal generator to play on instead of the sound card.
struct PlayGenerator {
  std::string Device;  // as --device names it
  GeneratorSettings Settings;
  std::string ProgramFile;  // the program's file, for its lines; empty for a built-in
};

// Plays program with the "Output signal" shape (wsSquare, wsSine) through the chosen sound output,
// or generator when one is given; step_ms is the step timer's period (shorter only for tests).
// Returns the exit status: 0 for a completed run and for one ended by a signal, 1 for an audio or
// generator failure, a program the generator cannot play, or when another copy runs.
int PlayWithoutWindow(const TreatmentProgram& program, WaveShape shape, int step_ms,
                      const PlayGenerator* generator = nullptr);
