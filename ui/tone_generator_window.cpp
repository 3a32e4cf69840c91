// tone_generator_window.cpp holds ToneGeneratorWindow, the "Tone generator" window.
#include "tone_generator_window.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStyle>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

#include "audio_output.h"
#include "outer_geometry.h"
#include "tone_gen_editing.h"
#include "tone_preview.h"

ToneGeneratorWindow* FormToneGenerator = nullptr;

const char* const ToneGeneratorWindow::kRunPlayingHint =
    "A treatment run is playing; the tone generator can play again when it has ended.";

namespace {

// A settings file is a few hundred bytes; anything much larger is the wrong file.
constexpr qint64 kLargestSettingsFile = 1 << 20;
// Points of the envelope's curve, about one per pixel of a wide picture.
constexpr int kEnvelopePoints = 800;

const QStringList kWaveforms = {"Sine", "Square", "Triangle", "Sawtooth", "Noise"};

// Values of the 16-bit properties as the user may type them; the setters clamp the rest.
void AllowAnySixteenBitValue(QSpinBox* box) {
  box->setRange(INT16_MIN, INT16_MAX);
  box->setKeyboardTracking(false);
}

void Put(QSpinBox* box, int value) {
  const QSignalBlocker quiet(box);
  box->setValue(value);
}

void Put(QComboBox* box, int index) {
  const QSignalBlocker quiet(box);
  box->setCurrentIndex(index);
}

// A waveform ordinal past the last name renders as noise.
int WaveformIndex(TTGWave wave) {
  return std::min<int>(wave, tgNoise);
}

}  // namespace

ToneGeneratorWindow::ToneGeneratorWindow(TToneGen* gen, const QFont& font)
    : gen_(gen), folder_(QDir::homePath()) {
  setupUi(this);
  setObjectName("FormToneGenerator");
  setFont(font);
  CreateLevelRows();
  WireFields();
  WireButtons();
  WheelOnlyWithFocus();

  // Large enough for every control without scrolling; on a small screen or at a large scale
  // factor no larger than the screen, where its scroll area keeps every field within reach.
  SizeToShowEveryControl();
  setProperty("shrinkToScreen", true);
  KeepStoredOuterGeometry(this);
  Tell(QString());
  ShowProperties();
}

void ToneGeneratorWindow::SizeToShowEveryControl() {
  // The scroll area asks for less than its contents; everything else asks for what it needs.
  const int scroll_bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  const QSize whole =
      sizeHint() - scrollArea->sizeHint() + scrollContents->sizeHint() + QSize(scroll_bar, 0);
  // The title bar is part of the stored outer rectangle.
  const int title = style()->pixelMetric(QStyle::PM_TitleBarHeight);
  QRect outer = StoredOuterGeometry(this);
  outer.setSize(outer.size().expandedTo(whole + QSize(0, title)));
  setProperty("outerGeometry", outer);
}

