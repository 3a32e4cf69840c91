#include "process_end.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "desktop_run_services.h"
#include "output_thread.h"

int EndProcess(int status) {
  // A close under way takes some 50 ms.
  const bool output_idle = WaitForOutputThread(std::chrono::milliseconds(200));
  if (output_idle && !DesktopRunServices::AnyStuck()) return status;
  std::fflush(nullptr);
  std::_Exit(status);
}
