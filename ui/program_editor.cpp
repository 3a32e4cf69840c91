// program_editor.cpp holds ProgramEditor, the window that makes and changes program files.
#include "program_editor.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHash>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QShortcut>
#include <QSpinBox>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTime>
#include <QUndoStack>
#include <QVBoxLayout>
#include <algorithm>

#include "outer_geometry.h"
#include "path_text.h"
#include "program_library.h"

using Field = ProgramDocument::Field;

namespace {

// Beside the Programs window, over the main window; shrunk to fit smaller screens.
const QRect kStoredGeometry(360, 80, 600, 480);
// An error's cell: a light red with dark text, readable on light and dark palettes alike.
const QColor kErrorBackground(0xF4, 0xC7, 0xC3);
const QColor kErrorText(Qt::black);

// Marks a field in error in those colours, or gives it back the window's. A palette and not a
// style sheet: a style sheet draws the field in the application's font, not the window's.
void MarkError(QWidget* field, bool error) {
  if (!error) {
    field->setPalette(QPalette());
    return;
  }
  QPalette marked = field->palette();
  for (const QPalette::ColorRole role : {QPalette::Base, QPalette::Button}) {
    marked.setColor(role, kErrorBackground);
  }
  for (const QPalette::ColorRole role : {QPalette::Text, QPalette::ButtonText}) {
    marked.setColor(role, kErrorText);
  }
  field->setPalette(marked);
}
constexpr int kErrorsListed = 3;

// The label last, where the table's spare width goes.
const Field kColumnFields[] = {Field::kFrequency, Field::kEndFrequency, Field::kDuration,
                               Field::kShape,     Field::kLevel,        Field::kGate,
                               Field::kDuty,      Field::kLabel};
constexpr int kColumns = 8;
const char* const kHeaders[kColumns] = {"Frequency", "Glide to", "Duration", "Shape",
                                        "Level",     "Gate",     "Duty",     "Label"};

int ColumnOf(Field field) {
  return static_cast<int>(std::find(std::begin(kColumnFields), std::end(kColumnFields), field) -
                          std::begin(kColumnFields));
}

// A step's error by its step and field ("Step 3, Glide to: ..."), any other by its line.
QString ErrorText(const ProgramDocument& document, const ProgramFileError& error) {
  const QString message = QString::fromStdString(error.message);
  const ProgramDocument::Place place = document.PlaceOf(error.line, error.column);
  if (place.kind != ProgramDocument::Place::kStep) {
    return QStringLiteral("Line %1, column %2: %3").arg(error.line).arg(error.column).arg(message);
  }
  if (!place.field) return QStringLiteral("Step %1: %2").arg(place.row + 1).arg(message);
  return QStringLiteral("Step %1, %2: %3")
      .arg(place.row + 1)
      .arg(kHeaders[ColumnOf(*place.field)], message);
}

// One change of the document, undone and redone as the texts before and after it.
class DocumentChange : public QUndoCommand {
 public:
  DocumentChange(ProgramEditor* editor, const QString& what, std::string before, std::string after)
      : QUndoCommand(what), editor_(editor), before_(std::move(before)), after_(std::move(after)) {}
  void undo() override { editor_->ShowText(before_); }
  void redo() override { editor_->ShowText(after_); }

 private:
  ProgramEditor* editor_;
  std::string before_, after_;
};

}  // namespace

// The document's steps as the table's rows, a cell a field, with the parser's errors marked.
class EditorStepsModel : public QAbstractTableModel {
 public:
  explicit EditorStepsModel(ProgramEditor* editor) : QAbstractTableModel(editor), editor_(editor) {}

  // Shows the document anew: rows added or removed, or only cells changed.
  void Refresh(size_t old_rows) {
    if (old_rows != editor_->Document().StepCount()) {
      beginResetModel();
      endResetModel();
    } else if (old_rows > 0) {
      emit dataChanged(index(0, 0), index(static_cast<int>(old_rows) - 1, kColumns - 1));
    }
  }

