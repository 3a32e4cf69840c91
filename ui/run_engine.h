// RunEngine: the window face's treatment run, beside the windows. It holds the run
// (treatment_run.h) and its countdown (step_countdown.h) from the windows' creation to their end,
// and keeps a program file's program alive while it plays. The windows never hold the run: they
// ask for a run, a step's end, a pause or the program's end through the slots below, and follow
// the run and its countdown through their signals.
//
// A run plays inside the slot that asks for it, each step waiting in the wait the windows give
// (the Current frequency window's modal display), so a program button's click returns when its
// run has ended, and the step timer's event and Skip are taken inside that wait.
//
// State: the run and its countdown. Thread of the windows only.
#pragma once

#include <QObject>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <memory>

#include "step_countdown.h"
#include "tone_gen.h"
#include "treatment_programs.h"
#include "treatment_run.h"

class RunEngine : public QObject {
  Q_OBJECT

 public:
  // tone_gen, step_timer and stream_handle are the main window's ToneGen1, Timer1 and
  // StreamHandle; they are not owned and must outlive the engine. window: its native handle goes
  // to each step's output opening. wait: shows a step and returns when it has ended (false when
  // the user gave the step up).
  RunEngine(TToneGen* tone_gen, QTimer* step_timer, uint32_t* stream_handle, QWidget* window,
            TreatmentRun::StepWait wait, QObject* parent = nullptr);

  // To follow: the run's and the countdown's signals, and the run's state.
  const TreatmentRun* Treatment() const { return &run_; }
  const StepCountdown* Countdown() const { return &countdown_; }

 public slots:
  // Plays a built-in program, which lives as long as the process. Nothing is done while a run is
  // under way.
  void Play(const TreatmentProgram& program);
  // Plays a program file's program, kept until its run has ended.
  void PlayFile(std::shared_ptr<const TreatmentProgram> program);
  // The step timer's event, Skip, the Pause button, and the end of the program.
  void EndStepByTimer() { run_.EndStepByTimer(); }
  void EndStepBySkip() { run_.EndStepBySkip(); }
  void TogglePause() { run_.TogglePause(); }
  void EndProgram() { run_.EndProgram(); }

 private:
  TreatmentRun run_;
  StepCountdown countdown_;
  QWidget* window_;  // outlives the engine
  TreatmentRun::StepWait wait_;
};
