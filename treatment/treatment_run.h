// TreatmentRun: a treatment program played one step after another, and the owner of each step's
// sound from BASS_Init to BASS_Free. It needs QtCore, the synthesiser and the tone generator only,
// no windows: the main window is one face of it, which waits for each step in the Current
// frequency window's modal display; a face without windows would wait in an event loop of its own.
//
// A run, all on the thread that owns the object: RunStarted, the step timer off; then per step:
// BASS_Init (the output opens on the output thread while this thread's event loop turns, so that
// Exit and the quit signals are answered however long a sound server or bus takes; see
// audio_output.h for the open's time limit), StepOpened (the face shows the step), the synthesiser
// readied for the step (step_sound.h: StreamFrequency and StreamAmplitude, and the stream
// procedure), the stream created and played, the step timer on (a fresh period), StepStarted, the
// face's wait until the step ends, the step timer off. After the last step RunEnded.
//
// A step lasts one period of the step timer (180000 ms for the built-in programs); a step of a
// program file that has a duration of its own sets the timer's period to it for that step, and
// the run gives the timer its own period back when it ends.
//
// A step ends in one of these ways, each with its own order of actions:
//   the step timer   its event finds the step's time up; the step's last frames play out (below),
//                    then EndStepByTimer
//   EndStepByTimer   ToneGen1.Loop false, StepEnded, ToneGen1 stopped, output stopped and freed
//   EndStepBySkip    ToneGen1 stopped, ToneGen1.Loop false, output stopped and freed, StepEnded
//   window closed    (the wait returns false) ToneGen1 stopped, output stopped and freed; the run
//                    ends (RunEnd::Closed)
//   EndProgram       step timer off, ToneGen1 stopped, output stopped and freed, StepEnded; no
//                    further step starts (RunEnd::ProgramEnded). While a step's output still
//                    opens, the open is given up and the run ends there.
//   a failed call    its error code read at once, the output freed, AudioFailed, the run ends
//                    (RunEnd::Failed)
//   output lost      the sound output went away during the step and could not be had again
//                    within 10 s (output_watch.h): step timer off, output stopped and freed,
//                    StepEnded; then, as for a failed BASS_ChannelPlay, AudioFailed with
//                    "Wiedergabe kann nicht gestartet werden." and the run ends (RunEnd::Failed)
//   resume failed    a paused step's output could not be opened again: output freed, StepEnded
//                    (StepEnd::OutputLost), then AudioFailed with the failed call's message, as
//                    at a step's start, and the run ends (RunEnd::Failed)
// StepEnded is emitted only while a step runs; it is where the face ends its wait.
//
// A step may be paused and resumed any number of times (PauseStep, ResumeStep). A pause stops the
// tone at once (what the device's buffers already hold, some 20 to 40 ms, plays out), turns the
// step timer off and keeps the step's time left; 250 ms later, once that sound has played, the
// output is released. Resuming opens the output again, as a step's start does, and plays the same
// frequency and shape for exactly the time that was left: the step timer runs out the time left
// and the stream plays the step's frames that have not sounded yet, so the tone across all parts
// lasts one period to the frame. A resume within the 250 ms simply plays on. While paused the
// step can still end in any of the ways above. When the output cannot be had again, the step
// fails with the failed call's message, as a step's start would (RunEnd::Failed).
//
// While a step sounds, the output is watched: when it goes away, OutputLost, and the default
// output is opened again and again until the tone sounds on (OutputResumed) or 10 s have passed.
// The step's time stands still meanwhile, as in a pause: no frame of the step plays while the
// output is away, and a treatment is meant to get every frame of its steps, so the step lasts its
// period of sound and ends later by the time the output was away. The step timer fires on time: a
// 180 s wait of the event loop may end up to 100 ms late (the kernel's timer slack grows with the
// wait), so the run wakes the loop shortly before the step's deadline, and the timer's own last
// wait is a short one.
//
// A step's tone is counted in frames, not in the calls that start and stop it: the output plays
// exactly the step's period in frames of the stream procedure, across any number of pauses, and
// silence after them. When the step timer fires, the frames the device has not played yet (those
// its and the sound server's buffers hold, and those a device that started late has still to
// take) are let play out: the output is released only once the device has taken a quarter of a
// second of silence after the last of them (AudioOutputStreamPlayedOut), at most their own length
// and a second more after the timer's event; a pause is refused meanwhile. Skip, EndProgram and
// every other end still silence the tone at once.
//
// A program file's steps (all of them exact) join: the output opens at the first step and stays
// open to the last, each step's frames following the previous step's last frame in the same device
// buffer (AudioOutputChainStream), so a chain of glides moves on unbroken and the run lasts what
// its steps list. Such a step ends by its timer once the next step has taken over; the output is
// not released between them. A pause, Skip, a lost output or a failure breaks the chain as it
// breaks any step, and the step after opens the output again. Every run starts its oscillator
// afresh, as an export does, so each run of a program file sounds the same to the frame.
//
// State: whether a run is under way, whether a step's sound is on (StepRunning), whether the
// program is ending, how the current step ended, the step's deadline, and while paused the step's
// time left and frames played. The tone generator, the step timer and the stream handle belong to
// the face.
#pragma once