  // Only the cells whose mark came, went or changed are repainted: a repaint of a cell with an
  // open editor would give the editor the stored text back.
  void Mark(QHash<qint64, QString> marks) {
    std::swap(marks_, marks);
    QList<qint64> changed;
    for (auto it = marks.cbegin(); it != marks.cend(); ++it) {
      if (marks_.value(it.key()) != it.value()) changed << it.key();
    }
    for (auto it = marks_.cbegin(); it != marks_.cend(); ++it) {
      if (!marks.contains(it.key())) changed << it.key();
    }
    static const QList<int> kRoles = {Qt::BackgroundRole, Qt::ForegroundRole, Qt::ToolTipRole};
    for (const qint64 key : changed) {
      const QModelIndex cell =
          index(static_cast<int>(key / kColumns), static_cast<int>(key % kColumns));
      if (cell.isValid()) emit dataChanged(cell, cell, kRoles);
    }
  }
  // The editor is going: its document no longer answers.
  void Detach() {
    beginResetModel();
    editor_ = nullptr;
    endResetModel();
  }
  static qint64 Key(size_t row, int column) { return static_cast<qint64>(row) * kColumns + column; }

  int rowCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() || editor_ == nullptr
               ? 0
               : static_cast<int>(editor_->Document().StepCount());
  }
  int columnCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() ? 0 : kColumns;
  }
  Qt::ItemFlags flags(const QModelIndex& index) const override {
    return QAbstractTableModel::flags(index) | Qt::ItemIsEditable;
  }
  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const auto row = static_cast<size_t>(index.row());
    const qint64 key = Key(row, index.column());
    switch (role) {
      case Qt::DisplayRole: {
        const QString text = QString::fromStdString(
            editor_->Document().StepField(row, kColumnFields[index.column()]));
        if (text.isEmpty() && kColumnFields[index.column()] == Field::kShape) {
          return QStringLiteral("(program's)");
        }
        return text;
      }
      case Qt::EditRole:
        return QString::fromStdString(
            editor_->Document().StepField(row, kColumnFields[index.column()]));
      case Qt::BackgroundRole:
        return marks_.contains(key) ? QVariant(kErrorBackground) : QVariant();
      case Qt::ForegroundRole:
        return marks_.contains(key) ? QVariant(kErrorText) : QVariant();
      case Qt::ToolTipRole:
        return marks_.value(key);
      default:
        return {};
    }
  }
  bool setData(const QModelIndex& index, const QVariant& value, int role) override {
    if (role != Qt::EditRole || !index.isValid() || editor_ == nullptr) return false;
    const auto row = static_cast<size_t>(index.row());
    const Field field = kColumnFields[index.column()];
    const std::string text = value.toString().toStdString();
    if (editor_->Document().StepField(row, field) == text) return false;
    ProgramDocument after = editor_->Document();
    std::string why;
    if (!after.SetStepField(row, field, text, &why)) {
      editor_->Message()->setText(QStringLiteral("Step %1, %2: %3")
                                      .arg(row + 1)
                                      .arg(kHeaders[index.column()], QString::fromStdString(why)));
      return false;
    }
    editor_->Change(QStringLiteral("Edit step %1").arg(row + 1), after);
    return true;
  }
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Vertical) return section + 1;
    return QString(kHeaders[section]);
  }

 private:
  ProgramEditor* editor_;
  QHash<qint64, QString> marks_;
};

