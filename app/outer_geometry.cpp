#include "outer_geometry.h"

#include <QEvent>
#include <QMargins>
#include <QPointer>
#include <QTimer>
#include <QWindow>

namespace {

QMargins FrameMargins(const QWidget* window) {
  if (const QWindow* handle = window->windowHandle()) return handle->frameMargins();
  return {};
}

void FitToOuter(QWidget* window, const QRect& outer, const QMargins& frame) {
  window->move(outer.topLeft());  // a top-level window's position is its frame's
  window->resize(qMax(1, outer.width() - frame.left() - frame.right()),
                 qMax(1, outer.height() - frame.top() - frame.bottom()));
}

class OuterGeometryKeeper : public QObject {
 public:
  OuterGeometryKeeper(QWidget* window, const QRect& outer) : QObject(window), outer_(outer) {}

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::Show || fitted_) return false;
    fitted_ = true;
    auto* window = static_cast<QWidget*>(watched);
    const QMargins frame = FrameMargins(window);
    FitToOuter(window, outer_, frame);
    // A window manager frames the window after it is mapped; fit once more when that is done.
    QPointer<QWidget> guard(window);
    QTimer::singleShot(300, window, [guard, outer = outer_, frame] {
      if (!guard) return;
      const QMargins late = FrameMargins(guard);
      if (late != frame) FitToOuter(guard, outer, late);
    });
    return false;
  }

 private:
  QRect outer_;
  bool fitted_ = false;
};

}  // namespace

QRect StoredOuterGeometry(const QWidget* window) {
  return window->property("outerGeometry").toRect();
}

void KeepStoredOuterGeometry(QWidget* window) {
  const QRect outer = StoredOuterGeometry(window);
  if (outer.isEmpty()) return;
  FitToOuter(window, outer, {});
  window->installEventFilter(new OuterGeometryKeeper(window, outer));
}
