// Shared helpers for the window tests: the windows created and destroyed as at start-up and
// exit, a driver that acts inside each step's modal display (where the step timer's event and
// Skip are dispatched), and a catcher for the audio error's message box.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QString>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <vector>

#include "application.h"
#include "current_frequency_window.h"
#include "ddfs.h"
#include "info_window.h"
#include "main_window.h"
#include "run_engine.h"
#include "scratch_dir.h"

// What the windows show when a step's Current frequency window appears.
struct StepSeen {
  QString status;       // Form1->Label8
  int position = -1;    // Form1->ProgressBar1
  QString display;      // Form3->Label1
  QString main_label1;  // Form1->Label1
  long double frequency = 0;
  bool timer_on = false;
  int timer_remaining = -1;
  QString bar_hint;  // ProgressBar1's tooltip
};

// Records every showing of the Current frequency window and, from inside its modal loop, runs
// action(step index counted from 0) after delay_ms.
class StepDriver : public QObject {
 public:
  explicit StepDriver(std::function<void(int)> action, int delay_ms = 0)
      : action_(std::move(action)), delay_ms_(delay_ms) {
    Form3->installEventFilter(this);
  }
  ~StepDriver() override {
    if (Form3) Form3->removeEventFilter(this);
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == Form3 && event->type() == QEvent::Show) {
      StepSeen step;
      step.status = Form1->Label8->text();
      step.position = Form1->ProgressBar1->value();
      step.display = Form3->Label1->text();
      step.main_label1 = Form1->Label1->text();
      step.frequency = StreamFrequency;
      step.timer_on = Form1->Timer1->isActive();
      step.timer_remaining = Form1->Timer1->remainingTime();
      step.bar_hint = Form1->ProgressBar1->toolTip();
      seen.push_back(step);
      const int index = static_cast<int>(seen.size()) - 1;
      QTimer::singleShot(delay_ms_, Form3, [this, index] { action_(index); });
    }
    return false;
  }

  std::vector<StepSeen> seen;

 private:
  std::function<void(int)> action_;
  int delay_ms_;
};

// Ends the current step the way the step timer does.
inline void FireTimer1() {
  Form1->Timer1Timer(Form1->Timer1);
}
inline void ClickSkip() {
  Form3->Button1->click();
}

// Watches for message boxes (the audio error's, the step window's question whether to end the
// run), records each and dismisses it with its button named answer, else with OK.
class MessageBoxCatcher : public QObject {
 public:
  explicit MessageBoxCatcher(const char* answer = "OK") {
    timer_.setInterval(2);
    connect(&timer_, &QTimer::timeout, this, [this, answer] {
      for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (box == nullptr || !box->isVisible()) continue;
        ++count;
        text = box->text();
        title = box->windowTitle();
        icon = box->icon();
        buttons = box->standardButtons();
        parent = box->parentWidget();
        modal = box->isModal();
        default_button = box->defaultButton() ? box->defaultButton()->text() : QString();
        step_timer_on = Form1->Timer1->isActive();
        QAbstractButton* pressed = box->button(QMessageBox::Ok);
        for (QAbstractButton* button : box->buttons()) {
          if (button->text() == answer) pressed = button;
        }
        pressed ? pressed->click() : box->accept();
      }
    });
    timer_.start();
  }

  int count = 0;
  QString text;
  QString title;
  QMessageBox::Icon icon = QMessageBox::Critical;
  QMessageBox::StandardButtons buttons;
  QWidget* parent = nullptr;
  bool modal = false;
  QString default_button;
  bool step_timer_on = false;  // Timer1 when the box was seen

 private:
  QTimer timer_;
};

// Runs the event loop as the program does until it ends, or gives -1 after limit_ms.
inline int RunEventLoopUntilEnd(int limit_ms) {
  QTimer guard;
  guard.setSingleShot(true);
  bool timed_out = false;
  QObject::connect(&guard, &QTimer::timeout, [&] {
    timed_out = true;
    QCoreApplication::exit(99);
  });
  guard.start(limit_ms);
  const int result = QApplication::exec();
  return timed_out ? -1 : result;
}

class WindowsTest : public testing::Test {
 protected:
  void SetUp() override {
    CreateWindows();
    InstallEndHandlers();
    Form1->show();
    // A message box nobody expected would wait forever; fail and dismiss it instead.
    unexpected_box_.setInterval(2000);
    QObject::connect(&unexpected_box_, &QTimer::timeout, [] {
      for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (box == nullptr || !box->isVisible()) continue;
        ADD_FAILURE() << "unexpected message: " << box->text().toStdString();
        box->accept();
      }
    });
    unexpected_box_.start();
  }
  void TearDown() override {
    unexpected_box_.stop();
    DestroyWindows();
  }

 private:
  QTimer unexpected_box_;
};

// A scratch folder that stands in for the user's state and data folders and the system's data
// folders while it lives, so the program folders and the recent list a test sees are its own.
class ScratchXdgFolders {
 public:
  explicit ScratchXdgFolders(const char* prefix) : scratch_(prefix) {
    if (!scratch_.Created()) return;
    setenv("XDG_STATE_HOME", (scratch_.Path() / "state").c_str(), 1);
    setenv("XDG_DATA_HOME", (scratch_.Path() / "data").c_str(), 1);
    setenv("XDG_DATA_DIRS", (scratch_.Path() / "system").c_str(), 1);
  }
  ~ScratchXdgFolders() {
    for (const char* name : {"XDG_STATE_HOME", "XDG_DATA_HOME", "XDG_DATA_DIRS"}) unsetenv(name);
  }

  bool Created() const { return scratch_.Created(); }
  const std::filesystem::path& Path() const { return scratch_.Path(); }

 private:
  ScratchDir scratch_;
};