namespace {

// Set on a cell's editor once the user has typed into it.
const char kTyped[] = "typed";

// Typed cells: words the file format takes, a choice of shape, a level from 1 % to 100 %.
class StepCellDelegate : public QStyledItemDelegate {
 public:
  explicit StepCellDelegate(ProgramEditor* editor) : QStyledItemDelegate(editor), editor_(editor) {}

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&,
                        const QModelIndex& index) const override {
    const Field field = kColumnFields[index.column()];
    if (field == Field::kShape) {
      auto* box = new QComboBox(parent);
      box->addItem("(program's)", QString());
      box->addItem("sine", QStringLiteral("sine"));
      box->addItem("square", QStringLiteral("square"));
      return box;
    }
    if (field == Field::kLevel) {
      auto* spin = new QSpinBox(parent);
      spin->setRange(0, 100);
      spin->setSuffix("%");
      spin->setSpecialValueText("100% (default)");
      return spin;
    }
    auto* line = new QLineEdit(parent);
    if (field == Field::kFrequency || field == Field::kEndFrequency) {
      // A glide's end may begin with '~': a glide in octaves.
      line->setValidator(new QRegularExpressionValidator(
          QRegularExpression(field == Field::kEndFrequency ? "~?[0-9.,]*([hH][zZ]?)?"
                                                           : "[0-9.,]*([hH][zZ]?)?"),
          line));
    } else if (field == Field::kDuration) {
      line->setValidator(
          new QRegularExpressionValidator(QRegularExpression("[0-9.:]*[smhSMH]?"), line));
    } else if (field == Field::kDuty) {
      line->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9.]*%?"), line));
    }
    const int row = index.row();
    connect(line, &QLineEdit::textEdited, line, [this, line, row, field](const QString& text) {
      line->setProperty(kTyped, true);
      MarkError(line, editor_->CheckTyping(row, field, text));
    });
    return line;
  }
  void setEditorData(QWidget* widget, const QModelIndex& index) const override {
    // What the user has typed stays until it is committed or given up.
    if (widget->property(kTyped).toBool()) return;
    const QString text = index.data(Qt::EditRole).toString();
    if (auto* box = qobject_cast<QComboBox*>(widget)) {
      box->setCurrentIndex(std::max(0, box->findData(text.toLower())));
    } else if (auto* spin = qobject_cast<QSpinBox*>(widget)) {
      spin->setValue(text.isEmpty() ? 0 : QStringView(text).chopped(1).toInt());
    } else {
      QStyledItemDelegate::setEditorData(widget, index);
    }
  }
  void setModelData(QWidget* widget, QAbstractItemModel* model,
                    const QModelIndex& index) const override {
    if (auto* box = qobject_cast<QComboBox*>(widget)) {
      model->setData(index, box->currentData());
    } else if (auto* spin = qobject_cast<QSpinBox*>(widget)) {
      model->setData(index,
                     spin->value() == 0 ? QString() : QStringLiteral("%1%").arg(spin->value()));
    } else {
      QStyledItemDelegate::setModelData(widget, model, index);
    }
  }

 private:
  ProgramEditor* editor_;
};

}  // namespace

