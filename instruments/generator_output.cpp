#include "generator_output.h"

#include <algorithm>
#include <cmath>

#include "output_check.h"

namespace {

std::string VoltsText(double volts) {
  return FixedText(volts, 3) + " V";
}

}  // namespace

std::string AmplitudeProblem(const GeneratorIdentity& identity, const GeneratorSettings& settings,
                             const std::string& name) {
  if (!(settings.AmplitudeVpp > 0.0)) return "the amplitude must be above 0 V";
  // Not a number would pass every comparison below.
  if (!std::isfinite(settings.OffsetVolts)) return "the offset must be a number of volts";
  if (settings.AmplitudeVpp > identity.MaxAmplitudeVpp) {
    return "an amplitude of " + VoltsText(settings.AmplitudeVpp) + " peak to peak is above the " +
           VoltsText(identity.MaxAmplitudeVpp) + " " + name + " allows";
  }
  if (std::fabs(settings.OffsetVolts) + settings.AmplitudeVpp / 2.0 > identity.MaxVolts) {
    return "an offset of " + VoltsText(settings.OffsetVolts) + " with " +
           VoltsText(settings.AmplitudeVpp) + " peak to peak goes beyond the " + name +
           "'s range of +-" + VoltsText(identity.MaxVolts);
  }
  return {};
}

GeneratorOutput::GeneratorOutput(std::unique_ptr<GeneratorDriver> driver,
                                 GeneratorSettings settings)
    : driver_(std::move(driver)), settings_(settings) {
  timer_.setSingleShot(true);
  timer_.setTimerType(Qt::PreciseTimer);
  QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
  retry_timer_.setSingleShot(true);
  QObject::connect(&retry_timer_, &QTimer::timeout, [this] { Retry(); });
}

GeneratorOutput::~GeneratorOutput() {
  Close();
}

OutputLimits GeneratorOutput::Limits() const {
  const GeneratorIdentity& identity = driver_->Identity();
  OutputLimits limits;
  limits.Name = driver_->Name();
  if (!identity.Model.empty()) limits.Name += " (" + identity.Model + ")";
  limits.MaxFrequency = identity.MaxFrequency;
  limits.MaxGateHertz = identity.MaxGateHertz;
  limits.Channels = identity.Channels;
  limits.CommandIntervalMs =
      static_cast<int>(std::max<int64_t>(identity.CommandMs, update_ms_ / std::max(1, channels_)));
  return limits;
}

bool GeneratorOutput::Open() {
  error_ = {};
  verified_ = false;
  set_up_.reset();
  if (!driver_->Connect()) {
    error_ = driver_->Error();
    return false;
  }
  if (const std::string problem = AmplitudeProblem(driver_->Identity(), settings_, driver_->Name());
      !problem.empty()) {
    driver_->Disconnect();
    error_ = {StepOutputErrorCode::CannotPlay, problem,
              "Set a lower amplitude or offset (--amplitude, --offset)."};
    return false;
  }
  open_ = true;
  // Whatever the generator was doing before, it is silent until the first step.
  outputs_on_ = true;
  return SetOutputs(false) || Fail(driver_->Error());
}

void GeneratorOutput::Close() {
  timer_.stop();
  retry_timer_.stop();
  reconnecting_ = false;
  running_ = false;
  if (open_) AllOff();
  open_ = false;
  driver_->Disconnect();
}

bool GeneratorOutput::StartStep(const StepRequest& request) {
  timer_.stop();
  if (!open_) {
    error_ = {StepOutputErrorCode::NotOpen, driver_->Name() + " is not open",
              "Open the output before the run."};
    return false;
  }
  if (const std::vector<StepProblem> problems = StepProblems(request.Step, Limits());
      !problems.empty()) {
    AllOff();
    running_ = false;
    error_ = {
        StepOutputErrorCode::CannotPlay, problems.front().Message,
        "Check the program against the output's limits (zelkgen --identify NAME shows them)."};
    return false;
  }
  request_ = request;
  running_ = true;
  paused_ = false;
  delivered_before_ms_ = 0;
  channels_ = request.Antiphase && driver_->Identity().Channels >= 2 ? 2 : 1;
  const bool glide =
      request.Step.EndFrequency > 0.0L && request.Step.EndFrequency != request.Step.Frequency;
  glide_updates_ = 0;
  glide_sent_ = 0;
  if (glide) {
    // Even steps no shorter than a frequency update takes the generator.
    const int64_t interval = std::max<int64_t>(
        {1, update_ms_, static_cast<int64_t>(driver_->Identity().CommandMs) * channels_});
    glide_updates_ = static_cast<int>(std::max<int64_t>(1, request.DurationMs / interval));
  }
  clock_.start();
  // While the link is away the step is set up when it answers again.
  if (reconnecting_) return true;
  if (!Apply(!verified_)) return false;
  Schedule();
  return true;
}

