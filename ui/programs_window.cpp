// programs_window.cpp holds ProgramsWindow, the "Programs" window.
#include "programs_window.h"

#include <sys/stat.h>

#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QStandardPaths>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTemporaryDir>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "dropped_file.h"
#include "outer_geometry.h"
#include "output_choice.h"
#include "path_text.h"
#include "program_editor.h"
#include "program_file.h"
#include "program_library.h"
#include "program_steps_model.h"
#include "program_timeline.h"

ProgramsWindow* FormPrograms = nullptr;

namespace {

// A file is read by the rules of the output it will play on: a generator's reach, or the sound
// card's (whose own step start refuses a frequency beyond it, should the choice change).
ProgramFor ChosenOutputRules() {
  std::string device;
  GeneratorSettings settings;
  return ChosenGenerator(&device, &settings) ? ProgramFor::AnyOutput : ProgramFor::SoundCard;
}

// The table's property that names the playing row.
const char kPlayingRow[] = "playingRow";

// The step that plays stands out from the others, whatever is selected: bold, on a tint of the
// palette's highlight.
class PlayingRowDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    const QVariant playing = parent()->property(kPlayingRow);
    if (!playing.isValid() || playing.toInt() != index.row()) return;
    option->font.setBold(true);
    QColor tint = option->palette.color(QPalette::Highlight);
    tint.setAlpha(70);
    option->backgroundBrush = tint;
  }
};

// Right of the main window's buttons, down to the bottom of a 1024 x 768 screen: room for the
// table and the timeline. Shrunk to fit smaller screens (outer_geometry.h).
const QRect kStoredGeometry(430, 40, 590, 560);
// More lines than a message box shows on a small screen are counted, not listed.
constexpr int kErrorsShown = 20;

bool IsRegularFile(const QString& path) {
  struct stat info {};
  return stat(PathBytes(path).c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

constexpr int kPathRole = Qt::UserRole;         // the file, absolute; empty for a built-in
constexpr int kAboutRole = Qt::UserRole + 1;    // the line under the list
constexpr int kBuiltInRole = Qt::UserRole + 2;  // the built-in's index, or -1

QString SummaryOf(const TreatmentProgram& program) {
  return QStringLiteral("%1 %2, %3")
      .arg(program.Steps.size())
      .arg(program.Steps.size() == 1 ? "step" : "steps")
      .arg(QString::fromStdString(ProgramLengthText(program)));
}

// A built-in program as a shared value that owns nothing: the run plays the program itself.
std::shared_ptr<const TreatmentProgram> BuiltIn(int index) {
  return std::shared_ptr<const TreatmentProgram>(std::shared_ptr<void>(),
                                                 kBuiltInPrograms[index].program);
}

bool EveryStepHasItsShape(const TreatmentProgram& program) {
  if (program.Steps.empty()) return false;
  for (const TreatmentStep& step : program.Steps) {
    if (!step.Shape) return false;
  }
  return true;
}

// Qt's own file dialog keeps its history in a settings file of the toolkit's; the program
// keeps no settings, so the dialog's go to a folder that is gone when it closes.
QString ChooseProgramFileToOpen(QWidget* parent, const QString& folder) {
  QTemporaryDir settings;
  const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
  if (settings.isValid()) {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
  }
  QString path;
  {
    QFileDialog dialog(
        parent, "Open a program file", folder,
        QStringLiteral("Program files (*%1);;All files (*)").arg(kProgramFileExtension));
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
      path = dialog.selectedFiles().first();
    }
  }
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config);
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config);
  return path;
}

}  // namespace

