#include "run_engine.h"

#include <utility>

RunEngine::RunEngine(TToneGen* tone_gen, QTimer* step_timer, uint32_t* stream_handle,
                     QWidget* window, TreatmentRun::StepWait wait, QObject* parent)
    : QObject(parent),
      run_(tone_gen, step_timer, stream_handle),
      countdown_(&run_),
      window_(window),
      wait_(std::move(wait)) {}

void RunEngine::Play(const TreatmentProgram& program) {
  // The handle is read at each run: the window may have had its native window made again.
  run_.Run(program, wait_,
           window_ != nullptr ? reinterpret_cast<void*>(window_->winId()) : nullptr);
}

void RunEngine::PlayFile(std::shared_ptr<const TreatmentProgram> program) {
  // The argument keeps the program until the run has ended; while one is under way, Run refuses.
  if (program) Play(*program);
}
