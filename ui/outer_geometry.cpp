#include "outer_geometry.h"

#include <QEvent>
#include <QGuiApplication>
#include <QMargins>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWindow>

namespace {

QMargins FrameMargins(const QWidget* window) {
  if (const QWindow* handle = window->windowHandle()) return handle->frameMargins();
  return {};
}

// The screen the stored rectangle is meant for: the one showing most of it, else the window's.
QScreen* ScreenFor(const QWidget* window, const QRect& outer) {
  QScreen* best = nullptr;
  qint64 best_area = 0;
  for (QScreen* screen : QGuiApplication::screens()) {
    const QRect shared = screen->geometry().intersected(outer);
    const qint64 area = qint64(shared.width()) * shared.height();
    if (area > best_area) {
      best = screen;
      best_area = area;
    }
  }
  return best ? best : window->screen();
}

// Moved just enough to lie inside the available area. A window larger than the area keeps
// its left and top edges in it, so its title bar stays within reach.
QRect InsideAvailableArea(const QWidget* window, const QRect& outer) {
  const QScreen* screen = ScreenFor(window, outer);
  if (screen == nullptr) return outer;
  const QRect available = screen->availableGeometry();
  QRect placed = outer;
  // A window of our own that may be smaller than stored is made small enough to lie inside.
  if (window->property("shrinkToScreen").toBool()) {
    placed.setWidth(qMin(placed.width(), available.width()));
    placed.setHeight(qMin(placed.height(), available.height()));
  }
  if (placed.right() > available.right()) placed.moveRight(available.right());
  if (placed.bottom() > available.bottom()) placed.moveBottom(available.bottom());
  if (placed.left() < available.left()) placed.moveLeft(available.left());
  if (placed.top() < available.top()) placed.moveTop(available.top());
  return placed;
}

void FitToOuter(QWidget* window, const QRect& stored, const QMargins& frame) {
  const QRect outer = InsideAvailableArea(window, stored);
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