ProgramEditor::ProgramEditor(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName("ProgramEditor");
  setWindowTitle("Program editor");
  setAccessibleName("Program editor");
  if (parent != nullptr) setFont(parent->font());
  undo_ = new QUndoStack(this);
  title_ = new QLineEdit(this);
  title_->setAccessibleName("Title");
  shape_ = new QComboBox(this);
  shape_->setAccessibleName("Default shape");
  shape_->addItem("Output signal", QString());
  shape_->addItem("sine", QStringLiteral("sine"));
  shape_->addItem("square", QStringLiteral("square"));
  repeat_ = new QSpinBox(this);
  repeat_->setAccessibleName("Repeat");
  repeat_->setRange(1, static_cast<int>(kMaxProgramSteps));
  repeat_->setSuffix(" times");
  model_ = new EditorStepsModel(this);
  table_ = new QTableView(this);
  table_->setModel(model_);
  table_->setAccessibleName("Steps");
  auto* delegate = new StepCellDelegate(this);
  table_->setItemDelegate(delegate);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  // Not on a mere change of the current cell: a selected cell keeps the table's keys (a paste).
  table_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked |
                          QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed);
  table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  table_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  table_->horizontalHeader()->setStretchLastSection(true);
  SizeColumns();
  table_->setMinimumSize(160, 80);
  message_ = new QLabel(this);
  message_->setWordWrap(true);
  message_->setTextFormat(Qt::PlainText);
  message_->setAccessibleName("Errors");
  status_ = new QLabel("Paste a list of frequencies to add steps.", this);
  status_->setTextFormat(Qt::PlainText);
  status_->setAccessibleName("Status");
  add_ = new QPushButton("Add step", this);
  remove_ = new QPushButton("Remove", this);
  up_ = new QPushButton("Move up", this);
  down_ = new QPushButton("Move down", this);
  undo_button_ = new QPushButton("Undo", this);
  redo_button_ = new QPushButton("Redo", this);
  save_ = new QPushButton("Save", this);
  close_ = new QPushButton("Close", this);
  for (QPushButton* button : {add_, remove_, up_, down_, undo_button_, redo_button_, close_}) {
    button->setAutoDefault(false);
  }

  auto* header = new QFormLayout;
  header->addRow("Title:", title_);
  auto* settings = new QHBoxLayout;
  settings->addWidget(shape_);
  settings->addWidget(new QLabel("Repeat:", this));
  settings->addWidget(repeat_);
  settings->addStretch();
  header->addRow("Default shape:", settings);
  auto* rows = new QHBoxLayout;
  for (QPushButton* button : {add_, remove_, up_, down_, undo_button_, redo_button_}) {
    rows->addWidget(button);
  }
  rows->addStretch();
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(status_, 1);
  buttons->addWidget(save_);
  buttons->addWidget(close_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(header);
  layout->addLayout(rows);
  layout->addWidget(table_, 1);
  layout->addWidget(message_);
  layout->addLayout(buttons);

  setProperty("outerGeometry", kStoredGeometry);
  setProperty("shrinkToScreen", true);
  KeepStoredOuterGeometry(this);

  // A cell given up (Escape) shows the document's own marks again.
  connect(delegate, &QAbstractItemDelegate::closeEditor, this, [this] {
    if (candidate_checked_) Check(document_);
  });
  watcher_ = new QFileSystemWatcher(this);
  connect(watcher_, &QFileSystemWatcher::fileChanged, this, [this] { NoticeOutsideChange(); });
  connect(title_, &QLineEdit::textEdited, this, [this](const QString& text) {
    ProgramDocument candidate = document_;
    candidate.SetTitle(text.toStdString());
    Check(candidate);
    candidate_checked_ = true;
  });
  title_->installEventFilter(this);
  connect(title_, &QLineEdit::editingFinished, this, [this] {
    if (title_->text().toStdString() == document_.Title()) return;
    ProgramDocument after = document_;
    after.SetTitle(title_->text().toStdString());
    Change("Title", after);
  });
  connect(shape_, &QComboBox::activated, this, [this] {
    ProgramDocument after = document_;
    after.SetProgramShape(shape_->currentData().toString().toStdString());
    if (after.Text() != document_.Text()) Change("Default shape", after);
  });
  connect(repeat_, &QSpinBox::valueChanged, this, [this](int count) {
    ProgramDocument after = document_;
    after.SetRepeat(count == 1 ? std::string() : std::to_string(count));
    if (after.Text() != document_.Text()) Change("Repeat", after);
  });
  connect(add_, &QPushButton::clicked, this, &ProgramEditor::AddRow);
  connect(remove_, &QPushButton::clicked, this, &ProgramEditor::RemoveRows);
  connect(up_, &QPushButton::clicked, this, [this] { MoveRow(-1); });
  connect(down_, &QPushButton::clicked, this, [this] { MoveRow(1); });
  connect(undo_button_, &QPushButton::clicked, undo_, &QUndoStack::undo);
  connect(redo_button_, &QPushButton::clicked, undo_, &QUndoStack::redo);
  connect(undo_, &QUndoStack::canUndoChanged, undo_button_, &QPushButton::setEnabled);
  connect(undo_, &QUndoStack::canRedoChanged, redo_button_, &QPushButton::setEnabled);
  connect(undo_, &QUndoStack::cleanChanged, this, [this] { setWindowModified(Modified()); });
  connect(save_, &QPushButton::clicked, this, &ProgramEditor::Save);
  connect(close_, &QPushButton::clicked, this, &QWidget::close);
  auto* undo_key = new QShortcut(QKeySequence::Undo, this);
  connect(undo_key, &QShortcut::activated, undo_, &QUndoStack::undo);
  auto* redo_key = new QShortcut(QKeySequence::Redo, this);
  connect(redo_key, &QShortcut::activated, undo_, &QUndoStack::redo);
  auto* paste = new QShortcut(QKeySequence::Paste, table_, nullptr, nullptr, Qt::WidgetShortcut);
  connect(paste, &QShortcut::activated, this, &ProgramEditor::PasteList);
  auto* close_key = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(close_key, &QShortcut::activated, this, &QWidget::close);
  undo_button_->setEnabled(false);
  redo_button_->setEnabled(false);
}

