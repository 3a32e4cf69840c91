// programs_window.cpp holds ProgramsWindow, the small "Programs" window beside the main window:
// the program files of the program folders (program_library.h), the most recently used first,
// "Open file..." for any other, and Start, which plays the chosen program through the main
// window's run, as its program buttons do. A file opened from elsewhere (dropped on the main
// window, given on the command line, passed on by a later copy) comes up selected here, ready to
// start with one click; a file with errors shows them, with their line numbers, in a message.
// That message is one window, not modal, which the next file with errors updates: however many
// files arrive, the event loop never nests and the windows keep answering. Names that are not
// UTF-8 are shown escaped (path_text.h); files are opened as regular_file.h opens them, so a
// pipe or a device never holds the window.
//
// It reads a file when it is chosen or started, never while a run plays: the main window's
// Start hands it a program of its own (a shared value), which the run holds to its end.
#pragma once

#include <QString>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "treatment_programs.h"

class QLabel;
class QListWidget;
class QMessageBox;
class QPushButton;

class ProgramsWindow : public QWidget {
  Q_OBJECT

 public:
  explicit ProgramsWindow(QWidget* parent = nullptr);

  // Lists the programs anew and shows the window in front.
  void ShowPrograms();
  // Reads path (path_text.h); a good program is listed first, selected and ready to start, and the
  // window comes to the front; a file with errors shows them in a message. False for the errors.
  bool OpenFile(const QString& path);

  // The list and the buttons, for the tests.
  QListWidget* List() const { return list_; }
  QPushButton* StartButton() const { return start_; }
  // The message with the latest file's errors; null before the first.
  QMessageBox* ErrorsView() const { return errors_; }

 signals:
  // Start was pressed on a good program; the window has hidden itself.
  void StartRequested(std::shared_ptr<const TreatmentProgram> program);

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // Lists the programs, selected first when it is not among them; selected_program, when given,
  // is selected's program, already read.
  void Refill(const QString& selected, const TreatmentProgram* selected_program = nullptr);
  void ShowSelected();
  void ChooseFile();
  void Start();
  // The selected file read anew; null after its errors have been shown.
  std::shared_ptr<const TreatmentProgram> Load(const QString& path);
  void ShowErrors(const QString& path, const std::vector<std::string>& messages);

  QListWidget* list_;
  QLabel* about_;
  QPushButton* open_;
  QPushButton* start_;
  QPushButton* close_;
  QMessageBox* errors_ = nullptr;
};

extern ProgramsWindow* FormPrograms;