ProgramsWindow::ProgramsWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName("FormPrograms");
  setWindowTitle("Programs");
  setAccessibleName("Programs");
  // The main window's font: windows do not take it over from their parent by themselves.
  if (parent != nullptr) setFont(parent->font());
  list_ = new QListWidget(this);
  list_->setAccessibleName("Programs");
  list_->setMinimumWidth(120);
  summary_ = new QLabel(this);
  summary_->setTextFormat(Qt::PlainText);
  summary_->setWordWrap(true);
  summary_->setAccessibleName("Program");
  model_ = new ProgramStepsModel(this);
  table_ = new QTableView(this);
  table_->setModel(model_);
  table_->setItemDelegate(new PlayingRowDelegate(table_));
  table_->setAccessibleName("Steps");
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->verticalHeader()->hide();
  // Fixed row heights and column widths: the view never measures 10 000 rows.
  table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  table_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  table_->horizontalHeader()->setStretchLastSection(true);
  const int digit = fontMetrics().horizontalAdvance('0');
  const int widths[] = {6, 8, 14, 8, 8, 6};
  for (int column = 0; column < 6; ++column) table_->setColumnWidth(column, widths[column] * digit);
  table_->setMinimumSize(120, 60);
  timeline_ = new ProgramTimeline(this);
  about_ = new QLabel(this);
  about_->setWordWrap(true);
  about_->setTextFormat(Qt::PlainText);
  new_ = new QPushButton("New...", this);
  edit_ = new QPushButton("Edit...", this);
  duplicate_ = new QPushButton("Duplicate...", this);
  text_editor_ = new QPushButton("Open in text editor", this);
  open_ = new QPushButton("Open file...", this);
  start_ = new QPushButton("Start", this);
  close_ = new QPushButton("Close", this);
  start_->setDefault(true);

  auto* right = new QWidget(this);
  auto* right_layout = new QVBoxLayout(right);
  right_layout->setContentsMargins(0, 0, 0, 0);
  auto* views = new QSplitter(Qt::Vertical, right);
  views->addWidget(table_);
  views->addWidget(timeline_);
  views->setChildrenCollapsible(false);
  right_layout->addWidget(summary_);
  right_layout->addWidget(views, 1);
  auto* sides = new QSplitter(Qt::Horizontal, this);
  sides->addWidget(list_);
  sides->addWidget(right);
  sides->setStretchFactor(1, 1);
  sides->setChildrenCollapsible(false);
  sides->setSizes({130, 450});

  auto* shaping = new QHBoxLayout;
  for (QPushButton* button : {new_, edit_, duplicate_, text_editor_}) shaping->addWidget(button);
  shaping->addStretch();
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(open_);
  buttons->addStretch();
  buttons->addWidget(start_);
  buttons->addWidget(close_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(sides, 1);
  layout->addWidget(about_);
  layout->addLayout(shaping);
  layout->addWidget(new OutputChoice(this));
  layout->addLayout(buttons);

  setAcceptDrops(true);
  setProperty("outerGeometry", kStoredGeometry);
  setProperty("shrinkToScreen", true);
  KeepStoredOuterGeometry(this);

  watcher_ = new QFileSystemWatcher(this);
  refill_later_.setSingleShot(true);
  refill_later_.setInterval(200);  // an editor's save is a burst of changes
  connect(&refill_later_, &QTimer::timeout, this, [this] { Refill(SelectedPath()); });
  connect(watcher_, &QFileSystemWatcher::directoryChanged, &refill_later_,
          qOverload<>(&QTimer::start));
  connect(watcher_, &QFileSystemWatcher::fileChanged, &refill_later_, qOverload<>(&QTimer::start));

  connect(list_, &QListWidget::currentRowChanged, this, &ProgramsWindow::ShowSelected);
  connect(list_, &QListWidget::itemActivated, this, &ProgramsWindow::Start);
  connect(new_, &QPushButton::clicked, this, &ProgramsWindow::NewProgram);
  connect(edit_, &QPushButton::clicked, this, &ProgramsWindow::EditProgram);
  connect(duplicate_, &QPushButton::clicked, this, &ProgramsWindow::DuplicateProgram);
  connect(text_editor_, &QPushButton::clicked, this, &ProgramsWindow::OpenInTextEditor);
  connect(open_, &QPushButton::clicked, this, &ProgramsWindow::ChooseFile);
  connect(start_, &QPushButton::clicked, this, &ProgramsWindow::Start);
  connect(close_, &QPushButton::clicked, this, &QWidget::hide);
}

ProgramsWindow::~ProgramsWindow() = default;

void ProgramsWindow::ShowPrograms() {
  Refill(SelectedPath());
  show();
  raise();
  activateWindow();
}