ProgramEditor::~ProgramEditor() {
  // The children outlive the members: a title or cell losing its focus as they go (a quit while
  // typing) must reach neither the document nor the undo stack.
  for (QObject* child : findChildren<QObject*>()) child->disconnect(this);
  model_->Detach();
}

bool ProgramEditor::eventFilter(QObject* watched, QEvent* event) {
  if (watched != title_ ||
      (event->type() != QEvent::ShortcutOverride && event->type() != QEvent::KeyPress)) {
    return QWidget::eventFilter(watched, event);
  }
  const auto* key = static_cast<QKeyEvent*>(event);
  const QString before = QString::fromStdString(document_.Title());
  // An unchanged title leaves Escape to the window (it closes).
  if (key->key() != Qt::Key_Escape || key->modifiers() != Qt::NoModifier ||
      title_->text() == before) {
    return QWidget::eventFilter(watched, event);
  }
  if (event->type() == QEvent::ShortcutOverride) {
    event->accept();  // the key comes here as a key press, not as the window's shortcut
    return true;
  }
  title_->setText(before);
  Check(document_);
  return true;
}

void ProgramEditor::SizeColumns() {
  // Widths in digits, or of the text a cell usually holds, small enough that the label keeps its
  // place in view on small screens; never narrower than the header's own text (a digit's width,
  // rounded, leaves "Frequency" short of its room at some scales).
  const int digit = fontMetrics().horizontalAdvance('0');
  const struct {
    int digits;
    const char* holds;
  } kWidths[kColumns - 1] = {
      {9, ""}, {9, ""}, {8, ""}, {0, "(program's)"}, {7, ""}, {0, "7.83 on 25%"}, {6, ""}};
  for (int column = 0; column < kColumns - 1; ++column) {
    const int room = std::max(kWidths[column].digits * digit,
                              fontMetrics().horizontalAdvance(kWidths[column].holds) + 2 * digit);
    table_->setColumnWidth(column,
                           std::max(room, table_->horizontalHeader()->sectionSizeHint(column)));
  }
}

void ProgramEditor::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange && table_ != nullptr) SizeColumns();
  QWidget::changeEvent(event);
}

bool ProgramEditor::Modified() const {
  return is_new_ || !undo_->isClean();
}

bool ProgramEditor::Edit(const QString& path, const QString& text, bool is_new) {
  if (isVisible() && !MaySet()) return false;
  path_ = path;
  is_new_ = is_new;
  on_disk_ = is_new ? std::string() : text.toStdString();
  if (!watcher_->files().isEmpty()) watcher_->removePaths(watcher_->files());
  if (!is_new) watcher_->addPath(path);
  status_->setText("Paste a list of frequencies to add steps.");
  undo_->clear();
  ShowText(text.toStdString());
  undo_->setClean();
  setWindowModified(Modified());
  return true;
}

void ProgramEditor::SetTitle(const QString& title) {
  ProgramDocument after = document_;
  after.SetTitle(title.toStdString());
  Change("Title", after);
}

void ProgramEditor::Change(const QString& what, const ProgramDocument& after) {
  undo_->push(new DocumentChange(this, what, document_.Text(), after.Text()));
}

void ProgramEditor::ShowText(const std::string& text) {
  const size_t old_rows = document_.StepCount();
  document_.SetText(text);
  model_->Refresh(old_rows);
  ShowHeader();
  Check(document_);
}

void ProgramEditor::ShowHeader() {
  const QSignalBlocker quiet_title(title_), quiet_shape(shape_), quiet_repeat(repeat_);
  title_->setText(QString::fromStdString(document_.Title()));
  shape_->setCurrentIndex(
      std::max(0, shape_->findData(QString::fromStdString(document_.ProgramShape()).toLower())));
  bool ok = false;
  const int count = QString::fromStdString(document_.Repeat()).toInt(&ok);
  repeat_->setValue(ok ? count : 1);
  // "[*]": the modified mark, until saved.
  setWindowTitle("Program editor - " + QString::fromStdString(document_.Title()) + "[*]");
}