bool GeneratorOutput::Apply(bool verify) {
  const int64_t at = DeliveredMs();
  ChannelSetup setup;
  setup.Shape = request_.Shape;
  setup.Hertz = FrequencyAt(at);
  setup.AmplitudeVpp = settings_.AmplitudeVpp * request_.Step.Level / 100.0;
  setup.OffsetVolts = settings_.OffsetVolts;
  setup.DutyPercent = request_.Step.DutyPercent;
  const bool same = set_up_ && set_up_->Shape == setup.Shape &&
                    set_up_->AmplitudeVpp == setup.AmplitudeVpp &&
                    set_up_->OffsetVolts == setup.OffsetVolts &&
                    (setup.Shape != wsSquare || set_up_->DutyPercent == setup.DutyPercent) &&
                    set_up_->PhaseDegrees == channels_;
  bool good = true;
  if (same) {
    good = SetFrequencyEverywhere(setup.Hertz);
  } else {
    set_up_.reset();
    for (int channel = 1; good && channel <= channels_; ++channel) {
      setup.PhaseDegrees = channel == 1 ? 0 : 180;
      good = driver_->SetUp(channel, setup);
    }
    // PhaseDegrees, once set up, records how many channels were.
    if (good) set_up_ = setup, set_up_->PhaseDegrees = channels_;
  }
  if (good && verify) {
    long double read = 0.0L;
    good = driver_->ReadFrequency(1, &read);
    if (good && std::fabs(read - setup.Hertz) > driver_->ReadBackTolerance(setup.Hertz)) {
      return Fail({StepOutputErrorCode::ReadBack,
                   driver_->Name() + " was set to " + HertzText(setup.Hertz) +
                       " Hz but reads back " + HertzText(read) + " Hz",
                   "Its firmware reads frequencies in another form than its model's usual one; "
                   "nothing was played. Report the model and firmware (zelkgen --identify)."});
    }
    if (good) verified_ = true;
  }
  if (good) good = SetOutputs(request_.Step.GateMillihertz == 0 || GateOnAt(at));
  return good || Handle();
}

bool GeneratorOutput::SetFrequencyEverywhere(long double hertz) {
  QElapsedTimer took;
  took.start();
  for (int channel = 1; channel <= channels_; ++channel) {
    if (!driver_->SetFrequency(channel, hertz)) return false;
  }
  const int64_t ms = took.elapsed();
  // A running mean, so that one slow reply does not halve the glide's rate for good.
  update_ms_ = update_ms_ == 0 ? ms : (3 * update_ms_ + ms) / 4;
  return true;
}

bool GeneratorOutput::SetOutputs(bool on) {
  if (on == outputs_on_) return true;
  if (!driver_->SetOutputs(on, on ? channels_ : driver_->Identity().Channels)) return false;
  outputs_on_ = on;
  return true;
}

long double GeneratorOutput::FrequencyAt(int64_t ms) const {
  const TreatmentStep& step = request_.Step;
  if (step.EndFrequency <= 0.0L || request_.DurationMs <= 0) return step.Frequency;
  if (glide_updates_ == 0) {
    // Before the steps are counted (the step's start) or on resuming: the law's own value.
    return GlideFrequencyAt(step.Frequency, step.EndFrequency, step.ExponentialGlide,
                            static_cast<long double>(ms) / request_.DurationMs);
  }
  const int64_t k = GlideStepAt(ms);
  return GlideFrequencyAt(step.Frequency, step.EndFrequency, step.ExponentialGlide,
                          static_cast<long double>(k) / glide_updates_);
}

int64_t GeneratorOutput::GlideStepAt(int64_t ms) const {
  // The last k whose time, (2k - 1) / 2N of the step, has come.
  const int64_t duration = std::max(1, request_.DurationMs);
  return std::clamp<int64_t>((2 * ms * glide_updates_ + duration) / (2 * duration), 0,
                             glide_updates_);
}

bool GeneratorOutput::GateOnAt(int64_t ms) const {
  const TreatmentStep& step = request_.Step;
  if (step.GateMillihertz <= 0) return true;
  // The cycle's share elapsed, in whole numbers: ms x rate / 1000 s, by its fraction.
  const int64_t cycles_thousandths = ms * step.GateMillihertz / 1000;  // cycles x 1000
  return cycles_thousandths % 1000 < step.GateOnPercent * 10;
}

