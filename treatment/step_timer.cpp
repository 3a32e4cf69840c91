#include "step_timer.h"

QTimer* CreateStepTimer(QObject* parent, int interval_ms) {
  auto* timer = new QTimer(parent);
  timer->setInterval(interval_ms);
  // Precise from its first period: a coarse timer may fire 5 % early or late.
  timer->setTimerType(Qt::PreciseTimer);
  return timer;
}
