// output_choice.cpp holds OutputChoice, the window's choice of sound output.
#include "output_choice.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <cstdio>
#include <string>

#include "app_identity.h"
#include "audio_output.h"
#include "output_thread.h"
#include "private_folder.h"

namespace {

constexpr int kLookMs = 20;
// A name is a line of a few dozen characters; anything larger is not this file.
constexpr size_t kMostBytes = 4096;

// Characters of a name the control makes room for; longer ones are elided.
constexpr int kShownNameLength = 24;

// Where an item keeps the system's name of its output.
constexpr int kSystemNameRole = Qt::UserRole + 1;

// In the state folder, beside the recent programs.
constexpr char kChoiceFileName[] = "output";

}  // namespace

QString RememberedOutput(QString* system_name) {
  std::string bytes, why;
  // A file that is not a plain one of this user's (a pipe, a link) is not waited on or followed.
  if (!ReadStateFile(kChoiceFileName, kMostBytes, &bytes, &why)) {
    std::fprintf(stderr, "%s: the chosen output is not read (%s)\n", kAppName, why.c_str());
    return {};
  }
  const QString name = QString::fromUtf8(bytes).section('\n', 0, 0);
  const QString system = QString::fromUtf8(bytes).section('\n', 1, 1);
  for (const QChar c : name + system) {
    if (c.category() == QChar::Other_Control) return {};
  }
  if (system_name != nullptr) *system_name = system;
  return name;
}

bool RememberOutput(const QString& name, const QString& system_name) {
  std::string why;
  QString lines = name + '\n';
  if (!system_name.isEmpty()) lines += system_name + '\n';
  if (WriteStateFile(kChoiceFileName, lines.toUtf8().toStdString(), &why)) return true;
  std::fprintf(stderr, "%s: the chosen output is not remembered (%s)\n", kAppName, why.c_str());
  return false;
}

OutputChoice::OutputChoice(QWidget* parent) : QWidget(parent) {
  setObjectName("OutputChoice");
  auto* label = new QLabel("Output:", this);
  box_ = new QComboBox(this);
  box_->setObjectName("OutputBox");
  label->setBuddy(box_);
  box_->setAccessibleName("Sound output");
  // A name as long as a server cares to give (or a remembered file holds) is elided rather than
  // widening the window past the screen; the list shows it whole where it can.
  box_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  box_->setMinimumContentsLength(kShownNameLength);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(label);
  layout->addWidget(box_, 1);
  const QString remembered = RememberedOutput(&system_name_);
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
  box_->clear();
  box_->addItem("Default output", QString());
  QString chosen = QString::fromStdString(AudioOutputChosenDevice());
  // The system's name finds the output when twins have swapped their places in the list.
  for (size_t k = 0; k < outputs.system_names.size() && !system_name_.isEmpty(); ++k) {
    const QString now = QString::fromStdString(outputs.names[k]);
    if (QString::fromStdString(outputs.system_names[k]) == system_name_ && now != chosen) {
      chosen = now;
      AudioOutputChooseDevice(outputs.names[k]);
      RememberOutput(chosen, system_name_);
    }
  }
  bool listed = chosen.isEmpty();
  for (size_t k = 0; k < outputs.names.size(); ++k) {
    const QString text = QString::fromStdString(outputs.names[k]);
    box_->addItem(text, text);
    if (k < outputs.system_names.size()) {
      box_->setItemData(box_->count() - 1, QString::fromStdString(outputs.system_names[k]),
                        kSystemNameRole);
    }
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
  system_name_ = box_->itemData(index, kSystemNameRole).toString();
  AudioOutputChooseDevice(name.toStdString());
  RememberOutput(name, system_name_);
}
