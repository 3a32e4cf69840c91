// programs_window.cpp holds ProgramsWindow, the "Programs" window beside the main window: the
// program files of the program folders (program_library.h), the most recently used first, then
// the built-in programs; "Open file..." for any other, and Start, which plays the chosen program
// through the main window's run, as its program buttons do. The selected program shows its
// steps in a table and as a timeline, with its title, number of steps and length; while it
// plays, the timeline marks how far the run has got. New, Edit and Duplicate open the program
// editor (program_editor.h); "Open in text editor" hands the file to the desktop's editor.
// A file opened from elsewhere (dropped on the main window or on this one, given on the command
// line, passed on by a later copy) comes up selected here, ready to start with one click; a file
// with errors shows them, with their line numbers, in a message. The list follows the program
// folders and the listed files as they change on disk.
//
// That message is one window, not modal, which the next file with errors updates: however many
// files arrive, the event loop never nests and the windows keep answering. Names that are not
// UTF-8 are shown escaped (path_text.h); files are opened as regular_file.h opens them, so a pipe
// or a device never holds the window.
//
// It reads a file when it is listed, chosen or started, never while a run plays: Start hands the
// main window a program of its own (a shared value), which the run holds to its end.
#pragma once

#include <QHash>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <memory>

#include "treatment_programs.h"

class QFileSystemWatcher;
class QLabel;
class QListWidget;
class QMessageBox;
class QPushButton;
class QTableView;
class ProgramEditor;
class ProgramStepsModel;
class ProgramTimeline;

class ProgramsWindow : public QWidget {
  Q_OBJECT

 public:
  explicit ProgramsWindow(QWidget* parent = nullptr);
  ~ProgramsWindow() override;

  // Lists the programs anew and shows the window in front.
  void ShowPrograms();
  // Reads path; a good program is listed first, selected and ready to start, and the window
  // comes to the front; a file with errors shows them in a message. False for the errors.
  bool OpenFile(const QString& path);

  // A run of program started (null: the run ended). While the selected program is the one
  // that plays, the timeline marks the run's place.
  void FollowRun(const TreatmentProgram* program);
  // How far the run has got, in milliseconds of its steps' periods.
  void ShowRunElapsed(qint64 ms);

  // The parts, for the tests.
  QListWidget* List() const { return list_; }
  QPushButton* StartButton() const { return start_; }
  QPushButton* EditButton() const { return edit_; }
  QPushButton* NewButton() const { return new_; }
  QPushButton* DuplicateButton() const { return duplicate_; }
  QTableView* Steps() const { return table_; }
  ProgramTimeline* Timeline() const { return timeline_; }
  QLabel* Summary() const { return summary_; }
  // The row of the step that plays, shown in bold on a tint of the highlight; -1 for none.
  int PlayingRow() const { return playing_row_; }
  ProgramEditor* Editor() const { return editor_; }
  // The message with the latest file's errors; null before the first.
  QMessageBox* ErrorsView() const { return errors_; }

 signals:
  // Start was pressed on a good program.
  void StartRequested(std::shared_ptr<const TreatmentProgram> program);
  // A file was dropped on the window; it opens as one dropped on the main window does.
  void FileDropped(const QString& path);
  // True while the selected program gives every step its shape, so that "Output signal" has
  // nothing to choose; false otherwise and while the window is hidden.
  void ShapeChoiceTaken(bool taken);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  // Lists the programs, selected first when it is not among them; selected_program, when given,
  // is selected's program, already read, which is not read again.
  void Refill(const QString& selected,
              std::shared_ptr<const TreatmentProgram> selected_program = nullptr);
  void ShowSelected();
  void ShowPlayingRow(int row);
  void FitShapeColumn();
  void ChooseFile();
  void Start();
  void NewProgram();
  void EditProgram();
  void DuplicateProgram();
  void OpenInTextEditor();
  void OpenEditor(const QString& path, const QString& text, bool is_new);
  void WatchListed(const QStringList& paths);
  // The selected item's file (empty for a built-in) and program (null when it has errors).
  QString SelectedPath() const;
  std::shared_ptr<const TreatmentProgram> SelectedProgram() const;
  // The selected file read anew; null after its errors have been shown.
  std::shared_ptr<const TreatmentProgram> Load(const QString& path);
  void ShowErrors(const QString& path, const std::vector<std::string>& messages);

  QListWidget* list_;
  QLabel* summary_;
  QTableView* table_;
  ProgramStepsModel* model_;
  ProgramTimeline* timeline_;
  QLabel* about_;
  QPushButton* new_;
  QPushButton* edit_;
  QPushButton* duplicate_;
  QPushButton* text_editor_;
  QPushButton* open_;
  QPushButton* start_;
  QPushButton* close_;
  ProgramEditor* editor_ = nullptr;
  QFileSystemWatcher* watcher_;
  QTimer refill_later_;
  // The listed files' programs, read when listed; null for a file with errors.
  QHash<QString, std::shared_ptr<const TreatmentProgram>> programs_;
  const TreatmentProgram* running_ = nullptr;
  int playing_row_ = -1;
  QMessageBox* errors_ = nullptr;
};

extern ProgramsWindow* FormPrograms;
