// Shared pieces of the desktop-service tests: the private buses of the test program (started by
// desktop_test_main.cpp before anything reaches D-Bus, since Qt keeps its first connection to
// each bus for the life of the process), waits that keep Qt's event loop turning, a capture of
// this process's stderr, and probes that ask the mocked services what they hold.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "private_dbus.h"
#include "scratch_dir.h"

// The buses every test of the program shares; Started() is false when they could not be had.
PrivateBuses& TestBuses();
bool TestBusesStarted();

#define SKIP_WITHOUT_BUSES()                                           \
  do {                                                                 \
    if (!TestBusesStarted()) GTEST_SKIP() << "no private D-Bus buses"; \
  } while (false)

inline constexpr int kWaitMs = 15000;  // generous: other builds may load the machine

// Turns Qt's event loop until check() holds or limit_ms have passed; check()'s last value.
template <typename Check>
bool WaitUntil(Check check, int limit_ms = kWaitMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
  while (!check()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// Turns the event loop for ms, for answers that must not come.
inline void Settle(int ms) {
  WaitUntil([] { return false; }, ms);
}

// Sends this process's stderr into a file while it lives.
class StderrCapture {
 public:
  StderrCapture() : path_(dir_.Path() / "stderr") {
    std::fflush(stderr);
    saved_ = dup(STDERR_FILENO);
    std::FILE* file = std::fopen(path_.c_str(), "w");
    dup2(fileno(file), STDERR_FILENO);
    std::fclose(file);
  }
  ~StderrCapture() {
    std::fflush(stderr);
    dup2(saved_, STDERR_FILENO);
    close(saved_);
  }
  // The captured lines that start with prefix.
  std::vector<std::string> Lines(const std::string& prefix = "zelkgen:") const {
    std::fflush(stderr);
    std::ifstream in(path_);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind(prefix, 0) == 0) lines.push_back(line);
    }
    return lines;
  }

 private:
  ScratchDir dir_;
  std::filesystem::path path_;
  int saved_ = -1;
};

// A connection of the test's own to a private bus, apart from the one the code under test uses.
inline QDBusConnection ProbeBus(TestBus bus) {
  const QString name = bus == TestBus::kSession ? "probe-session" : "probe-system";
  QDBusConnection connection(name);
  if (connection.isConnected()) return connection;
  return QDBusConnection::connectToBus(QString::fromStdString(TestBuses().Address(bus)), name);
}

inline QDBusMessage ProbeCall(TestBus bus, const QString& service, const QString& path,
                              const QString& interface, const QString& method) {
  return ProbeBus(bus).call(QDBusMessage::createMethodCall(service, path, interface, method),
                            QDBus::Block, 5000);
}

// logind's inhibitors as "what|who|why|mode".
inline QStringList LogindInhibitors() {
  const QDBusMessage reply =
      ProbeCall(TestBus::kSystem, "org.freedesktop.login1", "/org/freedesktop/login1",
                "org.freedesktop.login1.Manager", "ListInhibitors");
  QStringList inhibitors;
  if (reply.type() != QDBusMessage::ReplyMessage) return {"(no answer)"};
  const QDBusArgument list = reply.arguments().at(0).value<QDBusArgument>();
  list.beginArray();
  while (!list.atEnd()) {
    QString what, who, why, mode;
    uint uid = 0, pid = 0;
    list.beginStructure();
    list >> what >> who >> why >> mode >> uid >> pid;
    list.endStructure();
    inhibitors << QStringList{what, who, why, mode}.join('|');
  }
  list.endArray();
  return inhibitors;
}

// The portal mock's active request handles.
inline QStringList PortalInhibitions() {
  const QDBusMessage reply = ProbeCall(TestBus::kSession, "org.freedesktop.portal.Desktop",
                                       "/org/freedesktop/portal/desktop",
                                       "org.freedesktop.DBus.Mock", "ActiveInhibitions");
  if (reply.type() != QDBusMessage::ReplyMessage) return {"(no answer)"};
  return reply.arguments().at(0).toStringList();
}

// The screen saver mock's active cookies.
inline QStringList ScreenSaverCookies() {
  const QDBusMessage reply =
      ProbeCall(TestBus::kSession, "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                "org.freedesktop.DBus.Mock", "ActiveCookies");
  if (reply.type() != QDBusMessage::ReplyMessage) return {"(no answer)"};
  QStringList cookies;
  const QDBusArgument list = reply.arguments().at(0).value<QDBusArgument>();
  list.beginArray();
  while (!list.atEnd()) {
    uint cookie = 0;
    list >> cookie;
    cookies << QString::number(cookie);
  }
  list.endArray();
  return cookies;
}

// The mocked desktop services an inhibitor may use, each started only when asked for.
struct InhibitServices {
  // portal: "" none, "ok", or the template's "fail" parameter ("call", "response").
  // screen_saver_parameters: the screen saver template's, e.g. {"delay_ms": 500}.
  InhibitServices(const std::string& portal, bool logind, bool screen_saver,
                  const std::string& screen_saver_parameters = "")
      : portal_mock(TestBuses(), TestBus::kSession, ZELKGEN_DBUS_TEMPLATES "/desktop_portal.py",
                    "org.freedesktop.portal.Desktop",
                    portal == "ok" || portal.empty() ? "" : "{\"fail\": \"" + portal + "\"}"),
        logind_mock(TestBuses(), TestBus::kSystem, "logind", "org.freedesktop.login1"),
        screen_saver_mock(TestBuses(), TestBus::kSession, ZELKGEN_DBUS_TEMPLATES "/screen_saver.py",
                          "org.freedesktop.ScreenSaver", screen_saver_parameters),
        with_portal(!portal.empty()),
        with_logind(logind),
        with_screen_saver(screen_saver) {}

  bool Start(std::string* why) {
    return (!with_portal || portal_mock.Start(why)) && (!with_logind || logind_mock.Start(why)) &&
           (!with_screen_saver || screen_saver_mock.Start(why));
  }

  DBusMock portal_mock;
  DBusMock logind_mock;
  DBusMock screen_saver_mock;
  bool with_portal;
  bool with_logind;
  bool with_screen_saver;
};
