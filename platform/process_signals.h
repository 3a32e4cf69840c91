// The signals the process answers: the quit signals (SIGINT, SIGTERM, SIGHUP: Ctrl+C, kill, a
// closed terminal, a logout) for every face, and job control (SIGTSTP, SIGCONT) for the player.
// One catcher and one self-pipe for all of them. A handler only notes a quit signal and writes the
// signal's number into the pipe; a face with an event loop watches CaughtSignalsFd() (a socket
// notifier, in whatever event loop runs, a modal one included) and reads the numbers with
// NextCaughtSignal(); a face without one (--export) asks QuitSignalArrived() as it goes. A signal
// caught before the face watches waits in the pipe until it does.
//
// The pipe's rules, the same for every signal: made at the first catch and never closed, so a
// handler running late never writes into a reused descriptor; both ends close-on-exec (nothing
// started from the program inherits them) and non-blocking (a full pipe drops a byte in the
// handler instead of hanging it; the reader stops when it is empty). The handlers are installed
// with SA_RESTART: a call waiting in a library (SDL's output, D-Bus, a file written) goes on
// instead of failing with EINTR, which those libraries do not all expect; the event loop wakes
// through the pipe all the same.
//
// SIGPIPE is ignored with the quit signals: a reader that goes away (`zelkgen --play bx | head -c
// 10`, a closed tee, a dropped SSH session) then only fails the write, which the faces drop,
// instead of ending the program in the middle of a run.
#pragma once

// Installs the quit signals' handlers (again, after ReleaseQuitSignals); harmless when in place.
void CatchQuitSignals();
// Gives the quit signals their default handling back: a signal in the last moments of the program
// (its windows are gone, its sound has stopped) ends it at once.
void ReleaseQuitSignals();
// The number of the latest quit signal caught, 0 before any.
int QuitSignalArrived();

// SIGTSTP and SIGCONT are caught into the pipe, or given their default handling back.
void CatchJobSignals();
void ReleaseJobSignals();

// The pipe's read end to watch; -1 when no pipe could be made (no signal is then caught into it,
// QuitSignalArrived still answers).
int CaughtSignalsFd();
// The next signal number waiting in the pipe, 0 when none waits.
int NextCaughtSignal();
