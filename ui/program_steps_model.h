// ProgramStepsModel: a treatment program's steps as a table for a view: number, start time,
// frequency or glide, duration, shape (with a duty and a gate), level and label, one row a step
// (repeats included). The cells are made when the view asks for them, so a program of 10 000 steps
// costs the view only the rows it shows. StepStartsMs gives every step's start and the run's
// length, which the timeline draws from too.
//
// Window thread only.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <memory>
#include <vector>

#include "treatment_programs.h"

// Each step's start in milliseconds from the run's start, and the run's length last (one more
// entry than steps). A built-in step lasts the step timer's period.
std::vector<qint64> StepStartsMs(const TreatmentProgram& program);

// "728", "7.83", "432.125": hertz to a thousandth, as program files write them.
QString HertzText(long double hertz);

// "432.125", "100→200": a step's frequency, or its glide.
QString StepFrequencyText(const TreatmentStep& step);
// "sine", "Output signal", "square, duty 25%, gate 7.83 Hz on 25%": the shape, and the duty and
// gate in the words of program files where the step has them.
QString StepShapeText(const TreatmentStep& step);
// The step's own label; empty for a step that shows its frequency.
QString StepLabel(const TreatmentStep& step);

class ProgramStepsModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kNumber, kStart, kFrequency, kDuration, kShape, kLevel, kLabel, kColumns };

  explicit ProgramStepsModel(QObject* parent = nullptr);

  // Shows program (null: no rows).
  void SetProgram(std::shared_ptr<const TreatmentProgram> program);
  const TreatmentProgram* Program() const { return program_.get(); }
  const std::vector<qint64>& Starts() const { return starts_; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 private:
  std::shared_ptr<const TreatmentProgram> program_;
  std::vector<qint64> starts_;
};
