// Windows on screens of several sizes and scale factors: each opens at its stored outer
// rectangle where that fits the screen's available area, and otherwise is moved just enough to
// lie inside it. Screens are fixed for a process, so each case runs this program again as a
// probe on Qt's offscreen platform, configured with the case's screen and scale factor.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QRect>
#include <QScreen>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "application.h"
#include "child_process.h"
#include "current_frequency_window.h"
#include "ddfs.h"
#include "info_window.h"
#include "main_window.h"
#include "programs_window.h"
#include "scratch_dir.h"

// Rectangles in failure messages as x, y, width x height.
void PrintTo(const QRect& r, std::ostream* out) {
  *out << r.x() << ", " << r.y() << ", " << r.width() << " x " << r.height();
}

namespace {

constexpr const char* kProbeVariable = "ZELKGEN_PLACEMENT_PROBE";

void PrintRect(const char* name, const QRect& r) {
  std::printf("%s %d %d %d %d\n", name, r.x(), r.y(), r.width(), r.height());
}

// The probe: the windows shown as at start-up, then where they stand, in logical pixels.
int RunProbe(int argc, char** argv) {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  InitDDFS();
  QApplication application(argc, argv);
  CreateWindows();
  Form1->show();
  Form2->show();
  Form3->show();
  FormPrograms->ShowPrograms();
  // Past the second fitting a late window frame would bring.
  QTimer::singleShot(500, [] { QCoreApplication::exit(0); });
  QApplication::exec();
  PrintRect("available", QGuiApplication::primaryScreen()->availableGeometry());
  PrintRect("Form1", Form1->frameGeometry());
  PrintRect("Form2", Form2->frameGeometry());
  PrintRect("Form3", Form3->frameGeometry());
  PrintRect("Programs", FormPrograms->frameGeometry());
  PrintRect("Exit", QRect(Form1->Button4->mapToGlobal(QPoint(0, 0)), Form1->Button4->size()));
  std::fflush(stdout);
  DestroyWindows();
  return 0;
}

std::map<std::string, QRect> ReadProbe(const std::string& path) {
  std::map<std::string, QRect> rects;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string name;
    int x, y, w, h;
    if (fields >> name >> x >> y >> w >> h) rects[name] = QRect(x, y, w, h);
  }
  return rects;
}

TEST(WindowPlacement, StoredPositionsWhereTheyFitOtherwiseMovedJustInsideTheScreen) {
  const QRect main_stored(278, 285, 468, 268), info_stored(337, 185, 475, 448),
      step_stored(392, 271, 240, 127);
  const struct {
    const char* name;
    QRect screen;  // in device pixels
    const char* scale;
    QRect main, info, step;  // expected outer rectangles, in logical pixels
  } cases[] = {
      // Everything fits: the stored rectangles.
      {"1280x1024", {0, 0, 1280, 1024}, "1", main_stored, info_stored, step_stored},
      // 640 x 512 logical pixels: the main window 172 = 640 - 468 across, 244 = 512 - 268
      // down; the Information window 165 = 640 - 475 and 64 = 512 - 448; the step window fits.
      {"1280x1024 at scale 2",
       {0, 0, 1280, 1024},
       "2",
       {172, 244, 468, 268},
       {165, 64, 475, 448},
       step_stored},
      // The small screens the Programs window must lie inside: all stored rectangles fit
      // 1024 x 768; at scale 2 on 1280 x 800 (640 x 400 logical) as above, the Information
      // window's top at the screen's.
      {"1024x768", {0, 0, 1024, 768}, "1", main_stored, info_stored, step_stored},
      {"1280x800 at scale 2",
       {0, 0, 1280, 800},
       "2",
       {172, 132, 468, 268},
       {165, 0, 475, 448},
       step_stored},
      // A screen whose area starts at 100, 50 and ends at 740, 530.
      {"640x480 at 100,50",
       {100, 50, 640, 480},
       "1",
       {272, 262, 468, 268},
       {265, 82, 475, 448},
       step_stored},
      // Narrower than the main window: its left edge at the screen's; 32 = 300 - 268.
      {"400x300", {0, 0, 400, 300}, "1", {0, 32, 468, 268}, {0, 0, 475, 448}, {160, 173, 240, 127}},
  };
  ScratchDir scratch;
  ASSERT_TRUE(scratch.Created());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string config = (scratch.Path() / "screen.json").string();
    std::ofstream(config) << "{\"screens\": [{\"name\": \"probe\", \"x\": " << c.screen.x()
                          << ", \"y\": " << c.screen.y() << ", \"width\": " << c.screen.width()
                          << ", \"height\": " << c.screen.height() << "}]}";
    const std::string output = (scratch.Path() / "probe.txt").string();
    pid_t probe = SpawnChild(
        {"/proc/self/exe"},
        {std::string(kProbeVariable) + "=1", "QT_QPA_PLATFORM=offscreen:configfile=" + config,
         std::string("QT_SCALE_FACTOR=") + c.scale},
        output);
    ASSERT_GT(probe, 0);
    const int status = WaitForExit(probe, std::chrono::seconds(60));
    TerminateChild(probe);  // one that did not end in time
    ASSERT_EQ(status, 0);
    auto rects = ReadProbe(output);
    const QRect available = rects["available"];
    ASSERT_FALSE(available.isEmpty());
    EXPECT_EQ(rects["Form1"], c.main);
    EXPECT_EQ(rects["Form2"], c.info);
    EXPECT_EQ(rects["Form3"], c.step);
    // The Programs window is made small enough for any screen of 640 x 400 or more.
    if (available.width() >= 640 && available.height() >= 400) {
      EXPECT_TRUE(available.contains(rects["Programs"])) << rects["Programs"].width();
    }
    if (c.main.width() <= available.width()) {
      EXPECT_TRUE(available.contains(rects["Form1"]));
      EXPECT_TRUE(available.contains(rects["Exit"]));
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv(kProbeVariable) != nullptr) return RunProbe(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
