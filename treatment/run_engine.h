// RunEngine: the treatment run of a face (the windows, or --play without them), beside it. It
// holds the run (treatment_run.h) and its countdown (step_countdown.h) from the face's start to
// its end, makes the output each run plays on (the sound card unless told otherwise), and keeps a
// program file's program alive while it plays. The faces never hold the run: they ask for a run,
// a step's end, a pause or the program's end through the slots below, and follow the run and its
// countdown through their signals.
//
// A run plays inside the slot that asks for it, each step waiting in the wait the face gives (the
// Current frequency window's modal display, or an event loop), so Play returns when its run has
// ended, and the step timer's event and Skip are taken inside that wait.
//
// State: the run, its countdown and the output of the current run. QtCore only; thread of the face.
#pragma once

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>

#include "step_countdown.h"
#include "step_output.h"
#include "treatment_programs.h"
#include "treatment_run.h"

class RunEngine : public QObject {
  Q_OBJECT

 public:
  // step_timer and stream_handle are the face's Timer1 and StreamHandle; they are not owned and
  // must outlive the engine. window_handle: read at each run, the native window handle for the
  // sound card's open (may be empty). wait: shows a step and returns when it has ended (false when
  // the user gave the step up).
  RunEngine(QTimer* step_timer, uint32_t* stream_handle, std::function<void*()> window_handle,
            TreatmentRun::StepWait wait, QObject* parent = nullptr);
  ~RunEngine() override;

  // The output of the runs to come: make is called at each run's start and its output is let go
  // at the run's end. Empty, or a make that gives nullptr: the sound card.
  void UseOutput(std::function<std::unique_ptr<StepOutput>()> make);

  // To follow: the run's and the countdown's signals, and the run's state.
  const TreatmentRun* Treatment() const { return &run_; }
  const StepCountdown* Countdown() const { return &countdown_; }
  // The current run's output: the sound card's is not made, so nullptr then and between runs.
  StepOutput* MadeOutput() const { return output_.get(); }

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
  // Pause or resume only (a stopped terminal's job control); true when done.
  bool PauseStep() { return run_.PauseStep(); }
  bool ResumeStep() { return run_.ResumeStep(); }

 private:
  TreatmentRun run_;
  StepCountdown countdown_;
  std::function<void*()> window_handle_;
  TreatmentRun::StepWait wait_;
  std::function<std::unique_ptr<StepOutput>()> make_output_;
  std::unique_ptr<StepOutput> output_;
};
