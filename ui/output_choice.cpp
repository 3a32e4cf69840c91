// output_choice.cpp holds OutputChoice, the window's choice of sound output.
#include "output_choice.h"

#include <QComboBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QStringList>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "app_identity.h"
#include "audio_output.h"
#include "device_name.h"
#include "generator_dialog.h"
#include "generator_list.h"
#include "output_thread.h"
#include "private_folder.h"

namespace {

constexpr int kLookMs = 20;
// A name is a line of a few dozen characters, a generator's line a little more; anything larger
// is not this file.
constexpr size_t kMostBytes = 65536;

// Characters of a name the control makes room for; longer ones are elided.
constexpr int kShownNameLength = 24;

// Where an item keeps the system's name of its output, and what the item is.
constexpr int kSystemNameRole = Qt::UserRole + 1;
constexpr int kKindRole = Qt::UserRole + 2;
enum ItemKind { kSound = 0, kGenerator = 1, kAdd = 2 };

// In the state folder, beside the recent programs.
constexpr char kChoiceFileName[] = "output";

constexpr char kGeneratorWord[] = "generator ";
constexpr char kChosenWord[] = "chosen ";

struct AddedGenerator {
  std::string name;
  GeneratorSettings settings;
};

// What the file holds, and what the window's runs use until the program ends.
struct Remembered {
  QString sound;
  QString system;
  std::vector<AddedGenerator> generators;
  std::string chosen;  // a generator's name; empty: the sound output
};

bool HasControl(const QString& text) {
  for (const QChar c : text) {
    if (c.category() == QChar::Other_Control) return true;
  }
  return false;
}

// "generator 1.5 0 fy:/dev/ttyUSB0": the name last, as it may hold blanks.
bool ReadGeneratorLine(const QString& line, AddedGenerator* generator) {
  const QStringList words = line.mid(int(std::strlen(kGeneratorWord))).split(' ');
  if (words.size() < 3) return false;
  const std::string name = words.mid(2).join(' ').toStdString();
  DeviceName parsed;
  std::string why;
  if (!ParseDeviceName(name, &parsed, &why)) return false;
  return GeneratorEntryProblem({parsed.Family, QString::fromStdString(name), words[0], words[1]},
                               &generator->name, &generator->settings)
      .isEmpty();
}

Remembered ReadRemembered() {
  Remembered remembered;
  std::string bytes, why;
  // A file that is not a plain one of this user's (a pipe, a link) is not waited on or followed.
  if (!ReadStateFile(kChoiceFileName, kMostBytes, &bytes, &why)) {
    std::fprintf(stderr, "%s: the chosen output is not read (%s)\n", kAppName, why.c_str());
    return {};
  }
  const QStringList lines = QString::fromUtf8(bytes).split('\n');
  if (HasControl(lines.value(0) + lines.value(1))) return {};
  remembered.sound = lines.value(0);
  remembered.system = lines.value(1);
  int unread = 0;
  for (qsizetype k = 2; k < lines.size(); ++k) {
    const QString& line = lines[k];
    AddedGenerator generator;
    DeviceName parsed;
    if (line.isEmpty()) continue;
    if (HasControl(line)) {
      ++unread;
    } else if (line.startsWith(kGeneratorWord) && ReadGeneratorLine(line, &generator)) {
      remembered.generators.push_back(generator);
    } else if (std::string name = line.mid(int(std::strlen(kChosenWord))).toStdString();
               line.startsWith(kChosenWord) && ParseDeviceName(name, &parsed, &why)) {
      remembered.chosen = DeviceNameText(parsed);
    } else {
      ++unread;
    }
  }
  if (unread > 0) {
    std::fprintf(stderr, "%s: %d lines of the chosen output's file are not read\n", kAppName,
                 unread);
  }
  return remembered;
}

Remembered& State() {
  static Remembered state = ReadRemembered();
  return state;
}

QString VoltsText(double volts) {
  return QString::number(volts, 'g', 10);
}

bool WriteRemembered() {
  const Remembered& state = State();
  QString lines = state.sound + '\n';
  if (!state.system.isEmpty() || !state.generators.empty() || !state.chosen.empty()) {
    lines += state.system + '\n';
  }
  for (const AddedGenerator& generator : state.generators) {
    lines += kGeneratorWord + VoltsText(generator.settings.AmplitudeVpp) + ' ' +
             VoltsText(generator.settings.OffsetVolts) + ' ' +
             QString::fromStdString(generator.name) + '\n';
  }
  if (!state.chosen.empty()) lines += kChosenWord + QString::fromStdString(state.chosen) + '\n';
  std::string why;
  if (WriteStateFile(kChoiceFileName, lines.toUtf8().toStdString(), &why)) return true;
  std::fprintf(stderr, "%s: the chosen output is not remembered (%s)\n", kAppName, why.c_str());
  return false;
}

AddedGenerator* Added(const std::string& name) {
  for (AddedGenerator& generator : State().generators) {
    if (generator.name == name) return &generator;
  }
  return nullptr;
}

QString SettingsText(const GeneratorSettings& settings) {
  return VoltsText(settings.AmplitudeVpp) + " V peak to peak, offset " +
         VoltsText(settings.OffsetVolts) + " V";
}

// A generator on a port (not one on the network) whose device file is gone.
bool Missing(const std::string& name) {
  DeviceName parsed;
  std::string why;
  return ParseDeviceName(name, &parsed, &why) && !parsed.Path.empty() &&
         !QFileInfo::exists(QString::fromStdString(parsed.Path));
}

}  // namespace

