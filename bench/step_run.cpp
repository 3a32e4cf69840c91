// Plays the first step of the BX virus program through the treatment run, as the program does,
// with a step timer of the given interval (180000 ms unless given), and prints how long the step
// lasted by the run's own clock, pauses left out. Given a pause, the step is paused PAUSE AT ms
// after its start for PAUSE ms. bench/step_length.sh measures the same step in a recording.
//
//   step_run [INTERVAL MS [PAUSE AT MS PAUSE MS]]
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "ddfs.h"
#include "step_timer.h"
#include "tone_gen.h"
#include "treatment_run.h"

int main(int argc, char** argv) {
  const long interval = argc >= 2 ? std::strtol(argv[1], nullptr, 10) : kStepMilliseconds;
  const long pause_at = argc == 4 ? std::strtol(argv[2], nullptr, 10) : 0;
  const long pause_ms = argc == 4 ? std::strtol(argv[3], nullptr, 10) : 0;
  if (argc == 3 || argc > 4 || interval <= 0 || pause_at < 0 || pause_at >= interval ||
      pause_ms < 0) {
    std::fprintf(stderr, "usage: %s [INTERVAL MS [PAUSE AT MS PAUSE MS]]\n", argv[0]);
    return 2;
  }
  InitDDFS();
  QCoreApplication application(argc, argv);
  TToneGen tone_gen(nullptr);
  const std::unique_ptr<QTimer> step_timer(CreateStepTimer(nullptr, static_cast<int>(interval)));
  uint32_t stream = 0;
  TreatmentRun run(&tone_gen, step_timer.get(), &stream);

  using Clock = std::chrono::steady_clock;
  Clock::time_point started, ended;
  Clock::duration paused{};
  QObject::connect(&run, &TreatmentRun::StepStarted, [&] {
    started = Clock::now();
    if (pause_ms == 0) return;
    QTimer::singleShot(int(pause_at), [&] {
      const Clock::time_point from = Clock::now();
      run.PauseStep();
      QTimer::singleShot(int(pause_ms), [&, from] {
        run.ResumeStep();
        paused = Clock::now() - from;
      });
    });
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
  if (pause_ms > 0) std::printf(", paused %.3f ms from %ld ms on", ms(paused).count(), pause_at);
  std::printf("\n");
  return 0;
}