bool ToneGeneratorWindow::eventFilter(QObject* watched, QEvent* event) {
  // A wheel over a field that has no focus scrolls the window instead of changing the value.
  if (event->type() == QEvent::Wheel) {
    auto* field = qobject_cast<QWidget*>(watched);
    if (field != nullptr && !field->hasFocus()) {
      QCoreApplication::sendEvent(scrollArea->verticalScrollBar(), event);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void ToneGeneratorWindow::WheelOnlyWithFocus() {
  for (QWidget* field : scrollContents->findChildren<QWidget*>()) {
    if (qobject_cast<QAbstractSpinBox*>(field) == nullptr &&
        qobject_cast<QComboBox*>(field) == nullptr) {
      continue;
    }
    // The wheel no longer gives focus either: a click or Tab does.
    field->setFocusPolicy(Qt::StrongFocus);
    field->installEventFilter(this);
  }
}

void ToneGeneratorWindow::CreateLevelRows() {
  for (int level = 0; level < kAMLevelCount; ++level) {
    const int row = level + 1;
    const QString number = QString::number(level + 1);
    auto* label = new QLabel(number, scrollContents);
    label->setAlignment(Qt::AlignCenter);
    LevelFields& fields = levels_[level];
    fields.amplitude = new QSpinBox(scrollContents);
    AllowAnySixteenBitValue(fields.amplitude);
    fields.amplitude->setSuffix(" %");
    fields.amplitude->setAccessibleName("Extra tone " + number + " amplitude in percent");
    fields.waveform = new QComboBox(scrollContents);
    fields.waveform->addItems(kWaveforms);
    fields.waveform->setAccessibleName("Extra tone " + number + " waveform");
    fields.value = new QDoubleSpinBox(scrollContents);
    fields.value->setDecimals(4);
    fields.value->setRange(-1e6, 1e6);
    fields.value->setKeyboardTracking(false);
    fields.note = new QLineEdit(scrollContents);
    fields.note->setPlaceholderText("note");
    fields.note->setMaximumWidth(fontMetrics().horizontalAdvance("O5C#m") * 2);
    fields.note->setToolTip("A note name for this tone (as the Note field); Enter sets it");
    fields.note->setAccessibleName("Extra tone " + number + " as a note name");
    extraTonesGrid->addWidget(label, row, 0);
    extraTonesGrid->addWidget(fields.amplitude, row, 1);
    extraTonesGrid->addWidget(fields.waveform, row, 2);
    extraTonesGrid->addWidget(fields.value, row, 3);
    extraTonesGrid->addWidget(fields.note, row, 4);
  }
  // Keyboard order: the multiplier switch, the table row by row, then the file buttons.
  QWidget* previous = multiplierBox;
  for (const LevelFields& fields : levels_) {
    for (QWidget* field :
         {static_cast<QWidget*>(fields.amplitude), static_cast<QWidget*>(fields.waveform),
          static_cast<QWidget*>(fields.value), static_cast<QWidget*>(fields.note)}) {
      setTabOrder(previous, field);
      previous = field;
    }
  }
  setTabOrder(previous, exportButton);
}

void ToneGeneratorWindow::WireFields() {
  const auto bind = [this](QSpinBox* box, void (TToneGen::*setter)(int16_t)) {
    AllowAnySixteenBitValue(box);
    connect(box, &QSpinBox::valueChanged, this, [this, setter](int value) {
      (gen_->*setter)(static_cast<int16_t>(value));
      Changed();
    });
  };
  bind(frequencyBox, &TToneGen::SetFrequency);
  bind(durationBox, &TToneGen::SetDuration);
  bind(leftVolumeBox, &TToneGen::SetLeftVolume);
  bind(rightVolumeBox, &TToneGen::SetRightVolume);
  bind(attackBox, &TToneGen::SetAttack);
  bind(holdBox, &TToneGen::SetHold);
  bind(decayBox, &TToneGen::SetDecay);
  bind(sustainBox, &TToneGen::SetSustain);
  bind(releaseBox, &TToneGen::SetRelease);

  connect(waveformBox, &QComboBox::activated, this, [this](int index) {
    gen_->SetWaveform(static_cast<TTGWave>(index));
    Changed();
  });
  connect(resolutionBox, &QComboBox::activated, this, [this](int index) {
    gen_->SetResolution(static_cast<TTGResolution>(index));
    Changed();
  });
  connect(qualityBox, &QComboBox::activated, this, [this](int index) {
    gen_->SetQuality(static_cast<TTGQuality>(index));
    Changed();
  });
  connect(channelsBox, &QComboBox::activated, this, [this](int index) {
    gen_->SetStereo(index == 1);
    Changed();
  });
  connect(cleanBox, &QCheckBox::toggled, this, [this](bool on) {
    gen_->SetClean(on);
    Changed();
  });
  // Enter or leaving the field (Tab, a click elsewhere) sets a note that was typed.
  connect(noteEdit, &QLineEdit::editingFinished, this, [this] {
    if (!noteEdit->isModified()) return;
    noteEdit->setModified(false);
    SetNoteFromField();
  });
  connect(multiplierBox, &QCheckBox::toggled, this, [this](bool on) {
    gen_->SetAMUseMultiplier(on);
    Changed();
  });

  // An extra tone is edited by selecting its level, which copies the entry into the three mirror
  // properties, and then setting the mirror, which writes the entry.
  for (int level = 0; level < kAMLevelCount; ++level) {
    const auto select = [this, level] { gen_->SetAMLevel(static_cast<TTGAMLevel>(level)); };
    const LevelFields& fields = levels_[level];
    connect(fields.amplitude, &QSpinBox::valueChanged, this, [this, select](int value) {
      select();
      gen_->SetAMAmplitude(static_cast<int16_t>(value));
      Changed();
    });
    connect(fields.waveform, &QComboBox::activated, this, [this, select](int index) {
      select();
      gen_->SetAMWaveform(static_cast<TTGWave>(index));
      Changed();
    });
    connect(fields.value, &QDoubleSpinBox::valueChanged, this, [this, select, level](double value) {
      if (!ExtraToneInRange(level, value)) return;
      select();
      gen_->SetAMFrequency(static_cast<float>(value));
      Changed();
    });
    connect(fields.note, &QLineEdit::editingFinished, this, [this, level] {
      QLineEdit* note = levels_[level].note;
      if (!note->isModified()) return;
      note->setModified(false);
      SetLevelNote(level);
    });
  }

  connect(periodsBox, &QSpinBox::valueChanged, this, &ToneGeneratorWindow::ShowPicture);
  connect(picture, &TonePicture::ZoomRequested, this, &ToneGeneratorWindow::Zoom);
}

void ToneGeneratorWindow::WireButtons() {
  connect(playButton, &QPushButton::clicked, this, [this] {
    if (run_playing_) return;
    gen_->Play();
    looping_ = !TellPlayFailure() && gen_->Loop();
    if (gen_->LastError() == tgeNone) {
      Tell(gen_->Loop() ? "Playing the tone until Stop." : "Playing the tone.");
    }
  });
  connect(playEnvelopeButton, &QPushButton::clicked, this, [this] {
    if (run_playing_) return;
    gen_->PlayADSR();
    looping_ = !TellPlayFailure() && gen_->Loop();
    if (gen_->LastError() == tgeNone) {
      Tell(gen_->Loop() ? "Playing the tone with its envelope until Stop."
                        : "Playing the tone with its envelope.");
    }
  });
  connect(loopBox, &QCheckBox::toggled, this, [this](bool on) {
    gen_->SetLoop(on);
    if (looping_ && !on) {
      looping_ = false;
      if (gen_->ContinueLoop()) Tell("The tone ends after this pass.");
    }
  });
  connect(stopButton, &QPushButton::clicked, this, [this] {
    looping_ = false;
    gen_->Stop();
    Tell("Stopped.");
  });
  connect(exportButton, &QPushButton::clicked, this, &ToneGeneratorWindow::ChooseExportFile);
  connect(openButton, &QPushButton::clicked, this, &ToneGeneratorWindow::OpenSettings);
  connect(saveButton, &QPushButton::clicked, this, &ToneGeneratorWindow::SaveSettings);
}

ToneGeneratorWindow::~ToneGeneratorWindow() {
  // The fields outlive this part of the window: one losing its focus as the window goes (a quit
  // while a value is typed) must not reach the component through it.
  for (QObject* child : findChildren<QObject*>()) child->disconnect(this);
}

void ToneGeneratorWindow::ShowWindow() {
  ShowProperties();
  show();
  raise();
  activateWindow();
}

void ToneGeneratorWindow::RunStarted() {
  // As the run does at a step's end: the component falls silent and stops repeating.
  looping_ = false;
  gen_->Stop();
  gen_->SetLoop(false);
  run_playing_ = true;
  for (QPushButton* button : {playButton, playEnvelopeButton}) {
    button->setEnabled(false);
    button->setToolTip(kRunPlayingHint);
  }
  ShowProperties();
}

void ToneGeneratorWindow::RunEnded() {
  run_playing_ = false;
  for (QPushButton* button : {playButton, playEnvelopeButton}) {
    button->setEnabled(true);
    button->setToolTip(QString());
  }
  ShowProperties();
}

void ToneGeneratorWindow::ShowProperties() {
  const ToneSettings& settings = gen_->Settings();
  Put(frequencyBox, settings.Frequency);
  Put(durationBox, settings.Duration);
  Put(waveformBox, WaveformIndex(settings.Waveform));
  Put(resolutionBox, settings.Resolution);
  Put(qualityBox, settings.Quality);
  Put(channelsBox, settings.Stereo ? 1 : 0);
  {
    const QSignalBlocker blocker(cleanBox);
    cleanBox->setChecked(settings.Clean);
  }
  Put(leftVolumeBox, settings.LeftVolume);
  Put(rightVolumeBox, settings.RightVolume);
  Put(attackBox, settings.Attack);
  Put(holdBox, settings.Hold);
  Put(decayBox, settings.Decay);
  Put(sustainBox, settings.Sustain);
  Put(releaseBox, settings.Release);
  {
    const QSignalBlocker quiet(loopBox);
    loopBox->setChecked(settings.Loop);
  }
  {
    const QSignalBlocker quiet(multiplierBox);
    multiplierBox->setChecked(settings.AMUseMultiplier);
  }
  valueHeader->setText(settings.AMUseMultiplier ? "Multiple" : "Hertz");
  for (int level = 0; level < kAMLevelCount; ++level) {
    const LevelFields& fields = levels_[level];
    Put(fields.amplitude, settings.FAMAmplitudes[level]);
    Put(fields.waveform, WaveformIndex(settings.FAMWaveforms[level]));
    const QSignalBlocker quiet(fields.value);
    fields.value->setSuffix(settings.AMUseMultiplier ? " x" : " Hz");
    fields.value->setValue(settings.FAMFrequencies[level]);
    fields.value->setAccessibleName(
        QStringLiteral("Extra tone %1 %2")
            .arg(level + 1)
            .arg(settings.AMUseMultiplier ? "as a multiple of the frequency" : "in hertz"));
  }
  ShowPicture();
}

void ToneGeneratorWindow::ShowPicture() {
  const ToneSettings& settings = gen_->Settings();
  const int periods = periodsBox->value();
  WaveformPreview wave = PreviewWaveform(settings, periods);
  const double shown_ms =
      wave.frame_rate > 0 ? 1000.0 * static_cast<double>(wave.samples.size()) / wave.frame_rate : 0;
  const QString milliseconds = QString::number(shown_ms, 'f', shown_ms < 10 ? 2 : 1);
  // A tone shorter than the periods asked for is shown whole.
  const bool whole = static_cast<int64_t>(wave.samples.size()) <
                     static_cast<int64_t>(periods) * wave.frame_rate / settings.Frequency;
  const QString caption = whole ? QStringLiteral("The whole tone, %1 ms, at %2 Hz")
                                      .arg(milliseconds)
                                      .arg(settings.Frequency)
                                : QStringLiteral("%1 %2 of %3 Hz (%4 ms)")
                                      .arg(periods)
                                      .arg(periods == 1 ? "period" : "periods")
                                      .arg(settings.Frequency)
                                      .arg(milliseconds);
  picture->SetWaveform(std::move(wave.samples), wave.frame_rate, caption);
  picture->SetEnvelope(PreviewEnvelope(settings, kEnvelopePoints), settings.Duration);
}

void ToneGeneratorWindow::Changed() {
  ShowProperties();
  if (!looping_) {
    // What an earlier status said (a refused note, an export) is no longer news.
    Tell(QString());
    return;
  }
  // The loop goes on with the tone as it now stands, from its next period.
  if (gen_->ContinueLoop()) {
    Tell("Playing the changed tone until Stop.");
  } else {
    looping_ = false;
    if (!TellPlayFailure()) Tell("The tone has stopped; Play sounds the changed tone.");
  }
}

void ToneGeneratorWindow::SetNoteFromField() {
  const QString note = noteEdit->text();
  if (note.trimmed().isEmpty()) return;
  const int32_t frequency = gen_->SetNote(note.toStdString());
  if (frequency == 0) {
    Tell(QStringLiteral("\"%1\" is not a note between 20 and 20000 Hz; the frequency stays %2 Hz.")
             .arg(note)
             .arg(gen_->Frequency()));
    return;
  }
  Changed();
  if (!looping_) Tell(QStringLiteral("Note %1: %2 Hz.").arg(note).arg(frequency));
}

void ToneGeneratorWindow::SetLevelNote(int level) {
  const QString note = levels_[level].note->text();
  if (note.trimmed().isEmpty()) return;
  const float value = gen_->SetAMNote(static_cast<TTGAMLevel>(level), note.toStdString());
  if (value == 0) {
    Tell(QStringLiteral("\"%1\" is not a note between 20 and 20000 Hz; extra tone %2 stays as it "
                        "was.")
             .arg(note)
             .arg(level + 1));
    return;
  }
  Changed();
  if (looping_) return;
  Tell(QStringLiteral("Extra tone %1, note %2: %3 %4.")
           .arg(level + 1)
           .arg(note)
           .arg(static_cast<double>(value))
           .arg(gen_->AMUseMultiplier() ? "times the frequency" : "Hz"));
}

bool ToneGeneratorWindow::ExtraToneInRange(int level, double value) {
  // As the renderer takes it, and as zelkgen tone refuses what lies outside.
  const bool multiple = gen_->AMUseMultiplier();
  const double hertz = std::trunc(
      multiple ? static_cast<double>(static_cast<float>(value)) * gen_->Frequency() : value);
  if (hertz >= kMinFrequency && hertz <= kMaxFrequency) return true;
  const QString allowed =
      multiple ? QStringLiteral("factors from %1 to %2 at %3 Hz")
                     .arg(kMinFrequency / static_cast<double>(gen_->Frequency()), 0, 'g', 6)
                     .arg(kMaxFrequency / static_cast<double>(gen_->Frequency()), 0, 'g', 6)
                     .arg(gen_->Frequency())
               : QStringLiteral("20 to 20000 Hz");
  ShowProperties();
  Tell(QStringLiteral("Extra tone %1 stays as it was: %2 would sound at %3 Hz; allowed are %4.")
           .arg(level + 1)
           .arg(value)
           .arg(hertz)
           .arg(allowed));
  return false;
}

void ToneGeneratorWindow::Zoom(int steps) {
  // Each step shows about a fifth more or fewer periods, at least one more or fewer.
  const int periods = periodsBox->value();
  const int change = std::max(1, periods / 5);
  periodsBox->setValue(periods + steps * change);
}

bool ToneGeneratorWindow::ExportTo(const QString& path) {
  const bool enveloped = exportEnvelopeBox->isChecked();
  if (!ExportTone(*gen_, enveloped, QFile::encodeName(path).toStdString())) {
    QMessageBox::warning(this, "Export WAV",
                         QStringLiteral("The tone could not be written to %1.\n\nCheck that the "
                                        "folder exists and that you may write there. A file "
                                        "that was there before is left as it was.")
                             .arg(QDir::toNativeSeparators(path)));
    Tell("Nothing exported.");
    return false;
  }
  Tell(QStringLiteral("Exported the %1 tone, %2 bytes, to %3.")
           .arg(enveloped ? "enveloped" : "plain")
           .arg(QFileInfo(path).size())
           .arg(QDir::toNativeSeparators(path)));
  return true;
}

namespace {

// The chosen name with the suffix added when it has none.
QString WithSuffix(const QString& path, const QString& suffix) {
  return QFileInfo(path).suffix().isEmpty() ? path + "." + suffix : path;
}

}  // namespace

void ToneGeneratorWindow::ChooseExportFile() {
  const QString path = QFileDialog::getSaveFileName(this, "Export WAV", folder_ + "/tone.wav",
                                                    "WAV files (*.wav);;All files (*)");
  if (path.isEmpty()) return;
  folder_ = QFileInfo(path).absolutePath();
  ExportTo(WithSuffix(path, "wav"));
}

void ToneGeneratorWindow::SaveSettings() {
  QString path = QFileDialog::getSaveFileName(this, "Save settings", folder_ + "/tone.tonegen",
                                              "Tone generator settings (*.tonegen);;All files (*)");
  if (path.isEmpty()) return;
  folder_ = QFileInfo(path).absolutePath();
  path = WithSuffix(path, "tonegen");
  if (!SaveToneGenSettings(*gen_, QFile::encodeName(path).toStdString())) {
    QMessageBox::warning(this, "Save settings",
                         QStringLiteral("The settings could not be written to %1. A file that "
                                        "was there before is left as it was.")
                             .arg(QDir::toNativeSeparators(path)));
    return;
  }
  Tell(QStringLiteral("Settings saved to %1.").arg(QDir::toNativeSeparators(path)));
}

void ToneGeneratorWindow::OpenSettings() {
  const QString path = QFileDialog::getOpenFileName(
      this, "Open settings", folder_, "Tone generator settings (*.tonegen);;All files (*)");
  if (path.isEmpty()) return;
  folder_ = QFileInfo(path).absolutePath();
  const QString shown = QDir::toNativeSeparators(path);
  const auto refuse = [this](const QString& why) {
    QMessageBox::warning(this, "Open settings", why);
  };
  // Only a plain file is read: a pipe or a device would keep the window waiting.
  const QFileInfo info(path);
  if (!info.isFile()) return refuse(shown + " is not a file.");
  if (info.size() > kLargestSettingsFile) {
    return refuse(shown + " is larger than 1 MiB; it is not a tone generator settings file.");
  }
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    return refuse(QStringLiteral("%1 could not be read: %2").arg(shown, file.errorString()));
  }
  const QByteArray text = file.read(kLargestSettingsFile);
  std::string error;
  const bool read =
      LoadToneGenSettings(*gen_, std::string_view(text.constData(), text.size()), &error);
  ShowProperties();
  if (!read) {
    return refuse(QStringLiteral("%1 holds no tone generator settings:\n%2")
                      .arg(shown, QString::fromStdString(error)));
  }
  Tell(QStringLiteral("Settings read from %1.").arg(shown));
}

bool ToneGeneratorWindow::TellPlayFailure() {
  const TTGError error = gen_->LastError();
  if (error == tgeNone) return false;
  // Nothing sounds, so nothing is left to stop.
  gen_->Stop();
  QString text = QStringLiteral("The tone could not be played: %1.")
                     .arg(QString::fromStdString(gen_->LastErrorText()));
  if (error == tgeNoOutput || error == tgeOutputFailed) {
    const std::string advice =
        AudioErrorAdvice(error == tgeNoOutput ? AUDIO_ERROR_NO_DEVICE : AUDIO_ERROR_DRIVER);
    text += "\n" + QString::fromStdString(advice);
  }
  Tell(text);
  return true;
}

void ToneGeneratorWindow::Tell(const QString& text) {
  statusLabel->setText(text);
  // An empty line would only take room from the scroll area.
  statusLabel->setVisible(!text.isEmpty());
}

void ToneGeneratorWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    hide();
    return;
  }
  QWidget::keyPressEvent(event);
}
