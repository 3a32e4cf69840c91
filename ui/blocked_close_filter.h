// The window manager's close of a window that a modal window blocks. Qt drops such a close (the
// main window's close box during a step, `wmctrl -c`), so on X11 this filter looks at the
// WM_DELETE_WINDOW message itself, before Qt does, and calls on_close for it. An unblocked
// window's close goes on to Qt as before. Elsewhere (Wayland) the filter sees nothing.
//
// Window thread only.
#pragma once

#include <QAbstractNativeEventFilter>
#include <cstdint>
#include <functional>

class QWidget;

class BlockedCloseFilter : public QAbstractNativeEventFilter {
 public:
  // Installs itself on the application for window, which must outlive it.
  BlockedCloseFilter(QWidget* window, std::function<void()> on_close);
  ~BlockedCloseFilter() override;

  bool nativeEventFilter(const QByteArray& type, void* message, qintptr* result) override;

 private:
  QWidget* window_;
  std::function<void()> on_close_;
  uint32_t wm_protocols_ = 0;
  uint32_t wm_delete_window_ = 0;
};
