// generator_dialog.cpp holds GeneratorDialog, "Add a generator": a signal generator's family, its
// port or address, and the amplitude and offset it plays at. OK checks the entry and keeps the
// dialog open, with the reason under the fields, until the name reads as one of the family's and
// the volts suit every model of it.
#pragma once

#include <QDialog>
#include <QString>
#include <string>

#include "device_name.h"
#include "generator_output.h"
#include "ui_generator_dialog.h"

// What the dialog's fields hold, as typed.
struct GeneratorEntry {
  GeneratorFamily Family = GeneratorFamily::Fy;
  QString Address;
  QString Amplitude;
  QString Offset;
};

// Why the entry names no generator of its family, or asks volts beyond the family's models; empty
// when it is good, with the generator's name (as --device takes it) and settings filled in.
QString GeneratorEntryProblem(const GeneratorEntry& entry, std::string* name,
                              GeneratorSettings* settings);

class GeneratorDialog : public QDialog, public Ui::GeneratorDialog {
  Q_OBJECT

 public:
  explicit GeneratorDialog(QWidget* parent = nullptr);

  // The generator entered, once accepted.
  const std::string& Name() const { return name_; }
  const GeneratorSettings& Settings() const { return settings_; }

  void accept() override;

 private:
  std::string name_;
  GeneratorSettings settings_;
};
