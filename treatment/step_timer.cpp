#include "step_timer.h"

QTimer* CreateStepTimer(QObject* parent, int interval_ms) {
  auto* timer = new QTimer(parent);
  timer->setInterval(interval_ms);
  return timer;
}