bool ProgramsWindow::OpenFile(const QString& path) {
  const QString absolute = AbsolutePathText(path);
  std::shared_ptr<const TreatmentProgram> program = Load(absolute);
  if (!program) return false;
  RememberProgram(absolute);
  Refill(absolute, std::move(program));
  show();
  raise();
  activateWindow();
  start_->setFocus();
  return true;
}

void ProgramsWindow::FollowRun(const TreatmentProgram* program) {
  running_ = program;
  timeline_->SetRunPosition(-1);
  ShowPlayingRow(-1);
}

void ProgramsWindow::ShowRunElapsed(qint64 ms) {
  const bool shown = running_ != nullptr && running_ == model_->Program();
  timeline_->SetRunPosition(shown ? ms : -1);
  int row = -1;
  if (shown) {
    // The step whose start is the last at or before ms.
    const std::vector<qint64>& starts = model_->Starts();
    row = static_cast<int>(std::upper_bound(starts.begin(), starts.end(), ms) - starts.begin()) - 1;
    row = std::clamp(row, 0, model_->rowCount() - 1);
  }
  ShowPlayingRow(row);
}

void ProgramsWindow::ShowPlayingRow(int row) {
  if (row == playing_row_) return;
  playing_row_ = row;
  table_->setProperty(kPlayingRow, row);
  if (row >= 0) table_->scrollTo(model_->index(row, 0), QAbstractItemView::EnsureVisible);
  table_->viewport()->update();
}

void ProgramsWindow::Refill(const QString& selected,
                            std::shared_ptr<const TreatmentProgram> selected_program) {
  QStringList paths = ProgramsRecentFirst();
  // Listed even where the recent list cannot be kept.
  if (!selected.isEmpty() && !paths.contains(selected) &&
      (selected_program || IsRegularFile(selected))) {
    paths.prepend(selected);
  }
  QHash<QString, std::shared_ptr<const TreatmentProgram>> programs;
  QHash<QString, int> titles;
  struct Entry {
    QString path, name, title;
  };
  std::vector<Entry> entries;
  for (const QString& path : paths) {
    const QString absolute = AbsolutePathText(path);
    const QString name = ShownPath(FileNameText(path));
    std::shared_ptr<const TreatmentProgram> program;
    // The file just read is not opened a second time.
    if (selected_program && absolute == selected) {
      program = selected_program;
    } else {
      auto read = std::make_shared<TreatmentProgram>();
      std::vector<std::string> ignored;
      if (LoadProgramFile(PathBytes(absolute), read.get(), &ignored, ChosenOutputRules())) {
        program = std::move(read);
      }
    }
    programs.insert(absolute, program);
    if (program) {
      const QString title = QString::fromStdString(program->Name);
      ++titles[title];
      entries.push_back({absolute, name, title});
    } else {
      entries.push_back({absolute, name, QString()});
    }
  }
  for (const BuiltInProgram& builtin : kBuiltInPrograms) {
    ++titles[QString::fromStdString(builtin.program->Name)];
  }
  programs_ = std::move(programs);

  const QSignalBlocker quiet(list_);
  list_->clear();
  for (const Entry& entry : entries) {
    auto* item = new QListWidgetItem(list_);
    item->setData(kPathRole, entry.path);
    item->setData(kBuiltInRole, -1);
    item->setToolTip(ShownPath(entry.path));
    if (const auto& program = programs_.value(entry.path)) {
      // Two programs of one title are told apart by their files' names.
      item->setText(titles.value(entry.title) > 1 ? entry.title + " (" + entry.name + ")"
                                                  : entry.title);
      item->setData(kAboutRole, SummaryOf(*program) + " - " + entry.name);
      item->setData(Qt::AccessibleTextRole, entry.title + ", " + entry.name);
    } else {
      item->setText(entry.name + " (has errors)");
      item->setData(kAboutRole, "Start shows its errors.");
      item->setData(Qt::AccessibleTextRole, entry.name + ", has errors");
    }
  }
  for (int index = 0; index < static_cast<int>(std::size(kBuiltInPrograms)); ++index) {
    const TreatmentProgram& program = *kBuiltInPrograms[index].program;
    const QString title = QString::fromStdString(program.Name);
    auto* item = new QListWidgetItem(title + " (built in)", list_);
    item->setData(kBuiltInRole, index);
    item->setData(kAboutRole, SummaryOf(program) + " - built in");
    item->setData(Qt::AccessibleTextRole, title + ", built in");
  }
  WatchListed(paths);
  int row = 0;
  for (int i = 0; i < list_->count(); ++i) {
    if (!selected.isEmpty() && list_->item(i)->data(kPathRole).toString() == selected) row = i;
  }
  list_->setCurrentRow(row);
  ShowSelected();
}

