#include "output_thread.h"

#include <cstdlib>
#include <deque>
#include <functional>
#include <thread>
#include <utility>

namespace {

constexpr auto kExitWait = std::chrono::milliseconds(500);

class OutputThread;
OutputThread& TheOutputThread();

class OutputThread {
 public:
  void Post(std::function<void()> job) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!started_) {
        // Detached: nothing ever waits without limit for a thread that may be stuck in SDL.
        std::thread([this] { Serve(); }).detach();
        started_ = true;
        // A close still under way when the process ends is let finish before the libraries'
        // own clean-up runs beside it.
        std::atexit([] { TheOutputThread().WaitIdle(kExitWait); });
      }
      jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
  }

  bool Idle() {
    std::lock_guard<std::mutex> lock(mutex_);
    return jobs_.empty() && !busy_;
  }

  bool WaitIdle(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    return idle_.wait_for(lock, limit, [this] { return jobs_.empty() && !busy_; });
  }

 private:
  [[noreturn]] void Serve() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return !jobs_.empty(); });
      std::function<void()> job = std::move(jobs_.front());
      jobs_.pop_front();
      busy_ = true;
      lock.unlock();
      job();
      lock.lock();
      busy_ = false;
      if (jobs_.empty()) idle_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::deque<std::function<void()>> jobs_;
  bool busy_ = false;
  bool started_ = false;
};

// Never destroyed: its thread may still be inside SDL when the process ends.
OutputThread& TheOutputThread() {
  static OutputThread* const thread = new OutputThread;
  return *thread;
}

void CloseAndDelete(std::unique_ptr<DefaultOutput> output) {
  CloseDefaultOutput(output.get(), true);
}

}  // namespace

PendingOpen::PendingOpen(const SDL_AudioSpec& wanted, const char* stream_name, const char* driver,
                         const std::string& device)
    : wanted_(wanted), stream_name_(stream_name), driver_(driver), device_(device) {}

std::shared_ptr<PendingOpen> PendingOpen::Start(const SDL_AudioSpec& wanted,
                                                const char* stream_name, const char* driver,
                                                const std::string& device) {
  std::shared_ptr<PendingOpen> open(new PendingOpen(wanted, stream_name, driver, device));
  TheOutputThread().Post([open] { open->Run(); });
  return open;
}

void PendingOpen::Run() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (abandoned_) {
      finished_ = true;
      return;
    }
  }
  // The callback's data points into the output, so it has its own place from the start.
  auto output = std::make_unique<DefaultOutput>();
  const OpenResult result =
      OpenDefaultOutput(wanted_, stream_name_, output.get(), driver_, device_);
  std::unique_lock<std::mutex> lock(mutex_);
  finished_ = true;
  result_ = result;
  if (abandoned_) {
    lock.unlock();
    CloseAndDelete(std::move(output));
    return;
  }
  if (result == OpenResult::Opened) output_ = std::move(output);
  lock.unlock();
  finished_cv_.notify_all();
}

bool PendingOpen::WaitUntil(Clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  return finished_cv_.wait_until(lock, deadline, [this] { return finished_; });
}

OpenResult PendingOpen::Result() {
  std::lock_guard<std::mutex> lock(mutex_);
  return result_;
}

std::unique_ptr<DefaultOutput> PendingOpen::TakeOutput() {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::move(output_);
}

void PendingOpen::Abandon() {
  std::unique_ptr<DefaultOutput> opened;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    abandoned_ = true;
    opened = std::move(output_);
  }
  if (opened) CloseOnOutputThread(std::move(opened));
}

void CloseOnOutputThread(std::unique_ptr<DefaultOutput> output) {
  if (!output) return;
  // std::function needs a copyable job: the output travels as a shared pointer.
  std::shared_ptr<DefaultOutput> closing(std::move(output));
  TheOutputThread().Post([closing] { CloseDefaultOutput(closing.get(), true); });
}

std::shared_ptr<PendingList> PendingList::Start() {
  auto list = std::make_shared<PendingList>();
  TheOutputThread().Post([list] {
    OutputList found = ListOutputs();
    std::lock_guard<std::mutex> lock(list->mutex_);
    list->list_ = std::move(found);
    list->finished_ = true;
  });
  return list;
}

std::optional<OutputList> PendingList::Result() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!finished_) return std::nullopt;
  return list_;
}

bool OutputThreadIdle() {
  return TheOutputThread().Idle();
}

bool WaitForOutputThread(std::chrono::milliseconds limit) {
  return TheOutputThread().WaitIdle(limit);
}
