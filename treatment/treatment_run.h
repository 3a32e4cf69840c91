// TreatmentRun: a treatment program played one step after another on a step output
// (step_output.h): the sound card (sound_card_output.h) unless the run is given another. The run
// owns the step timing; the output sounds each step. It needs QtCore only, no windows: the main
// window is one face of it, which waits for each step in the Current frequency window's modal
// display; a face without windows waits in an event loop of its own.
//
// A run, all on the thread that owns the object: RunStarted, the step timer off; then per step:
// the output opened (the sound card opens for every step; any other output once, at the first),
// StepOpened (the face shows the step), the step started on the output, the step timer on (a
// fresh period), StepStarted, the face's wait until the step ends, the step timer off. After the
// last step RunEnded; an output opened once for the run is closed at every end.
//
// A step lasts one period of the step timer (180000 ms for the built-in programs); a step of a
// program file that has a duration of its own sets the timer's period to it for that step, and
// the run gives the timer its own period back when it ends.
//
// A step ends in one of these ways, each with its own order of actions:
//   the step timer   its event finds the step's time up; what the output still holds plays out
//                    (the sound card's last frames), then EndStepByTimer
//   EndStepByTimer   ToneGen1.Loop false, StepEnded, ToneGen1 stopped, output's step ended
//   EndStepBySkip    ToneGen1 stopped, ToneGen1.Loop false, output's step ended, StepEnded
//   window closed    (the wait returns false) ToneGen1 stopped, output's step ended; the run
//                    ends (RunEnd::Closed)
//   EndProgram       step timer off, ToneGen1 stopped, output's step ended, StepEnded; no
//                    further step starts (RunEnd::ProgramEnded). An output's open that waits is
//                    given up and the run ends there.
//   a failed call    the output's error read at once, the output closed, AudioFailed, the run
//                    ends (RunEnd::Failed)
//   output lost      the output failed during the step (the sound card's device did not come
//                    back within 10 s, a generator's link): step timer off, output's step ended,
//                    StepEnded (StepEnd::OutputLost); then AudioFailed with the output's message
//                    and the run ends (RunEnd::Failed)
//   resume failed    as output lost, with the failed call's message
// StepEnded is emitted only while a step runs; it is where the face ends its wait. The run does
// not hold the tone generator: it asks for ToneGen1 stopped and its Loop cleared by signals
// (ToneGenStopNeeded, ToneGenLoopClearNeeded), which the main window follows at once.
//
// A step may be paused and resumed any number of times (PauseStep, ResumeStep). A pause silences
// the output, turns the step timer off and keeps the step's time left; once the output has let go
// (the sound card 250 ms later; any other at once) PausedOutputReleased. Resuming plays the step
// on for exactly the time that was left. While paused the step can still end in any of the ways
// above.
//
// While the output is away (the sound card's device lost and being opened again: OutputLost, then
// OutputResumed) the step's time stands still, as in a pause. The step timer fires on time: a
// 180 s wait of the event loop may end up to 100 ms late (the kernel's timer slack grows with the
// wait), so the run wakes the loop shortly before the step's deadline, and the timer's own last
// wait is a short one.
//
// When the step timer fires, what the output still holds is let play out, at most its own length
// and a second more; a pause is refused meanwhile. Skip, EndProgram and every other end still
// silence the output at once. Where the output joins the next step to the current one (the sound
// card, a program file's steps), the step ends by its timer once the next has taken over, and the
// next step starts without opening the output again.
//
// State: whether a run is under way, whether a step's sound is on (StepRunning), whether the
// program is ending, how the current step ended, the step's deadline, and while paused the step's
// time left. The step timer belongs to the face.
#pragma once

#include <QDeadlineTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>

#include "sound_card_output.h"
#include "step_output.h"
#include "treatment_programs.h"

class TreatmentRun : public QObject {
  Q_OBJECT

 public:
  enum class StepEnd { Timer, Skip, ProgramEnd, OutputLost };
  Q_ENUM(StepEnd)
  enum class RunEnd {
    Completed,       // every step ran to its timer
    SkippedThrough,  // the last step ended, one step or more by Skip
    Failed,          // an audio call failed (message and code in RunResult)
    Closed,          // the face gave up a step: the user closed the Current frequency window
    ProgramEnded,    // EndProgram during a step
  };
  Q_ENUM(RunEnd)

  struct RunResult {
    RunEnd how = RunEnd::Completed;
    const TreatmentProgram* program = nullptr;
    int step = 0;     // the step, 1..steps, the run stood at when it ended
    int steps = 0;    // the program's number of steps
    QString message;  // Failed: the failed call's message ("BASS.dll error!" ...)
    int code = 0;     // Failed: the sound card's BASS_ErrorGetCode right after the failure
    QString advice;   // Failed: what the user can do, where the output says
  };

  // Waits until the step has ended. True when it ended by one of the end methods above (the
  // face returns on StepEnded); false when the face gave the step up (the user closed the
  // window), which ends the run in silence.
  using StepWait = std::function<bool(const TreatmentStep& step)>;

  // step_timer: turned on and off here, made precise, and its timeout wired to EndStepByTimer, so
  // no face wires it. stream_handle: where the sound card keeps the latest stream handle. Neither
  // is owned; both must outlive the object.
  TreatmentRun(QTimer* step_timer, uint32_t* stream_handle, QObject* parent = nullptr);

