// The step timer of a treatment run: one period of 180000 ms per step, a precise timer (a coarse
// one may fire 5 % early, 9 seconds off a three-minute step). Every face of the run makes its
// step timer here, so that whatever keeps the timer on time applies to each of them.
#pragma once

#include <QObject>
#include <QTimer>

#include "audio_format.h"  // kStepMilliseconds

// A new step timer, owned by parent, not started. interval_ms other than kStepMilliseconds only
// for tests' short steps.
QTimer* CreateStepTimer(QObject* parent, int interval_ms = kStepMilliseconds);