void ProgramEditor::Check(const ProgramDocument& document) {
  candidate_checked_ = false;
  errors_ = ParseProgramText(document.Text()).errors;
  QHash<qint64, QString> marks;
  bool title_error = false, shape_error = false, repeat_error = false;
  for (const ProgramFileError& error : errors_) {
    const ProgramDocument::Place place = document.PlaceOf(error.line, error.column);
    switch (place.kind) {
      case ProgramDocument::Place::kTitle:
        title_error = true;
        break;
      case ProgramDocument::Place::kShape:
        shape_error = true;
        break;
      case ProgramDocument::Place::kRepeat:
        repeat_error = true;
        break;
      case ProgramDocument::Place::kStep: {
        // An error in no field of its own (an unknown word) marks the step's frequency.
        const int column = place.field ? ColumnOf(*place.field) : 0;
        QString& text = marks[EditorStepsModel::Key(place.row, column)];
        if (text.isEmpty()) text = QString::fromStdString(error.message);
        break;
      }
      case ProgramDocument::Place::kOther:
        break;
    }
  }
  model_->Mark(marks);
  MarkError(title_, title_error);
  MarkError(shape_, shape_error);
  MarkError(repeat_, repeat_error);
  QStringList lines;
  for (size_t k = 0; k < errors_.size() && k < kErrorsListed; ++k) {
    lines << ErrorText(document, errors_[k]);
  }
  if (errors_.size() > kErrorsListed) {
    lines << QStringLiteral("... and %1 more").arg(errors_.size() - kErrorsListed);
  }
  message_->setText(lines.join('\n'));
  save_->setEnabled(errors_.empty());
}

bool ProgramEditor::CheckTyping(int row, Field field, const QString& text) {
  ProgramDocument candidate = document_;
  std::string why;
  bool cell_error = false;
  if (!candidate.SetStepField(static_cast<size_t>(row), field, text.toStdString(), &why)) {
    message_->setText(QStringLiteral("Step %1, %2: %3")
                          .arg(row + 1)
                          .arg(kHeaders[ColumnOf(field)], QString::fromStdString(why)));
    save_->setEnabled(false);
    cell_error = true;
  } else {
    Check(candidate);
    for (const ProgramFileError& error : errors_) {
      const ProgramDocument::Place place = candidate.PlaceOf(error.line, error.column);
      if (place.kind == ProgramDocument::Place::kStep && place.row == static_cast<size_t>(row) &&
          place.field == field) {
        cell_error = true;
      }
    }
  }
  candidate_checked_ = true;
  return cell_error;
}

int ProgramEditor::CurrentRow() const {
  const QModelIndex current = table_->currentIndex();
  return current.isValid() ? current.row() : -1;
}

void ProgramEditor::AddRow() {
  const int row = CurrentRow();
  const size_t at = row < 0 ? document_.StepCount() : static_cast<size_t>(row) + 1;
  ProgramDocument after = document_;
  after.InsertStep(at, "728 3:00");
  Change("Add step", after);
  table_->setCurrentIndex(model_->index(static_cast<int>(at), 0));
  // Ready to type into the new step: F2 or any key opens its first cell.
  table_->setFocus();
}

void ProgramEditor::RemoveRows() {
  QList<int> rows;
  for (const QModelIndex& index : table_->selectionModel()->selectedRows()) rows << index.row();
  if (rows.isEmpty() && CurrentRow() >= 0) rows << CurrentRow();
  if (rows.isEmpty()) return;
  std::sort(rows.rbegin(), rows.rend());
  ProgramDocument after = document_;
  for (const int row : rows) after.RemoveStep(static_cast<size_t>(row));
  Change(rows.size() == 1 ? QStringLiteral("Remove step") : QStringLiteral("Remove steps"), after);
}

void ProgramEditor::MoveRow(int by) {
  const int row = CurrentRow();
  const int to = row + by;
  if (row < 0 || to < 0 || to >= static_cast<int>(document_.StepCount())) return;
  ProgramDocument after = document_;
  after.SwapWithNext(static_cast<size_t>(std::min(row, to)));
  Change("Move step", after);
  table_->setCurrentIndex(model_->index(to, std::max(0, table_->currentIndex().column())));
}

