// output_choice.cpp holds OutputChoice, "Output:" and the sound outputs the window's runs can play
// through: "Default output" (the system's default, as at first start) or one output by its name.
// The choice is the audio output layer's (AudioOutputChooseDevice) and is remembered, like the
// recent programs, in $XDG_STATE_HOME/zelkgen/output (~/.local/state): its name, and on a second
// line the system's own name of it, which finds it again when an output with the same name
// takes its place in the list (PulseAudio's twins: "Twin", "Twin (2)"). Nothing for the default. A
// remembered output that is not there now stays chosen, marked "(not found)": the run then fails
// with its name rather than sounding from another output.
//
// The outputs are asked on the output thread each time the control is shown, so that a sound
// server that does not answer never holds the window. Window thread only.
#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>
#include <memory>

class PendingList;
struct OutputList;
class QComboBox;

class OutputChoice : public QWidget {
  Q_OBJECT

 public:
  // Chooses the remembered output for the runs to come.
  explicit OutputChoice(QWidget* parent = nullptr);

  QComboBox* Box() const { return box_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void LookForList();
  void Fill(const OutputList& outputs);
  void Choose(int index);

  QComboBox* box_;
  QTimer look_;
  std::shared_ptr<PendingList> pending_;
  QString system_name_;  // the chosen output's, as the system names it (empty: not known)
};

// The output last chosen in the window (empty: the default), with the system's own name of it in
// *system_name where one was remembered, and remembering another; false when it cannot be written
// (the choice still holds until the program ends).
QString RememberedOutput(QString* system_name = nullptr);
bool RememberOutput(const QString& name, const QString& system_name = {});
