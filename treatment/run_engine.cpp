#include "run_engine.h"

#include <utility>

RunEngine::RunEngine(QTimer* step_timer, uint32_t* stream_handle,
                     std::function<void*()> window_handle, TreatmentRun::StepWait wait,
                     QObject* parent)
    : QObject(parent),
      run_(step_timer, stream_handle),
      countdown_(&run_),
      window_handle_(std::move(window_handle)),
      wait_(std::move(wait)) {}

RunEngine::~RunEngine() {
  // The run must not point at an output that is gone.
  run_.UseOutput(nullptr);
}

void RunEngine::UseOutput(std::function<std::unique_ptr<StepOutput>()> make) {
  make_output_ = std::move(make);
}

void RunEngine::Play(const TreatmentProgram& program) {
  if (run_.StepRunning() || output_) return;
  output_ = make_output_ ? make_output_() : nullptr;
  if (!run_.UseOutput(output_.get())) {
    // A run is under way (its event loop turns while an output opens): it keeps its output.
    output_.reset();
    return;
  }
  // The handle is read at each run: the window may have had its native window made again.
  run_.Run(program, wait_, window_handle_ ? window_handle_() : nullptr);
  run_.UseOutput(nullptr);
  output_.reset();
}

void RunEngine::PlayFile(std::shared_ptr<const TreatmentProgram> program) {
  // The argument keeps the program until the run has ended; while one is under way, Run refuses.
  if (program) Play(*program);
}
