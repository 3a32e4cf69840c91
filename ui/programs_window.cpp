// programs_window.cpp holds ProgramsWindow, the "Programs" window.
#include "programs_window.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>
#include <string>
#include <vector>

#include "outer_geometry.h"
#include "output_choice.h"
#include "program_file.h"
#include "program_library.h"

ProgramsWindow* FormPrograms = nullptr;

namespace {

// Beside the main window (278, 285, 468 x 268), as tall as it, within a screen 1024 pixels wide;
// moved onto smaller screens.
const QRect kStoredGeometry(750, 285, 270, 268);
// More lines than a message box shows on a small screen are counted, not listed.
constexpr int kErrorsShown = 20;

QString SummaryOf(const TreatmentProgram& program) {
  return QStringLiteral("%1 %2, %3")
      .arg(program.Steps.size())
      .arg(program.Steps.size() == 1 ? "step" : "steps")
      .arg(QString::fromStdString(ProgramLengthText(program)));
}

}  // namespace

ProgramsWindow::ProgramsWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName("FormPrograms");
  setWindowTitle("Programs");
  // The main window's font: windows do not take it over from their parent by themselves.
  if (parent != nullptr) setFont(parent->font());
  list_ = new QListWidget(this);
  about_ = new QLabel(this);
  about_->setWordWrap(true);
  about_->setTextFormat(Qt::PlainText);
  open_ = new QPushButton("Open file...", this);
  start_ = new QPushButton("Start", this);
  close_ = new QPushButton("Close", this);
  start_->setDefault(true);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(open_);
  buttons->addStretch();
  buttons->addWidget(start_);
  buttons->addWidget(close_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(list_, 1);
  layout->addWidget(about_);
  layout->addWidget(new OutputChoice(this));
  layout->addLayout(buttons);

  setProperty("outerGeometry", kStoredGeometry);
  KeepStoredOuterGeometry(this);

  connect(list_, &QListWidget::currentRowChanged, this, &ProgramsWindow::ShowSelected);
  connect(list_, &QListWidget::itemActivated, this, &ProgramsWindow::Start);
  connect(open_, &QPushButton::clicked, this, &ProgramsWindow::ChooseFile);
  connect(start_, &QPushButton::clicked, this, &ProgramsWindow::Start);
  connect(close_, &QPushButton::clicked, this, &QWidget::hide);
}

void ProgramsWindow::ShowPrograms() {
  const QListWidgetItem* current = list_->currentItem();
  Refill(current != nullptr ? current->data(Qt::UserRole).toString() : QString());
  show();
  raise();
  activateWindow();
}

bool ProgramsWindow::OpenFile(const QString& path) {
  const QString absolute = QFileInfo(path).absoluteFilePath();
  if (!Load(absolute)) return false;
  RememberProgram(absolute);
  Refill(absolute);
  show();
  raise();
  activateWindow();
  start_->setFocus();
  return true;
}

void ProgramsWindow::Refill(const QString& selected) {
  list_->clear();
  QStringList paths = ProgramsRecentFirst();
  // Listed even where the recent list cannot be kept.
  if (!selected.isEmpty() && !paths.contains(selected)) paths.prepend(selected);
  for (const QString& path : paths) {
    TreatmentProgram program;
    std::vector<std::string> ignored;
    const QString name = QFileInfo(path).fileName();
    auto* item = new QListWidgetItem(list_);
    item->setData(Qt::UserRole, QFileInfo(path).absoluteFilePath());
    item->setToolTip(path);
    if (LoadProgramFile(path.toLocal8Bit().toStdString(), &program, &ignored)) {
      item->setText(QString::fromStdString(program.Name));
      item->setData(Qt::UserRole + 1, SummaryOf(program) + " - " + name);
    } else {
      item->setText(name + " (has errors)");
      item->setData(Qt::UserRole + 1, "Start shows its errors.");
    }
  }
  int row = 0;
  for (int i = 0; i < list_->count(); ++i) {
    if (list_->item(i)->data(Qt::UserRole).toString() == selected) row = i;
  }
  list_->setCurrentRow(list_->count() > 0 ? row : -1);
  start_->setEnabled(list_->count() > 0);
  if (list_->count() == 0) {
    about_->setText("No program files yet: open one, or put them in " +
                    QFileInfo(ProgramFolders().value(0)).absoluteFilePath() + ".");
  }
}

void ProgramsWindow::ShowSelected() {
  const QListWidgetItem* item = list_->currentItem();
  if (item != nullptr) about_->setText(item->data(Qt::UserRole + 1).toString());
}

void ProgramsWindow::ChooseFile() {
  const QString path = QFileDialog::getOpenFileName(
      this, "Open a program file", QString(),
      QStringLiteral("Program files (*%1);;All files (*)").arg(kProgramFileExtension));
  if (!path.isEmpty()) OpenFile(path);
}

std::shared_ptr<const TreatmentProgram> ProgramsWindow::Load(const QString& path) {
  auto program = std::make_shared<TreatmentProgram>();
  std::vector<std::string> messages;
  if (LoadProgramFile(path.toLocal8Bit().toStdString(), program.get(), &messages)) return program;
  QStringList lines;
  for (const std::string& message : messages) {
    if (lines.size() == kErrorsShown) break;
    lines << QString::fromLocal8Bit(message.c_str());
  }
  if (messages.size() > kErrorsShown) {
    lines << QStringLiteral("... and %1 more").arg(messages.size() - kErrorsShown);
  }
  QMessageBox box(QMessageBox::Warning, "Programs",
                  QFileInfo(path).fileName() + " cannot be played:\n\n" + lines.join('\n'),
                  QMessageBox::Ok, isVisible() ? this : parentWidget());
  box.setTextFormat(Qt::PlainText);
  box.exec();
  return nullptr;
}

void ProgramsWindow::Start() {
  const QListWidgetItem* item = list_->currentItem();
  if (item == nullptr) return;
  const QString path = item->data(Qt::UserRole).toString();
  std::shared_ptr<const TreatmentProgram> program = Load(path);
  if (!program) return;
  RememberProgram(path);
  hide();
  emit StartRequested(program);
}

void ProgramsWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    hide();
    return;
  }
  QWidget::keyPressEvent(event);
}
