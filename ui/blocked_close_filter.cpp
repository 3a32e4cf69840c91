#include "blocked_close_filter.h"

#include <dlfcn.h>
#include <xcb/xcb.h>  // types only; the functions come from the libxcb Qt's X11 platform loaded

#include <QApplication>
#include <QGuiApplication>
#include <QWidget>
#include <cstdlib>
#include <cstring>

namespace {

// The atom of name, or 0 when it cannot be had.
uint32_t InternAtom(xcb_connection_t* connection, void* xcb, const char* name) {
  using Intern = decltype(&xcb_intern_atom);
  using Reply = decltype(&xcb_intern_atom_reply);
  const auto intern = reinterpret_cast<Intern>(dlsym(xcb, "xcb_intern_atom"));
  const auto reply_of = reinterpret_cast<Reply>(dlsym(xcb, "xcb_intern_atom_reply"));
  if (intern == nullptr || reply_of == nullptr) return 0;
  xcb_intern_atom_reply_t* reply =
      reply_of(connection, intern(connection, 1, uint16_t(strlen(name)), name), nullptr);
  if (reply == nullptr) return 0;
  const uint32_t atom = reply->atom;
  std::free(reply);
  return atom;
}

}  // namespace

BlockedCloseFilter::BlockedCloseFilter(QWidget* window, std::function<void()> on_close)
    : window_(window), on_close_(std::move(on_close)) {
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  // Other platforms may offer the interface without a connection (offscreen).
  if (x11 == nullptr || x11->connection() == nullptr) return;
  // Qt's X11 platform has libxcb loaded; nothing is loaded for this.
  void* xcb = dlopen("libxcb.so.1", RTLD_LAZY | RTLD_NOLOAD);
  if (xcb == nullptr) return;
  wm_protocols_ = InternAtom(x11->connection(), xcb, "WM_PROTOCOLS");
  wm_delete_window_ = InternAtom(x11->connection(), xcb, "WM_DELETE_WINDOW");
  dlclose(xcb);
  if (wm_protocols_ != 0 && wm_delete_window_ != 0) {
    QCoreApplication::instance()->installNativeEventFilter(this);
  }
}

BlockedCloseFilter::~BlockedCloseFilter() {
  if (QCoreApplication::instance() != nullptr) {
    QCoreApplication::instance()->removeNativeEventFilter(this);
  }
}

bool BlockedCloseFilter::nativeEventFilter(const QByteArray& type, void* message, qintptr*) {
  if (type != "xcb_generic_event_t") return false;
  const auto* event = static_cast<const xcb_generic_event_t*>(message);
  if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE) return false;
  const auto* client = static_cast<const xcb_client_message_event_t*>(message);
  if (client->format != 32 || client->type != wm_protocols_ ||
      client->data.data32[0] != wm_delete_window_ || client->window != window_->winId()) {
    return false;
  }
  const QWidget* modal = QApplication::activeModalWidget();
  if (modal == nullptr || modal->window() == window_) return false;  // Qt closes it itself
  on_close_();
  return true;
}
