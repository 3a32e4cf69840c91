// A signal generator as the output of a run's steps. Each step sets the shape, frequency,
// amplitude (the user's volts scaled by the step's level), offset and duty of channel 1 and, for
// antiphase on a two-channel generator, the same on channel 2 at 180 degrees. A glide is stepped
// in N even steps along its law, as often as the generator takes a frequency (measured): it
// starts on its start frequency, the law's value at k / N is set halfway between that point and
// the one before, and the end frequency sounds at the step's end. A gate switches the outputs at
// its edges. The outputs go off at a step's end, a pause, an error, Close and destruction.
//
// A link that breaks or stops answering is retried for RetryMs while the step's time runs on;
// then the failure handler is told and the run should end. Every wait is bounded. The first
// frequency written after Open is read back: a generator that reads it otherwise is an error
// naming both values. Timers run on the thread's Qt event loop.
#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "generator_driver.h"
#include "step_output.h"

struct GeneratorSettings {
  // Peak to peak and offset in volts, at level 100 %. A volt is safe for any input it may feed.
  double AmplitudeVpp = 1.0;
  double OffsetVolts = 0.0;
  int RetryMs = 10000;        // how long a lost link is tried again
  int RetryIntervalMs = 500;  // between the tries
};

// Why the settings do not suit the generator (above its amplitude, or offset and amplitude
// together beyond its range); empty when they do.
std::string AmplitudeProblem(const GeneratorIdentity& identity, const GeneratorSettings& settings,
                             const std::string& name);

class GeneratorOutput : public StepOutput {
 public:
  GeneratorOutput(std::unique_ptr<GeneratorDriver> driver, GeneratorSettings settings = {});
  ~GeneratorOutput() override;

  OutputLimits Limits() const override;
  bool Open() override;
  void Close() override;
  bool StartStep(const StepRequest& request) override;
  bool Pause() override;
  bool Resume() override;
  void EndStep() override;
  int64_t DeliveredMs() const override;
  void AllOff() noexcept override;
  const StepOutputError& LastError() const override { return error_; }

  GeneratorDriver& Driver() { return *driver_; }
  // The current glide's number of even steps after its start; 0 without a glide.
  int GlideSteps() const { return glide_updates_; }

 private:
  bool Fail(const StepOutputError& error);
  bool LinkTrouble() const;
  // Sets the generator to the step's state at delivered_ms; true also while it reconnects.
  bool Apply(bool verify);
  bool SetFrequencyEverywhere(long double hertz);
  bool SetOutputs(bool on);
  long double FrequencyAt(int64_t ms) const;
  int64_t GlideStepAt(int64_t ms) const;
  bool GateOnAt(int64_t ms) const;
  void Schedule();
  void Tick();
  // After a failure: retried while the link may come back, else the run is told.
  bool Handle();
  void Retry();

  std::unique_ptr<GeneratorDriver> driver_;
  GeneratorSettings settings_;
  StepOutputError error_;
  bool open_ = false;
  bool verified_ = false;

  StepRequest request_{};
  bool running_ = false;
  bool paused_ = false;
  int channels_ = 1;
  int64_t delivered_before_ms_ = 0;  // before the current stretch of sounding
  QElapsedTimer clock_;              // the current stretch
  int glide_updates_ = 0;            // 0: no glide
  int glide_sent_ = 0;               // updates sent
  bool outputs_on_ = false;
  std::optional<ChannelSetup> set_up_;  // what both channels hold but the frequency
  int64_t update_ms_ = 0;               // a measured frequency update, all channels

  QTimer timer_;
  QTimer retry_timer_;
  QElapsedTimer lost_clock_;
  bool reconnecting_ = false;
};
