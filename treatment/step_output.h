// Where a run's steps sound: the sound card or a signal generator. The run owns the step timing
// (when a step starts, pauses, resumes and ends); an output only sounds what it is asked, for as
// long as it is asked, and says what it cannot do before the run starts (Limits) rather than
// partway through. One object per output, used from the thread that runs the event loop.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include "ddfs.h"
#include "treatment_programs.h"

// What an output can play, so that a program is checked against it before it runs.
struct OutputLimits {
  std::string Name;                 // how messages name the output ("fy:/dev/ttyUSB0 (FY6900)")
  long double MaxFrequency = 0.0L;  // hertz; the highest a step or a glide may reach
  long double MaxGateHertz = 0.0L;  // the fastest gate it follows; 0: it follows none
  int Channels = 1;                 // 2: the second carries the tone in antiphase
  int CommandIntervalMs = 0;        // one setting's time: a glide steps no faster; 0: smooth
};

enum class StepOutputErrorCode {
  None,
  NotOpen,     // the output could not be opened, or is not what it was named as
  LinkLost,    // the link broke and did not come back within the retry time
  NoReply,     // a reply did not come within its bounded wait
  Refused,     // the output answered a setting with an error
  ReadBack,    // a value read back differs from the one written
  CannotPlay,  // the step asks for more than the output can do (Limits)
};

struct StepOutputError {
  StepOutputErrorCode Code = StepOutputErrorCode::None;
  std::string Message;  // names the output and what went wrong
  std::string Advice;   // what the user can do about it
  int SystemCode = 0;   // the sound card's own error code (BASS_ErrorGetCode); 0: none
};

// One step as the run asks for it: the step's own values and what the run decides for it.
struct StepRequest {
  TreatmentStep Step;          // frequency or glide and its law, duty, gate and level
  WaveShape Shape = wsSquare;  // Step.Shape, else the run's "Output signal" choice
  int DurationMs = 0;          // the step's length: a glide reaches Step.EndFrequency at its end
  bool Antiphase = true;       // the second channel, where there is one, at 180 degrees
  size_t Index = 0;            // the step's place in its program, from 0
};

// The frequency of a glide from f0 to f1 after the share elapsed (0..1) of its length, by its law.
inline long double GlideFrequencyAt(long double f0, long double f1, bool exponential,
                                    long double elapsed) {
  if (elapsed <= 0.0L) return f0;
  if (elapsed >= 1.0L) return f1;
  if (exponential) return f0 * std::pow(f1 / f0, elapsed);
  return f0 + (f1 - f0) * elapsed;
}

class StepOutput {
 public:
  virtual ~StepOutput() = default;

  virtual OutputLimits Limits() const = 0;
  // Before a run's first step and after its last. Open makes the output ready and checks that it
  // is what it was named as; Close leaves it silent and lets it go. Both may be called again.
  virtual bool Open() = 0;
  virtual void Close() = 0;
  // Sounds the step from its start. False when it cannot (nothing sounds then; LastError says
  // why), also for a step beyond Limits.
  virtual bool StartStep(const StepRequest& request) = 0;
  // Silent, the step's place kept; Resume sounds it on from there.
  virtual bool Pause() = 0;
  virtual bool Resume() = 0;
  // Silent at once: the step is over (its end, Skip, the run's end).
  virtual void EndStep() = 0;
  // How much of the current step has sounded, pauses left out.
  virtual int64_t DeliveredMs() const = 0;
  // Silent now, whatever state it is in, without waiting on the event loop: for the ways out
  // (a signal, an error, a destructor). Never throws.
  virtual void AllOff() noexcept = 0;
  virtual const StepOutputError& LastError() const = 0;

  // What the sound card needs beyond a step at a time; the defaults suit an output the run opens
  // once and that follows its calls at once. The sound card opens the device for each step and
  // lets it go at the step's end; it joins a program file's steps in one stream, the next step
  // taking over at the current one's last frame; it lets a step's last frames play out after the
  // step's time; it lets the device go some time into a pause; and its open waits, which the
  // program's end gives up.
  virtual void BeginRun(const TreatmentProgram& program, int base_period_ms) {
    (void)program;
    (void)base_period_ms;
  }
  virtual bool ReleasedAtStepEnds() const { return false; }
  // Open, waiting now, returns false at once (LastError without a code).
  virtual void CancelOpen() {}
  // The next step sounds already, joined to the current one; EndStepIntoNext ends the current step
  // with the output left playing, and the next StartStep takes the joined step on.
  virtual bool NextStepHasTakenOver() const { return false; }
  virtual void EndStepIntoNext() { EndStep(); }
  // At and after the step's time: whether all it was given has sounded (at_time_up: the first
  // look), and how long the rest takes.
  virtual bool PlayedOut(bool at_time_up) const {
    (void)at_time_up;
    return true;
  }
  virtual int64_t PlayOutLeftMs() const { return 0; }
  // While paused: every part of the step has sounded already.
  virtual bool StepComplete() const { return false; }

  // Told when the output fails between calls (a link that does not come back); the output is
  // silent by then and the run should end.
  void SetFailureHandler(std::function<void(const StepOutputError&)> handler) {
    failure_handler_ = std::move(handler);
  }
  // Told when the output goes away under a step (true) and when it sounds again (false): the
  // step's time stands still meanwhile.
  void SetAwayHandler(std::function<void(bool away)> handler) {
    away_handler_ = std::move(handler);
  }
  // Told when a paused output has let the device go (only where ReleasedAtStepEnds).
  void SetPauseSettledHandler(std::function<void()> handler) {
    pause_settled_handler_ = std::move(handler);
  }

 protected:
  void ReportFailure(const StepOutputError& error) const {
    if (failure_handler_) failure_handler_(error);
  }
  void ReportAway(bool away) const {
    if (away_handler_) away_handler_(away);
  }
  void ReportPauseSettled() const {
    if (pause_settled_handler_) pause_settled_handler_();
  }

 private:
  std::function<void(const StepOutputError&)> failure_handler_;
  std::function<void(bool)> away_handler_;
  std::function<void()> pause_settled_handler_;
};
