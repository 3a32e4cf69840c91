// generator_dialog.cpp holds GeneratorDialog, the entry of a signal generator.
#include "generator_dialog.h"

#include <QLocale>
#include <QPushButton>
#include <cmath>

#include "device_name.h"
#include "generator_driver.h"

namespace {

// The family box's rows, in their order, and the prefix of each one's names.
constexpr struct {
  GeneratorFamily family;
  const char* prefix;
} kFamilies[] = {
    {GeneratorFamily::Fy, "fy:"}, {GeneratorFamily::Jds, "jds:"}, {GeneratorFamily::Scpi, "scpi:"}};

// A number of volts in digits with a point, whatever the user's locale; false for anything else.
bool ReadVolts(const QString& text, double* volts) {
  bool ok = false;
  *volts = QLocale::c().toDouble(text.trimmed(), &ok);
  return ok && std::isfinite(*volts);
}

QString Sentence(const std::string& text) {
  QString sentence = QString::fromStdString(text);
  if (!sentence.isEmpty()) sentence[0] = sentence[0].toUpper();
  return sentence + '.';
}

}  // namespace

QString GeneratorEntryProblem(const GeneratorEntry& entry, std::string* name,
                              GeneratorSettings* settings) {
  const GeneratorIdentity models = FamilyIdentity(entry.Family);
  const std::string address = entry.Address.trimmed().toStdString();
  if (address.empty()) {
    return "Enter the generator's port (/dev/ttyUSB0) or address (192.0.2.10).";
  }
  // A name typed whole (jds10:/dev/ttyUSB0) is taken as it is, if it is of the family.
  std::string text = address;
  for (const auto& row : kFamilies) {
    if (row.family == entry.Family && !LooksLikeGeneratorName(address)) text = row.prefix + address;
  }
  DeviceName parsed;
  std::string why;
  if (!ParseDeviceName(text, &parsed, &why)) return Sentence(why);
  if (parsed.Family != entry.Family) {
    return QString("'%1' is not a name of the %2 family.")
        .arg(QString::fromStdString(text), QString::fromStdString(models.Model));
  }
  GeneratorSettings chosen;
  if (!ReadVolts(entry.Amplitude, &chosen.AmplitudeVpp)) {
    return QString("'%1' is not an amplitude in volts (1.5).").arg(entry.Amplitude);
  }
  if (!ReadVolts(entry.Offset, &chosen.OffsetVolts)) {
    return QString("'%1' is not an offset in volts (0, -0.5).").arg(entry.Offset);
  }
  if (const std::string problem = AmplitudeProblem(models, chosen, models.Model);
      !problem.empty()) {
    return Sentence(problem);
  }
  *name = DeviceNameText(parsed);
  *settings = chosen;
  return {};
}

GeneratorDialog::GeneratorDialog(QWidget* parent) : QDialog(parent) {
  setupUi(this);
  connect(buttonBox, &QDialogButtonBox::accepted, this, &GeneratorDialog::accept);
  connect(buttonBox, &QDialogButtonBox::rejected, this, &GeneratorDialog::reject);
  addressEdit->setFocus();
}

void GeneratorDialog::accept() {
  const int row = familyBox->currentIndex();
  if (row < 0 || row >= static_cast<int>(std::size(kFamilies))) return;
  const GeneratorEntry entry{kFamilies[row].family, addressEdit->text(), amplitudeEdit->text(),
                             offsetEdit->text()};
  const QString problem = GeneratorEntryProblem(entry, &name_, &settings_);
  problemLabel->setText(problem);
  if (problem.isEmpty()) QDialog::accept();
}
