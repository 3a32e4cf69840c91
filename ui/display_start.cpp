#include "display_start.h"

#include <QCoreApplication>
#include <QString>
#include <QThread>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "app_identity.h"

namespace {

QtMessageHandler qt_handler = nullptr;
std::vector<std::pair<QtMsgType, QString>> held_messages;

std::string EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  // Appended rather than "..." + string, which GCC 12 at -O3 takes for an overlapping copy.
  std::string text = name;
  return value != nullptr && *value != '\0' ? text.append("=").append(value)
                                            : text.append(" unset");
}

// Qt reports a display it cannot open as a fatal message, then aborts.
void HoldStartMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type != QtFatalMsg) {
    held_messages.emplace_back(type, qFormatLogMessage(type, context, message));
    return;
  }
  std::fprintf(
      stderr, "%s: cannot open a display (%s, %s); the window needs one, --export does not\n",
      kAppName, EnvironmentValue("DISPLAY").c_str(), EnvironmentValue("WAYLAND_DISPLAY").c_str());
  std::_Exit(1);
}

void (*lost_display_steps)() = nullptr;

// Qt's words when the connection breaks, on X11 and on Wayland, just before it calls exit(1).
bool SaysDisplayIsLost(const QString& message) {
  return message.contains("connection broke");
}

void EndAtLostDisplay(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type != QtDebugMsg && type != QtInfoMsg && SaysDisplayIsLost(message) &&
      QCoreApplication::instance() != nullptr &&
      QThread::currentThread() == QCoreApplication::instance()->thread()) {
    if (lost_display_steps != nullptr) lost_display_steps();
    std::fprintf(stderr, "zelkgen: the display went away (%s)\n", qPrintable(message));
    std::fflush(nullptr);
    std::_Exit(1);
  }
  if (qt_handler != nullptr) {
    qt_handler(type, context, message);
  } else {
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
  }
}

}  // namespace

void EndWhenDisplayIsLost(void (*last_steps)()) {
  lost_display_steps = last_steps;
  qt_handler = qInstallMessageHandler(EndAtLostDisplay);
}

void HoldStartMessages() {
  qt_handler = qInstallMessageHandler(HoldStartMessage);
}

void PassStartMessages() {
  qInstallMessageHandler(qt_handler);
  for (const auto& [type, text] : held_messages) {
    if (qt_handler != nullptr) {
      qt_handler(type, QMessageLogContext(), text);
    } else {
      std::fprintf(stderr, "%s\n", qPrintable(text));
    }
  }
  held_messages.clear();
}
