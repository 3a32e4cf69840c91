#include "display_start.h"

#include <QString>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

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
  std::fprintf(stderr,
               "zelkgen: cannot open a display (%s, %s); the window needs one, --export does not\n",
               EnvironmentValue("DISPLAY").c_str(), EnvironmentValue("WAYLAND_DISPLAY").c_str());
  std::_Exit(1);
}

}  // namespace

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
