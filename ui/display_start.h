// Opening the display without Qt's abort: when the application object cannot open one (none
// set, one that does not answer), the program ends with one line and status 1 instead of Qt's
// long text about reinstalling. Qt's other messages of the start are held back meanwhile and
// passed on once the display is open. Main thread only.
#pragma once

// Call just before creating the QApplication.
void HoldStartMessages();

// Call just after it exists: Qt's own message handling again, with the held messages.
void PassStartMessages();