  // The output of the runs to come; nullptr: the sound card. Not owned: it must outlive its runs.
  // False, and nothing changed, during a run.
  bool UseOutput(StepOutput* output);

  // Plays program from its first step until the run ends (RunEnded has been emitted then).
  // window goes to the sound card's BASS_Init. False, and nothing done, while a run is under way
  // (its event loop turns while an output opens) or the program ends.
  bool Run(const TreatmentProgram& program, const StepWait& wait, void* window = nullptr);

  void EndStepByTimer();
  void EndStepBySkip();
  // True when the running step was playing and is now paused; false, and nothing done, otherwise.
  bool PauseStep();
  // True when the paused step plays again (or failed trying and has ended); false, and nothing
  // done, when no step is paused.
  bool ResumeStep();
  // Pause or resume, as the step stands: the one decision behind the window's Pause button and
  // the player's p key. True when something was done.
  bool TogglePause();
  // Ends the program's sound for good: no further step starts. Idempotent.
  void EndProgram();

  // The output's latest error (a failed run's, with its advice).
  const StepOutputError& OutputError() const { return output_error_; }

  // True from a step's start of sound until its wait has returned.
  bool StepRunning() const { return step_running_; }
  // During a run: the periods of the steps after the current one, and of all its steps, in
  // milliseconds.
  qint64 TimeAfterStepMs() const;
  qint64 RunTimeMs() const;
  bool Ending() const { return ending_; }
  bool Paused() const { return paused_; }
  // True while the step's output is away and being opened again (OutputLost, not yet
  // OutputResumed): the step's time stands still meanwhile.
  bool OutputAway() const { return output_away_; }
  // True while paused with the output released (PausedOutputReleased has been emitted).
  bool PauseSettled() const { return paused_ && pause_released_; }
  // The running step's time left in milliseconds: counting down while it plays, standing still
  // while it is paused; 0 between steps.
  qint64 StepTimeLeft() const;
  // The current step's period in milliseconds.
  int StepPeriod() const { return step_period_ms_; }

 signals:
  void RunStarted(const TreatmentProgram& program);
  // The output is open; the stream is not created yet. step counts from 1.
  void StepOpened(int step, int steps, const TreatmentStep& what);
  // The tone sounds and the step timer has started its period.
  void StepStarted(int step, int steps, const TreatmentStep& what);
  void StepEnded(TreatmentRun::StepEnd how);
  // The step has been paused: its tone has stopped and its time left stands still.
  void StepPaused();
  // The paused step's output has been released (250 ms after StepPaused, unless resumed before).
  void PausedOutputReleased();
  // The paused step's tone sounds again and its time left counts down.
  void StepResumed();
  // The output went away during the step; the run is trying to open it again.
  void OutputLost();
  // The tone sounds again, in the same step.
  void OutputResumed();
  // A call failed; the face shows the message (it may wait for the user). RunEnded follows.
  void AudioFailed(const QString& message, int code);
  void RunEnded(const TreatmentRun::RunResult& result);
  // Where a step's end needs the tone generator stopped, or its Loop cleared.
  void ToneGenStopNeeded();
  void ToneGenLoopClearNeeded();

 private:
  // Opens the output for a step; false when it failed or EndProgram came first.
  bool OpenOutput(bool first_step);
  bool Fail(RunResult& result, const StepOutputError& error);
  void EndRunByClosedWindow();
  bool Finish(RunResult& result, RunEnd how);
  // Starts the step timer for left_ns nanoseconds (a whole period, or a paused step's time left).
  void StartStepTimer(qint64 left_ns);
  void ApproachDeadline();
  // The step timer's event, and the wait for what the output holds to play out.
  void StepTimeUp();
  void LookAtPlayOut();
  // A step's period: its own duration, else the step timer's period at the run's start.
  int PeriodOf(const TreatmentStep& step) const;
  // Ends the output's step at once.
  void ReleaseStepOutput();
  void PausedOutputLetGo();
  // The step ends without its output; once the face's wait has returned, the run fails.
  void FailStep(const StepOutputError& error);
  void EndStepByJoin();
  // While the output is away the step's time stands still.
  void HoldStepTime();
  void RunStepTimeOn();
  void OutputAwayChanged(bool away);
  void Follow(StepOutput* output);

  QTimer* step_timer_;
  SoundCardOutput sound_card_;
  StepOutput* output_;  // the sound card, or the one UseOutput gave
  QTimer deadline_approach_;
  QDeadlineTimer step_deadline_;
  bool running_ = false;
  const TreatmentProgram* program_ = nullptr;  // while a run goes on
  size_t step_index_ = 0;                      // of the current step, from 0
  int base_period_ms_ = 0;                     // the step timer's period before the run
  bool step_running_ = false;
  bool ending_ = false;
  bool skipped_ = false;
  bool output_failed_ = false;
  StepOutputError output_error_;
  int step_period_ms_ = 0;
  bool ended_by_join_ = false;
  // The output has gone away during the step and is not back yet; the step's time left then.
  bool output_away_ = false;
  qint64 away_left_ns_ = 0;
  // Pausing: the time left when paused, and whether the output has let go in this pause.
  bool paused_ = false;
  qint64 paused_left_ns_ = 0;
  bool pause_released_ = false;
  // While the step's time is up and what the output holds plays: looks whether it has, until the
  // limit.
  QTimer play_out_;
  QDeadlineTimer play_out_limit_;
};
