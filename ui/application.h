// Start-up and the end of the program. The windows are created in their fixed order after DDFS
// and the application object exist, and destroyed after the event loop; every way of ending the
// program (Exit, the main window's close box, a logout, SIGINT, SIGTERM, SIGHUP) is routed to
// Form1->EndApplication, so the sound stops and no further step starts whatever is running.
#pragma once

#include <string>

class RunEngine;

// Creates Form1 (with ToneGen1 and Timer1), then Form2 and Form3 hidden and the run beside them
// (run_engine.h), sets the window icon, and lets the desktop services (desktop_run_services.h)
// follow the windows' runs. Needs the QApplication.
void CreateWindows();

// The windows' run, from CreateWindows to DestroyWindows (else nullptr): to follow, not to drive.
const RunEngine* WindowsRun();

// Routes the quit signals and the session's quit request to Form1->EndApplication.
void InstallEndHandlers();

// Destroys the desktop services, the windows and their components (ToneGen1 restores the
// process's volume) and removes the end handlers.
void DestroyWindows();

// The window face of the program, once app/main.cpp has found no other mode on the command line:
// one copy per user (a later copy brings the running one's window to the front, opening
// program_file there if one is given, and ends with 0), DDFS, the application object (which takes
// Qt's own options out of the arguments), the windows with program_file opened, the event loop,
// the end.
int RunWindows(int argc, char** argv, const std::string& program_file);
