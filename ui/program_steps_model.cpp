// program_steps_model.cpp holds ProgramStepsModel, a program's steps as a table.
#include "program_steps_model.h"

#include <cmath>

#include "clock_text.h"
#include "program_file.h"

std::vector<qint64> StepStartsMs(const TreatmentProgram& program) {
  std::vector<qint64> starts;
  starts.reserve(program.Steps.size() + 1);
  qint64 at = 0;
  for (const TreatmentStep& step : program.Steps) {
    starts.push_back(at);
    at += StepPeriodMs(step, kStepMilliseconds);
  }
  starts.push_back(at);
  return starts;
}

QString HertzText(long double hertz) {
  const auto millihertz = static_cast<qint64>(std::llround(hertz * 1000.0L));
  QString text = QString::number(millihertz / 1000);
  if (const qint64 fraction = millihertz % 1000; fraction != 0) {
    QString decimals = QStringLiteral("%1").arg(fraction, 3, 10, QLatin1Char('0'));
    while (decimals.endsWith('0')) decimals.chop(1);
    text += '.' + decimals;
  }
  return text;
}

QString StepFrequencyText(const TreatmentStep& step) {
  return step.EndFrequency != 0.0L ? HertzText(step.Frequency) +
                                         QString::fromUtf8(GlideArrowShown(step.ExponentialGlide)) +
                                         HertzText(step.EndFrequency)
                                   : HertzText(step.Frequency);
}

QString StepLabel(const TreatmentStep& step) {
  // Without a label the step window shows the frequency and "HZ".
  const QString display = QString::fromStdString(step.DisplayText);
  return display == StepFrequencyText(step) + QStringLiteral("HZ") ? QString() : display;
}

QString StepShapeText(const TreatmentStep& step) {
  QString text = !step.Shape             ? QStringLiteral("Output signal")
                 : *step.Shape == wsSine ? QStringLiteral("sine")
                                         : QStringLiteral("square");
  if (step.DutyPercent != 50) text += QStringLiteral(", duty %1%").arg(step.DutyPercent);
  if (step.GateMillihertz != 0) {
    text += QStringLiteral(", gate %1 Hz").arg(HertzText(step.GateMillihertz / 1000.0L));
    if (step.GateOnPercent != 50) text += QStringLiteral(" on %1%").arg(step.GateOnPercent);
  }
  return text;
}

ProgramStepsModel::ProgramStepsModel(QObject* parent) : QAbstractTableModel(parent) {}

void ProgramStepsModel::SetProgram(std::shared_ptr<const TreatmentProgram> program) {
  beginResetModel();
  program_ = std::move(program);
  starts_ = program_ ? StepStartsMs(*program_) : std::vector<qint64>{};
  endResetModel();
}

int ProgramStepsModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() || !program_ ? 0 : static_cast<int>(program_->Steps.size());
}

int ProgramStepsModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumns;
}

QVariant ProgramStepsModel::data(const QModelIndex& index, int role) const {
  if (!program_ || !index.isValid() || index.row() >= rowCount()) return {};
  if (role == Qt::TextAlignmentRole && index.column() != kLabel && index.column() != kShape) {
    return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
  }
  if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
  const size_t row = static_cast<size_t>(index.row());
  const TreatmentStep& step = program_->Steps[row];
  switch (index.column()) {
    case kNumber:
      return index.row() + 1;
    case kStart:
      return QString::fromStdString(ClockTextExact(starts_[row]));
    case kFrequency:
      return StepFrequencyText(step) + QStringLiteral(" Hz");
    case kDuration:
      return QString::fromStdString(ClockTextExact(starts_[row + 1] - starts_[row]));
    case kShape:
      return StepShapeText(step);
    case kLevel:
      return QStringLiteral("%1%").arg(step.Level);
    case kLabel:
      return StepLabel(step);
    default:
      return {};
  }
}

QVariant ProgramStepsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Vertical) return {};
  static const char* const kHeaders[kColumns] = {"#",     "Start", "Frequency", "Duration",
                                                 "Shape", "Level", "Label"};
  return section >= 0 && section < kColumns ? QString(kHeaders[section]) : QVariant();
}
