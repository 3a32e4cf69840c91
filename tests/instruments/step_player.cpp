#include "step_player.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

PlayResult PlaySteps(StepOutput& output, const PlayScript& script) {
  PlayResult result;
  QElapsedTimer clock;
  clock.start();
  if (!output.Open()) {
    result.Error = output.LastError();
    return result;
  }
  QEventLoop loop;
  QTimer step_timer;
  step_timer.setSingleShot(true);
  step_timer.setTimerType(Qt::PreciseTimer);
  size_t index = 0;
  bool ended = false;
  auto fail = [&](const StepOutputError& error) {
    result.Error = error;
    result.FailedAtMs = clock.elapsed();
    step_timer.stop();
    loop.quit();
  };
  output.SetFailureHandler(fail);
  auto start = [&] {
    if (index >= script.Steps.size()) {
      result.Completed = true;
      loop.quit();
      return;
    }
    result.StepStartsMs.push_back(clock.elapsed());
    if (!output.StartStep(script.Steps[index])) {
      fail(output.LastError());
      return;
    }
    const bool first = index == 0;
    step_timer.start(first && script.SkipAtMs >= 0 ? script.SkipAtMs
                                                   : script.Steps[index].DurationMs);
  };
  QObject::connect(&step_timer, &QTimer::timeout, [&] {
    output.EndStep();
    ++index;
    start();
  });
  if (script.PauseAtMs >= 0) {
    QTimer::singleShot(script.PauseAtMs, &loop, [&] {
      step_timer.stop();
      const int64_t left = script.Steps[0].DurationMs - output.DeliveredMs();
      if (!output.Pause()) return fail(output.LastError());
      QTimer::singleShot(script.PauseForMs, &loop, [&, left] {
        if (!output.Resume()) return fail(output.LastError());
        step_timer.start(static_cast<int>(left));
      });
    });
  }
  if (script.EndRunAtMs >= 0) {
    QTimer::singleShot(script.EndRunAtMs, &loop, [&] {
      ended = true;
      step_timer.stop();
      loop.quit();
    });
  }
  // A bound on the whole play, so that a fault shows as a failure, never a hang.
  int total = 20000 + script.PauseForMs;
  for (const StepRequest& step : script.Steps) total += step.DurationMs;
  QTimer::singleShot(total, &loop, [&] {
    fail({StepOutputErrorCode::NoReply, "the player gave up", ""});
  });
  QTimer::singleShot(0, &loop, start);
  loop.exec();
  output.SetFailureHandler(nullptr);
  if (!ended) output.Close();
  return result;
}