void GeneratorOutput::Schedule() {
  if (!running_ || paused_ || reconnecting_) return;
  const int64_t now = DeliveredMs();
  int64_t next = INT64_MAX;
  if (glide_updates_ > 0 && glide_sent_ < glide_updates_) {
    // Update k (the law's value at k / N) halfway between its point and the one before, so that
    // the stairs straddle the law; rounded up to the millisecond.
    const int64_t k = glide_sent_ + 1;
    const int64_t twice_n = 2LL * glide_updates_;
    next = ((2 * k - 1) * request_.DurationMs + twice_n - 1) / twice_n;
  }
  const TreatmentStep& step = request_.Step;
  if (step.GateMillihertz > 0) {
    // The next edge: the cycle's end of its on share or the next cycle's start.
    const int64_t period_micro = 1000000000LL / step.GateMillihertz;  // microseconds
    const int64_t now_micro = now * 1000;
    const int64_t cycle = now_micro / period_micro;
    const int64_t off_micro = cycle * period_micro + period_micro * step.GateOnPercent / 100;
    const int64_t edge_micro = now_micro < off_micro ? off_micro : (cycle + 1) * period_micro;
    next = std::min(next, (edge_micro + 999) / 1000);
  }
  if (next == INT64_MAX) return;
  timer_.start(static_cast<int>(std::clamp<int64_t>(next - now, 0, 24 * 3600 * 1000)));
}

void GeneratorOutput::Tick() {
  if (!running_ || paused_ || reconnecting_) return;
  const int64_t now = DeliveredMs();
  bool good = true;
  if (glide_updates_ > 0 && glide_sent_ < glide_updates_) {
    const int64_t due = GlideStepAt(now);
    if (due > glide_sent_) {
      // A late update goes straight to where the glide is now: the schedule holds.
      glide_sent_ = static_cast<int>(due);
      good = SetFrequencyEverywhere(FrequencyAt(now));
    }
  }
  if (good && request_.Step.GateMillihertz > 0) good = SetOutputs(GateOnAt(now));
  if (!good && !Handle()) {
    ReportFailure(error_);
    return;
  }
  Schedule();
}

bool GeneratorOutput::Pause() {
  if (!running_ || paused_) return true;
  delivered_before_ms_ = DeliveredMs();
  paused_ = true;
  timer_.stop();
  if (reconnecting_) return true;
  return SetOutputs(false) || Handle();
}

bool GeneratorOutput::Resume() {
  if (!running_ || !paused_) return true;
  paused_ = false;
  clock_.start();
  if (reconnecting_) return true;
  if (glide_updates_ > 0) {
    glide_sent_ = static_cast<int>(GlideStepAt(delivered_before_ms_));
  }
  if (!Apply(false)) return false;
  Schedule();
  return true;
}

void GeneratorOutput::EndStep() {
  timer_.stop();
  if (!running_) return;
  delivered_before_ms_ = DeliveredMs();
  running_ = false;
  // While the link is away the tries go on: it is switched off when it answers, or the run is
  // told that it did not.
  if (reconnecting_) return;
  if (!SetOutputs(false)) error_ = driver_->Error();
}

int64_t GeneratorOutput::DeliveredMs() const {
  if (!running_ || paused_ || !clock_.isValid()) return delivered_before_ms_;
  return delivered_before_ms_ + clock_.elapsed();
}

void GeneratorOutput::AllOff() noexcept {
  try {
    timer_.stop();
    if (driver_->Connected() && driver_->Identity().Channels > 0) {
      driver_->SetOutputs(false, driver_->Identity().Channels);
    }
    outputs_on_ = false;
  } catch (...) {
    // A way out must not throw; the generator is as off as it can be made.
  }
}

bool GeneratorOutput::Fail(const StepOutputError& error) {
  error_ = error;
  timer_.stop();
  retry_timer_.stop();
  reconnecting_ = false;
  running_ = false;
  AllOff();
  return false;
}

bool GeneratorOutput::LinkTrouble() const {
  const StepOutputErrorCode code = driver_->Error().Code;
  return code == StepOutputErrorCode::LinkLost || code == StepOutputErrorCode::NoReply;
}

bool GeneratorOutput::Handle() {
  if (!LinkTrouble()) return Fail(driver_->Error());
  error_ = driver_->Error();
  if (!reconnecting_) {
    reconnecting_ = true;
    lost_clock_.start();
    timer_.stop();
    driver_->Disconnect();
    retry_timer_.start(settings_.RetryIntervalMs);
  }
  return true;
}

void GeneratorOutput::Retry() {
  if (!reconnecting_) return;
  if (driver_->Connect()) {
    reconnecting_ = false;
    set_up_.reset();
    outputs_on_ = true;  // unknown: switched as the step needs
    if (!running_) {
      AllOff();
      return;
    }
    if (paused_) {
      SetOutputs(false);
      return;
    }
    if (Apply(false)) {
      Schedule();
    } else {
      ReportFailure(error_);
    }
    return;
  }
  if (lost_clock_.elapsed() < settings_.RetryMs) {
    retry_timer_.start(settings_.RetryIntervalMs);
    return;
  }
  reconnecting_ = false;
  const std::string why = error_.Message;
  Fail({StepOutputErrorCode::LinkLost,
        "lost the link to " + driver_->Name() + " and it did not come back within " +
            std::to_string(settings_.RetryMs / 1000) + " s (" + why + ")",
        "Check the cable and that the generator is on; switch its output off by hand if it is "
        "still sounding."});
  ReportFailure(error_);
}
