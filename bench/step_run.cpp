// Plays the first step of the BX virus program through the treatment run, as the program does,
// with a step timer of the given interval (180000 ms unless given), and prints how long the step
// lasted by the run's own clock, pauses left out. Given pauses, the step is paused PAUSE AT ms
// after its start (or the previous resume) for PAUSE ms, for each pair in turn.
// bench/step_length.sh and bench/step_frames.sh measure the same step in a recording.
//
//   step_run [INTERVAL MS [PAUSE AT MS PAUSE MS]...]
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

#include "ddfs.h"
#include "step_timer.h"
#include "treatment_run.h"

int main(int argc, char** argv) {
  const long interval = argc >= 2 ? std::strtol(argv[1], nullptr, 10) : kStepMilliseconds;
  struct Pause {
    long at, ms;
  };
  std::vector<Pause> pauses;
  bool usable = interval > 0 && argc % 2 == 0;
  for (int k = 2; usable && k + 1 < argc; k += 2) {
    pauses.push_back({std::strtol(argv[k], nullptr, 10), std::strtol(argv[k + 1], nullptr, 10)});
    usable = pauses.back().at >= 0 && pauses.back().at < interval && pauses.back().ms > 0;
  }
  if (argc < 2 || !usable) {
    std::fprintf(stderr, "usage: %s [INTERVAL MS [PAUSE AT MS PAUSE MS]...]\n", argv[0]);
    return 2;
  }
  InitDDFS();
  QCoreApplication application(argc, argv);
  const std::unique_ptr<QTimer> step_timer(CreateStepTimer(nullptr, static_cast<int>(interval)));
  uint32_t stream = 0;
  TreatmentRun run(step_timer.get(), &stream);

  using Clock = std::chrono::steady_clock;
  Clock::time_point started, ended;
  Clock::duration paused{};
  std::function<void(size_t)> pause_from = [&](size_t k) {
    if (k == pauses.size()) return;
    QTimer::singleShot(int(pauses[k].at), [&, k] {
      const Clock::time_point from = Clock::now();
      run.PauseStep();
      QTimer::singleShot(int(pauses[k].ms), [&, k, from] {
        run.ResumeStep();
        paused += Clock::now() - from;
        pause_from(k + 1);
      });
    });
  };
  QObject::connect(&run, &TreatmentRun::StepStarted, [&] {
    started = Clock::now();
    pause_from(0);
  });
  // The moment the step ends, before its output is released (which takes a while).
  QObject::connect(&run, &TreatmentRun::StepEnded, [&] {
    if (ended == Clock::time_point{}) ended = Clock::now();
  });
  int failed = 0;
  QObject::connect(&run, &TreatmentRun::AudioFailed, [&](const QString& message, int code) {
    std::fprintf(stderr, "step_run: %s (error code: %d)\n", message.toUtf8().constData(), code);
    failed = 1;
  });
  run.Run(BXVirusProgram, [&](const TreatmentStep&) {
    QEventLoop loop;
    QObject::connect(&run, &TreatmentRun::StepEnded, &loop, &QEventLoop::quit);
    loop.exec();
    run.EndProgram();  // one step only
    return true;
  });
  if (failed) return 1;
  const auto ms = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d); };
  std::printf("step by the run's clock: %.3f ms (interval %ld ms)",
              ms(ended - started - paused).count(), interval);
  if (!pauses.empty()) {
    std::printf(", paused %zu times for %.3f ms in all", pauses.size(), ms(paused).count());
  }
  std::printf("\n");
  return 0;
}
