// The step timer of a treatment run: one period of 180000 ms per step. Every face of the run makes
// its step timer here, precise from the start; the run it is given to (treatment_run.h) ends the
// step when it fires, so that whatever keeps the timer on time applies to each face.
#pragma once

#include <QObject>
#include <QTimer>

#include "audio_format.h"  // kStepMilliseconds

// A new step timer, owned by parent, not started. interval_ms other than kStepMilliseconds only
// for tests' short steps.
QTimer* CreateStepTimer(QObject* parent, int interval_ms = kStepMilliseconds);
