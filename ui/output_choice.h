// output_choice.cpp holds OutputChoice, "Output:" and the outputs the window's runs can play
// through: "Default output" (the system's default, as at first start) or one sound output by its
// name; or a signal generator, one of those seen on the ports or one the user added with "Add a
// generator…" (generator_dialog.h). The sound output is the audio output layer's choice
// (AudioOutputChooseDevice); a generator chosen instead is ChosenGenerator's. Both are remembered,
// like the recent programs, in $XDG_STATE_HOME/zelkgen/output (~/.local/state): the sound output's
// name, and on a second line the system's own name of it, which finds it again when an output with
// the same name takes its place in the list (PulseAudio's twins: "Twin", "Twin (2)"); nothing for
// the default. Lines after those two hold each generator added, "generator AMPLITUDE OFFSET NAME",
// and the one chosen, "chosen NAME" (a file of the sound output alone reads as before). A
// remembered output that is not there now stays chosen, marked "(not found)": the run then fails
// with its name rather than sounding from another output; so does a generator whose port is gone.
//
// The outputs are asked on the output thread each time the control is shown, so that a sound
// server that does not answer never holds the window. Window thread only.
#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <string>

#include "generator_output.h"

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
  // The generators and "Add a generator…" after the sound outputs, the chosen one current.
  void FillGenerators();
  // The item of the output chosen now current again (after the dialog was cancelled).
  void ShowChosen();
  void Choose(int index);
  void AddGenerator();

  QComboBox* box_;
  QTimer look_;
  std::shared_ptr<PendingList> pending_;
  QString system_name_;  // the chosen output's, as the system names it (empty: not known)
};

// The sound output last chosen in the window (empty: the default), with the system's own name of
// it in *system_name where one was remembered, and remembering another; false when it cannot be
// written (the choice still holds until the program ends).
QString RememberedOutput(QString* system_name = nullptr);
bool RememberOutput(const QString& name, const QString& system_name = {});

// True when the window's runs are to play on a signal generator, with its name (as --device takes
// it) and its amplitude and offset; false for the sound output.
bool ChosenGenerator(std::string* device_name, GeneratorSettings* settings);
// How the step window names the output: the generator's name, the sound output's, or "default
// output".
QString ChosenOutputText();
