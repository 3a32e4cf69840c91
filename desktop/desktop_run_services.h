// What the desktop sees of a treatment run, driven by the run (Follow) or through its slots: from
// the first step to the end the computer is kept awake (RunInhibitor), except while a step is
// paused; the task bar entry shows the share of the run's time gone by (LauncherProgress), which
// stands still while paused; and the end sends one notification (RunNotifier). Nothing reaches
// D-Bus before the first step of the first run.
//
// The services run on a thread of their own, made at the first step: connecting to a bus, and
// some of Qt's D-Bus calls (a signal subscription asks the bus who owns a name), wait for the bus
// without a limit of their own, and a bus that stops answering must never hold the window thread
// or the quit signals. The slots only pass the work on, in order. At destruction the services
// give back what they hold on their thread, which is waited for up to 300 ms; a thread still
// stuck on a bus then is left to the end of the process (AnyStuck, process_end.h).
//
// Window thread only.
#pragma once

#include <sys/types.h>

#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

#include "launcher_progress.h"
#include "realtime_audio.h"
#include "run_inhibitor.h"
#include "run_notifier.h"
#include "step_countdown.h"
#include "treatment_run.h"

class QThread;

// How the desktop names the way a run ended: completed or skipped through are Finished, a run
// broken off (its window closed, the program ended) Stopped, an audio failure Failed.
RunOutcome RunOutcomeOf(TreatmentRun::RunEnd how);

class DesktopRunServices : public QObject {
  Q_OBJECT

 public:
  explicit DesktopRunServices(QObject* parent = nullptr);
  // Program end while a run holds them: the inhibitor is released and the progress hidden.
  ~DesktopRunServices() override;

  // Drives the services from run's signals: each step whose output has opened (StepOpened) is a
  // StepStarted, each tone that starts or starts again an AudioThreadStarted once its thread is
  // known, a pause and a resume StepPaused and StepResumed, countdown's time left a
  // RunProgress, the run's end a RunEnded with the program's name, how it ended (RunOutcomeOf)
  // and, for a failure, the message and "(error code: N)" as the detail. run and countdown (which
  // follows run) must outlive the object.
  void Follow(const TreatmentRun* run, const StepCountdown* countdown);

  // True when the thread of some destroyed object was still waiting on a bus.
  static bool AnyStuck();

 public slots:
  // Step step (from 1) of step_count of the program named program_name ("Zelk general") begins,
  // before its tone starts, so that a step that then fails has been announced. The first step
  // of a run takes the inhibitor ("Playing <program_name>"); each one shows the share of the run
  // before it, (step - 1) / step_count.
  void StepStarted(const QString& program_name, int step, int step_count);
  // The run's time gone by, as a share of its whole time (RunElapsedFraction).
  void RunProgress(const StepProgress& progress);
  // A paused step gives the inhibitor back; its resume takes it again.
  void StepPaused();
  void StepResumed(const QString& program_name);
  // The run ended at step step of step_count, how says in what way; detail (e.g. the audio error
  // message) goes into the notification's body. Releases the inhibitor, hides the progress and
  // sends one notification. Called once per run, whatever the way it ends.
  void RunEnded(const QString& program_name, RunOutcome how, int step, int step_count,
                const QString& detail = {});
  // The output's audio thread (a kernel thread id) plays: the real-time broker is asked to
  // schedule it (realtime_audio.h); RealtimeAnswered says how that went.
  void AudioThreadStarted(pid_t thread);

 signals:
  // From the services' thread; without a broker the thread simply plays at its normal priority.
  void RealtimeAnswered(pid_t thread, const RealtimeAnswer& answer);

 private:
  // The services themselves, living on the thread.
  struct Services {
    RunInhibitor inhibitor;
    LauncherProgress progress;
    RunNotifier notifier;
    RealtimeAudio realtime;
  };
  // Looks for the audio thread of the output that has just started to play, for a short while.
  void WatchAudioThread();
  void LookForAudioThread();
  // Runs work(services) on the services' thread, after everything passed on before; the
  // services are made there at the first work.
  template <typename Work>
  void OnServicesThread(Work work);

  QString program_name_;  // of the run followed
  QTimer audio_thread_look_;
  int audio_thread_looks_ = 0;
  QThread* thread_ = nullptr;
  QObject* context_ = nullptr;  // on the thread: where the work runs
  // Touched on the thread only; shared with the work passed on, which may outlive the object
  // when the thread is stuck.
  std::shared_ptr<std::unique_ptr<Services>> services_;
};