#include <QDeadlineTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>

#include "audio_output.h"
#include "output_watch.h"
#include "step_sound.h"
#include "tone_gen.h"
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
    int code = 0;     // Failed: BASS_ErrorGetCode right after the failure
  };

  // Waits until the step has ended. True when it ended by one of the end methods above (the
  // face returns on StepEnded); false when the face gave the step up (the user closed the
  // window), which ends the run in silence.
  using StepWait = std::function<bool(const TreatmentStep& step)>;

  // tone_gen: stopped and its Loop cleared at step ends. step_timer: turned on and off here, made
  // precise, and its timeout wired to EndStepByTimer, so no face wires it. stream_handle: where the
  // latest stream handle is kept. None of them is owned; all must outlive the object.
  TreatmentRun(TToneGen* tone_gen, QTimer* step_timer, uint32_t* stream_handle,
               QObject* parent = nullptr);

  // Plays program from its first step until the run ends (RunEnded has been emitted then).
  // window goes to BASS_Init. False, and nothing done, while a run is under way (its event loop
  // turns while an output opens) or the program ends.
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

  // Stops and frees the audio output; harmless when nothing is open.
  static void ReleaseOutput();

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

 private:
  // BASS_Init once the output has opened ahead, with the event loop turning meanwhile; false
  // when it failed or EndProgram came first.
  bool InitOutput(void* window);
  bool Fail(RunResult& result, const QString& message, int code);
  void EndRunByClosedWindow();
  void EndStepByLostOutput(int code);
  bool Finish(RunResult& result, RunEnd how);
  // Starts the step timer for left_ns nanoseconds (a whole period, or a paused step's time left).
  void StartStepTimer(qint64 left_ns);
  void ApproachDeadline();
  // The step timer's event, and the wait for the step's last frames to play.
  void StepTimeUp();
  void LookAtPlayOut();
  // A step's period: its own duration, else the step timer's period at the run's start.
  int PeriodOf(const TreatmentStep& step) const;
  // Stops watching the step's output and releases it.
  void ReleaseStepOutput();
  void ReleasePausedOutput();
  // Opens the output again for the paused step and plays the rest of its frames; false when a
  // call failed (the step then fails).
  bool ReopenPausedStep();
  void FailStep(const char* message, int code);
  // A program file's steps follow one another in one open output (AudioOutputChainStream).
  struct JoinedStep {
    const TreatmentStep* step = nullptr;
    uint64_t frames = 0;
    ExactOscillator* oscillator = nullptr;
    bool toned = false;  // the oscillator has the step's tone
  };
  static uint32_t JoinedStepProc(uint32_t handle, void* buffer, uint32_t length, void* user);
  StepSound ArmJoinedStep(size_t index, const TreatmentStep& step, uint64_t frames);
  void JoinNextStep();
  bool NextStepHasTakenOver() const;
  void EndStepByJoin();
  // While the output is away the step's time stands still.
  void HoldStepTime();
  void RunStepTimeOn();

  TToneGen* tone_gen_;
  QTimer* step_timer_;
  uint32_t* stream_handle_;
  void* window_ = nullptr;  // for BASS_Init
  OutputWatch* output_watch_;
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
  const char* output_failed_message_ = nullptr;
  int output_failed_code_ = 0;
  // The current step's period, its frames and the stream procedure readied for it; the exact
  // oscillator of the run's streams, whose phase runs on from step to step and starts afresh with
  // each run.
  int step_period_ms_ = 0;
  uint64_t step_frames_ = 0;
  StepSound step_sound_;
  ExactOscillator oscillator_;
  // Joining steps: whether the run's steps join (all exact), the two steps' slots the audio thread
  // reads (the current step's and the next one's, alternating), whether the next step is joined to
  // the current one, the joins counted when the step began, and whether it ended by its join.
  bool joining_ = false;
  JoinedStep joined_steps_[2];
  bool next_joined_ = false;
  uint64_t joins_seen_ = 0;
  bool ended_by_join_ = false;
  // The output has gone away during the step and is not back yet; the step's time left then.
  bool output_away_ = false;
  qint64 away_left_ns_ = 0;
  // Pausing: the time left when paused, the frames of the step that have sounded in streams
  // already released, and whether the current pause's output has been released.
  bool paused_ = false;
  qint64 paused_left_ns_ = 0;
  uint64_t frames_released_ = 0;
  bool pause_released_ = false;
  QTimer pause_release_;
  // While the step's time is up and its last frames play: looks whether they have, until the limit.
  QTimer play_out_;
  QDeadlineTimer play_out_limit_;
};
