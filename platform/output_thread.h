// The output thread: where default outputs are opened and closed, so that no caller waits on a
// sound server or a desktop bus. Opening waits on both without any limit of its own (SDL connects
// to the session and system buses at its first start and to the sound server at every open), and
// a server or bus that stops answering (a frozen PulseAudio, a stopped dbus-daemon) would hold the
// caller there for as long as it does. Here the caller starts an open, goes on with its own work
// (its event loop), and looks again, waits a bounded time, or gives the open up.
//
// One thread, made at the first use, runs every open and close in the order asked, one at a
// time; an open asked for while an earlier one is stuck waits behind it. The thread and its queue
// are never destroyed, so that a call stuck in SDL may outlast everything else of the process:
// OutputThreadIdle() says whether anything is under way, and a process that must end while it is
// not ends with _exit (an exit handler could otherwise run beside, or wait for, the stuck call).
// A process that ends through exit() waits up to half a second for a close still under way.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "default_output.h"

// An open of the default output on the output thread, shared by the caller and that thread.
class PendingOpen {
 public:
  using Clock = std::chrono::steady_clock;

  // Starts OpenDefaultOutput(wanted, stream_name, driver, device) on the output thread and returns
  // at once. stream_name and driver must live as long as the program (literals, SDL's names).
  static std::shared_ptr<PendingOpen> Start(const SDL_AudioSpec& wanted, const char* stream_name,
                                            const char* driver = nullptr,
                                            const std::string& device = {});

  // Waits until the open has finished or until deadline; true when it has finished.
  bool WaitUntil(Clock::time_point deadline);
  bool Finished() { return WaitUntil(Clock::time_point::min()); }

  // Once finished: how it went, and for Opened the output, which then belongs to the caller (a
  // second call gets nullptr).
  OpenResult Result();
  std::unique_ptr<DefaultOutput> TakeOutput();

  // The caller no longer wants the output: an open not yet begun is skipped, one under way is
  // closed on the output thread once it has opened, one finished is closed there at once.
  void Abandon();

 private:
  PendingOpen(const SDL_AudioSpec& wanted, const char* stream_name, const char* driver,
              const std::string& device);
  void Run();  // on the output thread

  const SDL_AudioSpec wanted_;
  const char* const stream_name_;
  const char* const driver_;
  const std::string device_;
  std::mutex mutex_;
  std::condition_variable finished_cv_;
  bool finished_ = false;
  bool abandoned_ = false;
  OpenResult result_ = OpenResult::NoDevice;
  std::unique_ptr<DefaultOutput> output_;
};

// The system's outputs (ListOutputs), asked on the output thread so that a window never waits on
// a sound server: Start returns at once, Result is empty until the answer is there.
class PendingList {
 public:
  static std::shared_ptr<PendingList> Start();
  std::optional<OutputList> Result();

 private:
  std::mutex mutex_;
  bool finished_ = false;
  OutputList list_;
};

// Closes output on the output thread (CloseDefaultOutput, waking an audio thread stuck on its
// server) and returns at once; a close takes some 50 ms even when all goes well (SDL lets the
// device play two more buffers). The caller pauses the output first, so that its callback is not
// called again whatever the close takes.
void CloseOnOutputThread(std::unique_ptr<DefaultOutput> output);

// True when no open or close is under way or waiting on the output thread.
bool OutputThreadIdle();
// Waits up to limit until OutputThreadIdle(); its value then. For the end of a process (whose
// exit handlers must not run beside a call stuck in SDL) and for tests.
bool WaitForOutputThread(std::chrono::milliseconds limit);
