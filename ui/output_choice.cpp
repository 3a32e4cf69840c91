// output_choice.cpp holds OutputChoice, the window's choice of sound output.
#include "output_choice.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QSaveFile>

#include "audio_output.h"
#include "output_thread.h"

namespace {

constexpr int kLookMs = 20;
// A name is a line of a few dozen characters; anything larger is not this file.
constexpr qint64 kMostBytes = 4096;

QString ChoiceFilePath() {
  QString state = qEnvironmentVariable("XDG_STATE_HOME");
  if (!QDir::isAbsolutePath(state)) state = QDir::homePath() + "/.local/state";
  return state + "/zelkgen/output";
}

}  // namespace

QString RememberedOutput() {
  QFile file(ChoiceFilePath());
  if (!file.open(QIODevice::ReadOnly)) return {};
  const QString name = QString::fromUtf8(file.read(kMostBytes)).section('\n', 0, 0);
  for (const QChar c : name) {
    if (c.category() == QChar::Other_Control) return {};
  }
  return name;
}

bool RememberOutput(const QString& name) {
  const QString path = ChoiceFilePath();
  if (!QDir().mkpath(QFileInfo(path).path())) return false;
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  file.write(name.toUtf8() + '\n');
  return file.commit();
}

OutputChoice::OutputChoice(QWidget* parent) : QWidget(parent) {
  setObjectName("OutputChoice");
  auto* label = new QLabel("Output:", this);
  box_ = new QComboBox(this);
  box_->setObjectName("OutputBox");
  label->setBuddy(box_);
  box_->setAccessibleName("Sound output");
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(label);
  layout->addWidget(box_, 1);
  const QString remembered = RememberedOutput();
  AudioOutputChooseDevice(remembered.toStdString());
  box_->addItem("Default output", QString());
  if (!remembered.isEmpty()) {
    box_->addItem(remembered, remembered);
    box_->setCurrentIndex(1);
  }
  look_.setInterval(kLookMs);
  connect(&look_, &QTimer::timeout, this, &OutputChoice::LookForList);
  connect(box_, &QComboBox::activated, this, &OutputChoice::Choose);
}

void OutputChoice::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (pending_) return;
  pending_ = PendingList::Start();
  look_.start();
}

void OutputChoice::LookForList() {
  const std::optional<OutputList> outputs = pending_->Result();
  if (!outputs) return;
  look_.stop();
  pending_.reset();
  Fill(*outputs);
}

void OutputChoice::Fill(const OutputList& outputs) {
  const QString chosen = QString::fromStdString(AudioOutputChosenDevice());
  box_->clear();
  box_->addItem("Default output", QString());
  bool listed = chosen.isEmpty();
  for (const std::string& name : outputs.names) {
    const QString text = QString::fromStdString(name);
    box_->addItem(text, text);
    if (text == chosen) {
      box_->setCurrentIndex(box_->count() - 1);
      listed = true;
    }
  }
  if (!listed) {
    box_->addItem(chosen + " (not found)", chosen);
    box_->setCurrentIndex(box_->count() - 1);
  }
}

void OutputChoice::Choose(int index) {
  const QString name = box_->itemData(index).toString();
  AudioOutputChooseDevice(name.toStdString());
  RememberOutput(name);
}
