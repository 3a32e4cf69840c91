// SoundCardOutput: the sound card as the output of a run's steps, through the audio output layer's
// BASS_* calls. Each step opens the device (BASS_Init; the open runs on the output thread while
// this thread's event loop turns, so that the program's end is answered however long a sound
// server takes), readies the synthesiser (step_sound.h), creates the stream in StreamHandle and
// plays exactly the step's frames; the step's end stops and frees the device. A program file's
// steps (all exact) join: the next step's frames follow the current one's last frame in the same
// stream (AudioOutputChainStream), and the output stays open between them. A pause stops the
// stream at once and frees the device 250 ms later; a resume plays the step's frames not yet
// sounded, opening the device again where it was freed. While a step sounds, OutputWatch keeps
// it: a lost device is told as away, its return as back, and a loss of more than 10 s as a
// failure ("Wiedergabe kann nicht gestartet werden." with the last code).
//
// State: the program and its oscillator (afresh each run), the step's frames and stream
// procedure, the two joined steps' slots the audio thread reads, and the frames already released
// in a pause. Thread of the run only; JoinedStepProc runs on the audio thread and only sets the
// oscillator's tone readied for it.
#pragma once

#include <QObject>
#include <QTimer>
#include <cstdint>

#include "exact_tone.h"
#include "output_watch.h"
#include "step_output.h"
#include "step_sound.h"

class SoundCardOutput : public QObject, public StepOutput {
 public:
  // stream_handle: where the latest stream's handle is kept (the main window's StreamHandle); not
  // owned, it must outlive the object.
  explicit SoundCardOutput(uint32_t* stream_handle, QObject* parent = nullptr);

  // The native window handle BASS_Init is given at each open.
  void SetWindow(void* window) { window_ = window; }
  // Stops and frees the device; harmless when nothing is open.
  static void Release();

  OutputLimits Limits() const override;
  bool Open() override;
  // Frees the device once more (a failed step's, or the Zelk general run's end).
  void Close() override;
  bool StartStep(const StepRequest& request) override;
  bool Pause() override;
  bool Resume() override;
  void EndStep() override;
  int64_t DeliveredMs() const override;
  void AllOff() noexcept override;
  const StepOutputError& LastError() const override { return error_; }

  void BeginRun(const TreatmentProgram& program, int base_period_ms) override;
  bool ReleasedAtStepEnds() const override { return true; }
  void CancelOpen() override { cancelled_ = true; }
  bool NextStepHasTakenOver() const override;
  void EndStepIntoNext() override;
  bool PlayedOut(bool at_time_up) const override;
  int64_t PlayOutLeftMs() const override;
  bool StepComplete() const override;

 private:
  // The tone is worked out on the run's thread; the audio thread only hands it to the oscillator.
  struct JoinedStep {
    ExactTone tone = {};
    ExactOscillator* oscillator = nullptr;
    bool toned = false;  // the oscillator has the step's tone
  };
  static uint32_t JoinedStepProc(uint32_t handle, void* buffer, uint32_t length, void* user);
  StepSound ArmJoinedStep(size_t index, uint64_t frames);
  // Readies the step after the current one to follow it in the open stream.
  void JoinNextStep();
  // Creates the stream for the step's frames not yet sounded and plays it.
  bool PlayStream();
  void ReleasePaused();
  uint64_t FramesPlayed() const;
  // The failed call's message with BASS_ErrorGetCode, read at once.
  bool Fail(const char* message);

  uint32_t* stream_handle_;
  void* window_ = nullptr;
  OutputWatch* watch_;
  QTimer pause_release_;
  StepOutputError error_;
  bool cancelled_ = false;
  const TreatmentProgram* program_ = nullptr;
  int base_period_ms_ = 0;
  ExactOscillator oscillator_;
  size_t index_ = 0;
  uint64_t step_frames_ = 0;
  StepSound step_sound_;
  // Whether the run's steps join, the slots (current and next, alternating), whether the next step
  // is joined to the current one, the joins counted when the step began, and whether the previous
  // step handed over to the one starting.
  bool joining_ = false;
  JoinedStep joined_steps_[2];
  bool next_joined_ = false;
  uint64_t joins_seen_ = 0;
  bool handed_over_ = false;
  // Pausing: the step's frames in streams already released, and whether this pause's device is.
  uint64_t frames_released_ = 0;
  bool pause_released_ = false;
};
