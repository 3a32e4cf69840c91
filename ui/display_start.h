// Opening the display without Qt's abort: when the application object cannot open one (none
// set, one that does not answer), the program ends with one line and status 1 instead of Qt's
// long text about reinstalling. Qt's other messages of the start are held back meanwhile and
// passed on once the display is open.
//
// And losing it later without Qt's exit(): when the connection to the display breaks (the X
// server or the compositor crashes, a logout leaves the program behind), Qt warns and calls
// exit(1), whose handlers would destroy windows that have no display any more and wait on
// threads. At that warning, instead, the program's own last steps run, one line says what
// happened, and the process ends with _exit(1). Main thread only.
#pragma once

// Call just before creating the QApplication.
void HoldStartMessages();

// Call just after it exists: Qt's own message handling again, with the held messages.
void PassStartMessages();

// From now on a broken display connection runs last_steps (on the main thread), prints
// "zelkgen: the display went away (<Qt's words>)" and ends the process with status 1.
void EndWhenDisplayIsLost(void (*last_steps)());