void ProgramEditor::PasteList() {
  const std::vector<std::string> steps =
      ProgramDocument::StepsFromList(QApplication::clipboard()->text().toStdString());
  if (steps.empty()) {
    message_->setText(
        "Paste a list of frequencies: one a line, or separated by commas or "
        "blanks, each optionally with its duration (440 90s, 528 2m).");
    return;
  }
  const int row = CurrentRow();
  size_t at = row < 0 ? document_.StepCount() : static_cast<size_t>(row) + 1;
  ProgramDocument after = document_;
  after.InsertSteps(at, steps);
  Change(QStringLiteral("Paste %1 steps").arg(steps.size()), after);
}

bool ProgramEditor::Save() {
  if (!errors_.empty()) return false;
  if (!is_new_) {
    // Another program or the user's text editor may have written the file meanwhile.
    std::string now, error;
    const bool readable = ReadProgramFileText(PathBytes(path_), &now, &error);
    if (!readable || now != on_disk_) {
      QMessageBox box(QMessageBox::Warning, "Program editor",
                      readable ? "\"" + path_ + "\" was changed on disk since it was opened here."
                               : "\"" + path_ + "\" cannot be read as it was opened here: " +
                                     QString::fromStdString(error),
                      QMessageBox::NoButton, this);
      box.setTextFormat(Qt::PlainText);
      QPushButton* reload =
          readable ? box.addButton("Reload", QMessageBox::DestructiveRole) : nullptr;
      QPushButton* overwrite = box.addButton("Overwrite", QMessageBox::AcceptRole);
      QPushButton* cancel = box.addButton(QMessageBox::Cancel);
      box.setDefaultButton(cancel);
      box.exec();
      if (reload != nullptr && box.clickedButton() == reload) {
        is_new_ = false;
        undo_->setClean();
        Edit(path_, QString::fromStdString(now), false);
        status_->setText("Reloaded from disk; your changes were dropped.");
        return false;
      }
      if (box.clickedButton() != overwrite) return false;
    }
  }
  if (is_new_) {
    const QString title = QString::fromStdString(document_.Title());
    path_ = NewProgramPath(title);
  }
  QString error;
  if (!SaveProgramText(path_, document_.Text(), &error)) {
    QMessageBox box(QMessageBox::Warning, "Program editor",
                    "The program was not saved; the file is as it was.\n\n" + error,
                    QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
    return false;
  }
  is_new_ = false;
  on_disk_ = document_.Text();
  // A file replaced by a new one is watched anew.
  if (!watcher_->files().isEmpty()) watcher_->removePaths(watcher_->files());
  watcher_->addPath(path_);
  undo_->setClean();
  setWindowModified(false);
  status_->setText("Saved " + QFileInfo(path_).fileName() + " at " +
                   QTime::currentTime().toString("HH:mm:ss") + ".");
  emit Saved(path_);
  return true;
}

void ProgramEditor::NoticeOutsideChange() {
  std::string now, error;
  if (is_new_ || path_.isEmpty()) return;
  // A file replaced by rename drops out of the watch: watched again while it is there.
  if (!watcher_->files().contains(path_) && QFileInfo::exists(path_)) watcher_->addPath(path_);
  if (ReadProgramFileText(PathBytes(path_), &now, &error) && now == on_disk_) return;
  status_->setText("The file was changed on disk; Save will ask before writing over it.");
}

bool ProgramEditor::MaySet() {
  if (!Modified()) return true;
  const QString title = QString::fromStdString(document_.Title());
  QMessageBox box(
      QMessageBox::Question, "Program editor",
      errors_.empty()
          ? "Save the changes to \"" + title + "\"?"
          : "\"" + title + "\" has errors and cannot be saved yet. Discard the changes?",
      errors_.empty() ? QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel
                      : QMessageBox::Discard | QMessageBox::Cancel,
      this);
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(QMessageBox::Cancel);
  switch (box.exec()) {
    case QMessageBox::Save:
      return Save();
    case QMessageBox::Discard:
      is_new_ = false;
      undo_->setClean();
      return true;
    default:
      return false;
  }
}

void ProgramEditor::closeEvent(QCloseEvent* event) {
  if (MaySet()) {
    event->accept();
  } else {
    event->ignore();
  }
}
