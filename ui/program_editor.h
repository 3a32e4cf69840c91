// ProgramEditor: the window in which a program file is made or changed: its title, its default
// shape and repeat count, and its steps as rows with a cell per field (frequency, glide's end,
// duration, shape, level, label). Rows are added, removed and moved; every change can be undone
// and redone. Each change, down to a keystroke in a cell, is checked by the parser the files are
// played with: an error marks its cell and its message stands under the table, and Save is
// possible only without errors. The text behind it is a ProgramDocument, so saving writes only
// the lines a change touched (comments, blank lines and spacing stay), atomically. A plain list
// of frequencies pasted into the table becomes one step each. Closing with unsaved changes asks.
//
// Window thread only.
#pragma once

#include <QString>
#include <QWidget>
#include <string>
#include <vector>

#include "program_document.h"

class QComboBox;
class QFileSystemWatcher;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTableView;
class QUndoStack;
class EditorStepsModel;

class ProgramEditor : public QWidget {
  Q_OBJECT

 public:
  explicit ProgramEditor(QWidget* parent = nullptr);
  ~ProgramEditor() override;

  // Edits text, saved to path (a new program: saved as a new file there). False when the
  // program edited so far has unsaved changes and the user kept it.
  bool Edit(const QString& path, const QString& text, bool is_new);
  void SetTitle(const QString& title);

  // Writes the program; false (with a message shown) on errors or a failed write.
  bool Save();
  // Pastes the clipboard's plain list of frequencies after the current row.
  void PasteList();

  // Asks what to do with unsaved changes, if there are any; false when the user keeps editing.
  bool MaySet();

  const ProgramDocument& Document() const { return document_; }
  const QString& Path() const { return path_; }
  bool Modified() const;
  // The parser's errors of the text as it stands.
  const std::vector<ProgramFileError>& Errors() const { return errors_; }

  // The parts, for the tests.
  QTableView* Steps() const { return table_; }
  QLabel* Message() const { return message_; }
  QLabel* Status() const { return status_; }
  QPushButton* SaveButton() const { return save_; }
  QUndoStack* Undo() const { return undo_; }

  // A change of the document as an undoable step: text before and after.
  void Change(const QString& what, const ProgramDocument& after);
  // A cell's text as it is being typed: checked at once, not yet a change. True when the text
  // typed is itself in error (its cell is marked).
  bool CheckTyping(int row, ProgramDocument::Field field, const QString& text);
  // The document shown anew from text (undo and redo).
  void ShowText(const std::string& text);

 signals:
  void Saved(const QString& path);

 protected:
  void closeEvent(QCloseEvent* event) override;
  // A new font sizes the columns anew.
  void changeEvent(QEvent* event) override;
  // Escape in the title gives back the title as it was before the edit.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Check(const ProgramDocument& document);
  void ShowHeader();
  void SizeColumns();
  void AddRow();
  void RemoveRows();
  void MoveRow(int by);
  int CurrentRow() const;
  // The file on disk differs from what was opened or saved here: said in the status line.
  void NoticeOutsideChange();

  ProgramDocument document_;
  std::vector<ProgramFileError> errors_;
  QString path_;
  bool is_new_ = false;
  // The file's bytes as opened or last saved here; Save asks before writing over others.
  std::string on_disk_;
  // The marks shown are a cell's or the title's text being typed, not the document's.
  bool candidate_checked_ = false;
  QFileSystemWatcher* watcher_;
  QLabel* status_;
  QLineEdit* title_;
  QComboBox* shape_;
  QSpinBox* repeat_;
  QTableView* table_ = nullptr;  // none yet while the constructor sets the font
  EditorStepsModel* model_;
  QLabel* message_;
  QPushButton* add_;
  QPushButton* remove_;
  QPushButton* up_;
  QPushButton* down_;
  QPushButton* undo_button_;
  QPushButton* redo_button_;
  QPushButton* save_;
  QPushButton* close_;
  QUndoStack* undo_;
};