void ProgramsWindow::WatchListed(const QStringList& paths) {
  if (!watcher_->files().isEmpty()) watcher_->removePaths(watcher_->files());
  if (!watcher_->directories().isEmpty()) watcher_->removePaths(watcher_->directories());
  QStringList watched;
  for (const QString& folder : ProgramFolders()) {
    if (QFileInfo(folder).isDir()) watched << folder;
  }
  for (const QString& path : paths) watched << QFileInfo(path).absoluteFilePath();
  if (!watched.isEmpty()) watcher_->addPaths(watched);
}

QString ProgramsWindow::SelectedPath() const {
  const QListWidgetItem* item = list_->currentItem();
  return item != nullptr ? item->data(kPathRole).toString() : QString();
}

std::shared_ptr<const TreatmentProgram> ProgramsWindow::SelectedProgram() const {
  const QListWidgetItem* item = list_->currentItem();
  if (item == nullptr) return nullptr;
  const int builtin = item->data(kBuiltInRole).toInt();
  if (builtin >= 0) return BuiltIn(builtin);
  return programs_.value(item->data(kPathRole).toString());
}

// The shape column widens for a gate or a duty ("sine, gate 7.83 Hz on 25%"), judged from the
// first rows only, so that a long program is never measured whole, up to a width that leaves
// the label in view.
void ProgramsWindow::FitShapeColumn() {
  constexpr int kRowsMeasured = 200;
  const int digit = fontMetrics().horizontalAdvance('0');
  int width = 8 * digit;
  for (int row = 0; row < std::min(model_->rowCount(), kRowsMeasured); ++row) {
    const QString text = model_->index(row, ProgramStepsModel::kShape).data().toString();
    width = std::max(width, fontMetrics().horizontalAdvance(text) + 2 * digit);
  }
  // Elided beyond 18 digits: the label keeps its place in view on a small screen.
  table_->setColumnWidth(ProgramStepsModel::kShape, std::min(width, 18 * digit));
}

void ProgramsWindow::ShowSelected() {
  const QListWidgetItem* item = list_->currentItem();
  const std::shared_ptr<const TreatmentProgram> program = SelectedProgram();
  const bool file = item != nullptr && item->data(kBuiltInRole).toInt() < 0;
  model_->SetProgram(program);
  timeline_->SetProgram(program, model_->Starts());
  FitShapeColumn();
  if (item == nullptr) {
    summary_->clear();
    about_->setText("No program files yet: open one, or put them in " +
                    QFileInfo(ProgramFolders().value(0)).absoluteFilePath() + ".");
  } else {
    about_->setText(item->data(kAboutRole).toString());
    summary_->setText(program ? QString::fromStdString(program->Name) + " - " + SummaryOf(*program)
                              : item->text());
  }
  start_->setEnabled(item != nullptr);
  edit_->setEnabled(file);
  duplicate_->setEnabled(program != nullptr);
  text_editor_->setEnabled(file);
  emit ShapeChoiceTaken(isVisible() && program && file && EveryStepHasItsShape(*program));
}

void ProgramsWindow::ChooseFile() {
  // The first program folder that exists: the user's own, else the system's examples.
  QString folder = QDir::homePath();
  for (const QString& candidate : ProgramFolders()) {
    if (QFileInfo(candidate).isDir()) {
      folder = candidate;
      break;
    }
  }
  const QString path = ChooseProgramFileToOpen(this, folder);
  if (!path.isEmpty()) OpenFile(path);
}

std::shared_ptr<const TreatmentProgram> ProgramsWindow::Load(const QString& path) {
  auto program = std::make_shared<TreatmentProgram>();
  std::vector<std::string> messages;
  if (LoadProgramFile(PathBytes(path), program.get(), &messages, ChosenOutputRules()))
    return program;
  ShowErrors(path, messages);
  return nullptr;
}

