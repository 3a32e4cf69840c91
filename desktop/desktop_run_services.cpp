#include "desktop_run_services.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QPointer>
#include <QThread>
#include <atomic>

#include "audio_output.h"

namespace {

constexpr int kEndWaitMs = 300;
// The audio thread first asks for sound within a buffer or two of the play; a device that opens
// late is looked for up to a second.
constexpr int kAudioThreadLookMs = 20;
constexpr int kAudioThreadLooks = 50;
std::atomic<bool> any_stuck{false};

}  // namespace

DesktopRunServices::DesktopRunServices(QObject* parent)
    : QObject(parent), services_(std::make_shared<std::unique_ptr<Services>>()) {
  qRegisterMetaType<RealtimeAnswer>("RealtimeAnswer");
  audio_thread_look_.setInterval(kAudioThreadLookMs);
  connect(&audio_thread_look_, &QTimer::timeout, this, &DesktopRunServices::LookForAudioThread);
}

DesktopRunServices::~DesktopRunServices() {
  if (thread_ == nullptr) return;
  // The services go where they live, which gives back what they hold; then the thread ends.
  OnServicesThread([](std::unique_ptr<Services>& services) {
    services.reset();
    QThread::currentThread()->quit();
  });
  if (thread_->wait(QDeadlineTimer(kEndWaitMs))) {
    delete context_;
    delete thread_;
    return;
  }
  // Still waiting on a bus: neither the thread nor what it holds can be destroyed; the process
  // ends without waiting for them.
  any_stuck = true;
}

bool DesktopRunServices::AnyStuck() {
  return any_stuck;
}

template <typename Work>
void DesktopRunServices::OnServicesThread(Work work) {
  if (thread_ == nullptr) {
    thread_ = new QThread;
    thread_->setObjectName("desktop services");
    context_ = new QObject;
    context_->moveToThread(thread_);
    thread_->start();
  }
  QMetaObject::invokeMethod(
      context_,
      [services = services_, work = std::move(work)] {
        if (!*services) *services = std::make_unique<Services>();
        work(*services);
      },
      Qt::QueuedConnection);
}

RunOutcome RunOutcomeOf(TreatmentRun::RunEnd how) {
  switch (how) {
    case TreatmentRun::RunEnd::Completed:
    case TreatmentRun::RunEnd::SkippedThrough:
      return RunOutcome::Finished;
    case TreatmentRun::RunEnd::Closed:
    case TreatmentRun::RunEnd::ProgramEnded:
      return RunOutcome::Stopped;
    case TreatmentRun::RunEnd::Failed:
      return RunOutcome::Failed;
  }
  return RunOutcome::Stopped;
}

void DesktopRunServices::Follow(const TreatmentRun* run, const StepCountdown* countdown) {
  connect(run, &TreatmentRun::RunStarted, this, [this](const TreatmentProgram& program) {
    program_name_ = QString::fromStdString(program.Name);
  });
  connect(run, &TreatmentRun::StepOpened, this,
          [this](int step, int steps) { StepStarted(program_name_, step, steps); });
  connect(countdown, &StepCountdown::TimeLeft, this, &DesktopRunServices::RunProgress);
  connect(run, &TreatmentRun::StepPaused, this, &DesktopRunServices::StepPaused);
  connect(run, &TreatmentRun::StepResumed, this, [this] { StepResumed(program_name_); });
  // Each of these may have opened the output afresh, with a new audio thread.
  connect(run, &TreatmentRun::StepStarted, this, &DesktopRunServices::WatchAudioThread);
  connect(run, &TreatmentRun::StepResumed, this, &DesktopRunServices::WatchAudioThread);
  connect(run, &TreatmentRun::OutputResumed, this, &DesktopRunServices::WatchAudioThread);
  connect(run, &TreatmentRun::RunEnded, this, [this](const TreatmentRun::RunResult& result) {
    const RunOutcome how = RunOutcomeOf(result.how);
    const QString detail =
        how == RunOutcome::Failed
            ? result.message + " " + QString::fromStdString(AudioErrorCodeLine(result.code))
            : QString();
    RunEnded(program_name_, how, result.step, result.steps, detail);
  });
}

void DesktopRunServices::StepStarted(const QString& program_name, int step, int step_count) {
  OnServicesThread([program_name, step, step_count](std::unique_ptr<Services>& services) {
    services->inhibitor.Hold("Playing " + program_name);
    services->progress.Show(step_count > 0 ? double(step - 1) / step_count : 0.0);
  });
}

void DesktopRunServices::RunProgress(const StepProgress& progress) {
  const double share = RunElapsedFraction(progress);
  OnServicesThread(
      [share](std::unique_ptr<Services>& services) { services->progress.Show(share); });
}

void DesktopRunServices::StepPaused() {
  OnServicesThread([](std::unique_ptr<Services>& services) { services->inhibitor.Release(); });
}

void DesktopRunServices::StepResumed(const QString& program_name) {
  // What could not be had was named when the run's first step started.
  OnServicesThread([program_name](std::unique_ptr<Services>& services) {
    services->inhibitor.Hold("Playing " + program_name, false);
  });
}

void DesktopRunServices::RunEnded(const QString& program_name, RunOutcome how, int step,
                                  int step_count, const QString& detail) {
  OnServicesThread(
      [program_name, how, step, step_count, detail](std::unique_ptr<Services>& services) {
        services->inhibitor.Release();
        services->progress.Hide();
        services->notifier.RunEnded(program_name, how, step, step_count, detail);
      });
}

void DesktopRunServices::WatchAudioThread() {
  audio_thread_looks_ = 0;
  audio_thread_look_.start();
  LookForAudioThread();
}

void DesktopRunServices::LookForAudioThread() {
  const pid_t thread = AudioOutputThreadId();
  if (thread == 0 && ++audio_thread_looks_ < kAudioThreadLooks) return;
  audio_thread_look_.stop();
  if (thread != 0) AudioThreadStarted(thread);
}

void DesktopRunServices::AudioThreadStarted(pid_t thread) {
  QPointer<DesktopRunServices> self(this);
  OnServicesThread([self, thread](std::unique_ptr<Services>& services) {
    const RealtimeAnswer answer = services->realtime.Ask(thread);
    // Told on the application's thread, where the object lives, if it is still there.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [self, thread, answer] {
          if (self) emit self->RealtimeAnswered(thread, answer);
        },
        Qt::QueuedConnection);
  });
}
