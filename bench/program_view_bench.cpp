// The Programs window with the largest program allowed, 10 000 steps lasting 24 hours: opening
// it into the steps table and the timeline, painted (target 200 ms), and the editor's check of
// one keystroke in a cell of it (target 20 ms), and a list of 10 000 frequencies pasted into the
// editor (target 1 s). Runs on Qt's offscreen platform.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QTableView>
#include <QTemporaryDir>
#include <QUndoStack>
#include <cstdlib>
#include <string>

#include "program_editor.h"
#include "program_timeline.h"
#include "programs_window.h"

namespace {

// 10 000 steps of 8.64 s each: a day, the most a program may last.
std::string LargestProgram() {
  static const char* const kLines[] = {
      "728 8.64s\n",       "7.83 -> 8 8.64s sine 50% \"Schumann\"   # a comment\n",
      "432.125hz 8.64s\n", "100 -> 200.5 8.64s square \"Rising\"\n",
      "5000 8.64s 80%\n",
  };
  std::string text = "zelkgen program: A day of steps\n# Benchmark input\n";
  for (int k = 0; k < 10000; ++k) text += kLines[k % 5];
  return text;
}

struct Scene {
  QTemporaryDir folder;
  QString path;
  std::string text;
  Scene() : text(LargestProgram()) {
    qputenv("XDG_DATA_HOME", folder.filePath("data").toUtf8());
    qputenv("XDG_STATE_HOME", folder.filePath("state").toUtf8());
    qputenv("XDG_DATA_DIRS", folder.filePath("system").toUtf8());
    QDir().mkpath(folder.filePath("data/zelkgen/programs"));
    path = folder.filePath("data/zelkgen/programs/day.zelkgen");
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) file.write(text.data(), static_cast<qint64>(text.size()));
  }
};

void BM_OpenTenThousandStepsInTableAndTimeline(benchmark::State& state) {
  Scene scene;
  ProgramsWindow window;
  window.show();
  for (auto _ : state) {
    if (!window.OpenFile(scene.path) || window.Steps()->model()->rowCount() != 10000) {
      state.SkipWithError("the program did not open");
      break;
    }
    // Painted now, table and timeline, as the screen would show them.
    window.repaint();
  }
  state.counters["target_ms"] = 200;
}

void BM_CheckOneKeystrokeInATenThousandStepProgram(benchmark::State& state) {
  Scene scene;
  ProgramEditor editor;
  editor.Edit(scene.path, QString::fromStdString(scene.text), false);
  editor.show();
  bool odd = false;
  for (auto _ : state) {
    // A duration typed in the middle of the program, wrong and right in turn.
    editor.CheckTyping(5000, ProgramDocument::Field::kDuration, odd ? "5s" : "5ss");
    odd = !odd;
    if (editor.Errors().empty() == odd) {
      state.SkipWithError("the check did not see the keystroke");
      break;
    }
  }
  state.counters["target_ms"] = 20;
}

void BM_PasteTenThousandLines(benchmark::State& state) {
  Scene scene;
  QString list;
  for (int k = 0; k < 10000; ++k) list += QStringLiteral("%1.5 90s\n").arg(100 + k % 5000);
  QApplication::clipboard()->setText(list);
  ProgramEditor editor;
  editor.Edit(scene.path, "zelkgen program: Pasted\n728 3:00\n", false);
  editor.show();
  for (auto _ : state) {
    editor.Steps()->setCurrentIndex(editor.Steps()->model()->index(0, 0));
    editor.PasteList();
    if (editor.Steps()->model()->rowCount() != 10001) {
      state.SkipWithError("the list was not pasted");
      break;
    }
    state.PauseTiming();
    editor.Undo()->undo();
    state.ResumeTiming();
  }
  state.counters["target_ms"] = 1000;
}

}  // namespace

BENCHMARK(BM_PasteTenThousandLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenTenThousandStepsInTableAndTimeline)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CheckOneKeystrokeInATenThousandStepProgram)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