QString RememberedOutput(QString* system_name) {
  const Remembered remembered = ReadRemembered();
  if (system_name != nullptr) *system_name = remembered.system;
  return remembered.sound;
}

bool RememberOutput(const QString& name, const QString& system_name) {
  State().sound = name;
  State().system = system_name;
  return WriteRemembered();
}

bool ChosenGenerator(std::string* device_name, GeneratorSettings* settings) {
  const std::string& chosen = State().chosen;
  if (chosen.empty()) return false;
  *device_name = chosen;
  const AddedGenerator* added = Added(chosen);
  *settings = added != nullptr ? added->settings : GeneratorSettings{};
  return true;
}

QString ChosenOutputText() {
  if (!State().chosen.empty()) return QString::fromStdString(State().chosen);
  const std::string& sound = AudioOutputChosenDevice();
  return sound.empty() ? QStringLiteral("default output") : QString::fromStdString(sound);
}

OutputChoice::OutputChoice(QWidget* parent) : QWidget(parent) {
  setObjectName("OutputChoice");
  auto* label = new QLabel("Output:", this);
  box_ = new QComboBox(this);
  box_->setObjectName("OutputBox");
  label->setBuddy(box_);
  box_->setAccessibleName("Output");
  // A name as long as a server cares to give (or a remembered file holds) is elided rather than
  // widening the window past the screen; the list shows it whole where it can.
  box_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  box_->setMinimumContentsLength(kShownNameLength);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(label);
  layout->addWidget(box_, 1);
  State() = ReadRemembered();
  const QString remembered = State().sound;
  system_name_ = State().system;
  AudioOutputChooseDevice(remembered.toStdString());
  box_->addItem("Default output", QString());
  if (!remembered.isEmpty()) {
    box_->addItem(remembered, remembered);
    box_->setCurrentIndex(1);
  }
  FillGenerators();
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
  FillGenerators();
}

void OutputChoice::FillGenerators() {
  for (int k = box_->count() - 1; k >= 0; --k) {
    if (box_->itemData(k, kKindRole).toInt() != kSound) box_->removeItem(k);
  }
  // Those added first, with their settings; then those seen on the ports; then a chosen one that
  // is neither.
  std::vector<std::pair<std::string, QString>> shown;
  const auto shown_already = [&shown](const std::string& name) {
    return std::any_of(shown.begin(), shown.end(),
                       [&](const auto& item) { return item.first == name; });
  };
  for (const AddedGenerator& generator : State().generators) {
    shown.emplace_back(generator.name, SettingsText(generator.settings));
  }
  for (const ListedGenerator& seen : ListGenerators()) {
    if (!shown_already(seen.Name)) {
      shown.emplace_back(seen.Name, QString::fromStdString(seen.Description));
    }
  }
  if (!State().chosen.empty() && !shown_already(State().chosen)) {
    shown.emplace_back(State().chosen, SettingsText({}));
  }
  for (const auto& [name, hint] : shown) {
    const QString text = QString::fromStdString(name);
    box_->addItem(Missing(name) ? text + " (not found)" : text, text);
    box_->setItemData(box_->count() - 1, kGenerator, kKindRole);
    box_->setItemData(box_->count() - 1, hint, Qt::ToolTipRole);
    if (name == State().chosen) box_->setCurrentIndex(box_->count() - 1);
  }
  box_->addItem(QStringLiteral("Add a generator\u2026"));
  box_->setItemData(box_->count() - 1, kAdd, kKindRole);
}

void OutputChoice::ShowChosen() {
  for (int k = 0; k < box_->count(); ++k) {
    const int kind = box_->itemData(k, kKindRole).toInt();
    const std::string name = box_->itemData(k).toString().toStdString();
    if ((kind == kGenerator && name == State().chosen) ||
        (kind == kSound && State().chosen.empty() && name == AudioOutputChosenDevice())) {
      box_->setCurrentIndex(k);
      return;
    }
  }
}

void OutputChoice::AddGenerator() {
  // Not exec(): the window's runs and timers go on while it is up.
  auto* dialog = new GeneratorDialog(this);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  connect(dialog, &QDialog::finished, this, [this, dialog](int result) {
    if (result == QDialog::Accepted) {
      if (AddedGenerator* added = Added(dialog->Name())) {
        added->settings = dialog->Settings();
      } else {
        State().generators.push_back({dialog->Name(), dialog->Settings()});
      }
      State().chosen = dialog->Name();
      WriteRemembered();
      FillGenerators();
    }
    ShowChosen();
  });
  dialog->open();
}

void OutputChoice::Choose(int index) {
  const int kind = box_->itemData(index, kKindRole).toInt();
  if (kind == kAdd) {
    AddGenerator();
    return;
  }
  if (kind == kGenerator) {
    const std::string name = box_->itemData(index).toString().toStdString();
    // One seen on a port plays at the safe default until the user adds it with other volts.
    if (Added(name) == nullptr) State().generators.push_back({name, GeneratorSettings{}});
    State().chosen = name;
    WriteRemembered();
    return;
  }
  State().chosen.clear();
  const QString name = box_->itemData(index).toString();
  system_name_ = box_->itemData(index, kSystemNameRole).toString();
  AudioOutputChooseDevice(name.toStdString());
  RememberOutput(name, system_name_);
}