void ProgramsWindow::ShowErrors(const QString& path, const std::vector<std::string>& messages) {
  QStringList lines;
  for (const std::string& message : messages) {
    if (lines.size() == kErrorsShown) break;
    lines << ShownText(message);
  }
  if (messages.size() > kErrorsShown) {
    lines << QStringLiteral("... and %1 more").arg(messages.size() - kErrorsShown);
  }
  if (errors_ == nullptr) {
    // A window of the main window's, like this one, and kept for the next file's errors.
    errors_ = new QMessageBox(QMessageBox::Warning, "Programs", QString(), QMessageBox::Ok,
                              parentWidget() != nullptr ? parentWidget() : this);
    errors_->setTextFormat(Qt::PlainText);
    errors_->setModal(false);
  }
  errors_->setText(ShownPath(FileNameText(path)) + " cannot be played:\n\n" + lines.join('\n'));
  errors_->show();
  errors_->raise();
  errors_->activateWindow();
}

void ProgramsWindow::Start() {
  const QListWidgetItem* item = list_->currentItem();
  if (item == nullptr) return;
  const int builtin = item->data(kBuiltInRole).toInt();
  if (builtin >= 0) {
    emit StartRequested(BuiltIn(builtin));
    return;
  }
  const QString path = item->data(kPathRole).toString();
  std::shared_ptr<const TreatmentProgram> program = Load(path);
  if (!program) return;
  RememberProgram(path);
  // The table and the timeline show what plays, so the run's marker follows it.
  programs_.insert(path, program);
  ShowSelected();
  emit StartRequested(program);
}

void ProgramsWindow::NewProgram() {
  OpenEditor(NewProgramPath("New program"),
             QStringLiteral("%1 New program\n\n728 3:00\n").arg(kProgramFileMagic), true);
}

void ProgramsWindow::EditProgram() {
  const QString path = SelectedPath();
  if (path.isEmpty()) return;
  std::string text, error;
  if (!ReadProgramFileText(PathBytes(path), &text, &error)) {
    QMessageBox::warning(this, "Programs", ShownText(error));
    return;
  }
  OpenEditor(path, QString::fromStdString(text), false);
}

void ProgramsWindow::DuplicateProgram() {
  const std::shared_ptr<const TreatmentProgram> program = SelectedProgram();
  if (!program) return;
  const QString path = SelectedPath();
  std::string text, error;
  if (path.isEmpty()) {
    text = ProgramFileText(*program);
  } else if (!ReadProgramFileText(PathBytes(path), &text, &error)) {
    QMessageBox::warning(this, "Programs", ShownText(error));
    return;
  }
  const QString title = QString::fromStdString(program->Name) + " copy";
  OpenEditor(NewProgramPath(title), QString::fromStdString(text), true);
  editor_->SetTitle(title);
}

void ProgramsWindow::OpenEditor(const QString& path, const QString& text, bool is_new) {
  if (editor_ == nullptr) {
    editor_ = new ProgramEditor(this);
    connect(editor_, &ProgramEditor::Saved, this, [this](const QString& saved) {
      RememberProgram(saved);
      Refill(saved);
    });
  }
  if (!editor_->Edit(path, text, is_new)) return;
  editor_->show();
  editor_->raise();
  editor_->activateWindow();
}

void ProgramsWindow::OpenInTextEditor() {
  const QString path = SelectedPath();
  if (path.isEmpty()) return;
  if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path))) {
    QMessageBox::warning(this, "Programs",
                         "No application opens " + QFileInfo(path).fileName() + ".");
  }
}

void ProgramsWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    hide();
    return;
  }
  QWidget::keyPressEvent(event);
}

void ProgramsWindow::dragEnterEvent(QDragEnterEvent* event) {
  AcceptFileDrag(event);
}

void ProgramsWindow::dropEvent(QDropEvent* event) {
  const QString path = TakeDroppedFile(event);
  if (path.isEmpty()) return;
  // After the drop has finished: opening the file may show a message.
  QTimer::singleShot(0, this, [this, path] { emit FileDropped(path); });
}

void ProgramsWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  ShowSelected();
}

void ProgramsWindow::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  emit ShapeChoiceTaken(false);
}
