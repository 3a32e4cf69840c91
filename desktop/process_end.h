// How a face ends the process once it is done. Normally through main's return and the exit
// handlers. But a thread may still wait outside the program: the output thread inside SDL on a
// frozen sound server or a stopped bus (platform/output_thread.h), the desktop services' thread
// on D-Bus (desktop_run_services.h). Exit handlers would then run beside it, or wait for it
// without end (Qt's D-Bus connections wait for their thread), so the process ends at once with
// _exit instead, its output flushed.
#pragma once

// Waits up to 200 ms for the output thread; returns status when nothing waits any more,
// else ends the process with it.
int EndProcess(int status);
