// main_window.cpp holds TForm1, the main window.
#include "main_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QMessageBox>
#include <cstdio>
#include <string>

#include "audio_output.h"
#include "auto_size_label.h"
#include "current_frequency_window.h"
#include "ddfs.h"
#include "info_window.h"
#include "jpeg_picture.h"
#include "outer_geometry.h"
#include "readable_blue.h"
#include "stored_form.h"

TForm1* Form1 = nullptr;

namespace {
constexpr int kStepMilliseconds = 180000;
}

TForm1::TForm1(QWidget* parent) : QWidget(parent) {
  setupUi(this);
  KeepStoredOuterGeometry(this);
  FitLabelsToText(this);
  KeepBlueReadable(Label1);
  LoadPicture();

  Components = std::make_unique<TComponent>(nullptr);
  Components->SetName("Form1");
  CreateToneGen1();

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  // A coarse timer may fire 5 % early: 9 seconds off a three-minute step.
  Timer1->setTimerType(Qt::PreciseTimer);
  Timer1->setInterval(kStepMilliseconds);
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(Timer1); });
  Timer1->start();

  OutputWaveShape.store(GetWaveShape());
  connect(RadioGroup1, &TRadioGroup::ItemIndexChanged, this,
          [this] { OutputWaveShape.store(GetWaveShape()); });

  connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(Button3); });
  connect(Button4, &QPushButton::clicked, this, [this] { Button4Click(Button4); });
  connect(Button5, &QPushButton::clicked, this, [this] { Button5Click(Button5); });
  connect(Button6, &QPushButton::clicked, this, [this] { Button6Click(Button6); });
}

// Destroying the components destroys ToneGen1, which gives the process its volume back.
TForm1::~TForm1() = default;

void TForm1::LoadPicture() {
  QFile file(":/picture.jpg");
  if (!file.open(QIODevice::ReadOnly)) return;
  const QImage picture = DecodeJpegPicture(file.readAll());
  // An undecodable picture leaves the area empty.
  if (!picture.isNull()) Image1->SetPicture(picture);
}

void TForm1::CreateToneGen1() {
  ToneGen1 = new TToneGen(Components.get());
  ToneGen1->SetName("ToneGen1");
  QFile file(":/tone_gen1_form.txt");
  std::string error = "the stored settings are missing";
  if (file.open(QIODevice::ReadOnly)) {
    const QByteArray text = file.readAll();
    if (ReadToneGenForm(*ToneGen1, std::string_view(text.constData(), text.size()), &error)) {
      return;
    }
  }
  // The settings are compiled in, so this is a build fault; the defaults still work.
  std::fprintf(stderr, "zelkgen: ToneGen1 keeps its defaults: %s\n", error.c_str());
}

uint8_t TForm1::GetWaveShape() const {
  return RadioGroup1->ItemIndex() == 1 ? 0 : 1;
}

void TForm1::ShowAudioError(const QString& Message) {
  const int code = BASS_ErrorGetCode();
  // Release whatever the failed step opened, so that the next run starts from a closed output.
  BASS_Free();
  const QString text = Message + "\r\n(error code: " + QString::number(code) + ")";
  QMessageBox box(QMessageBox::NoIcon, QGuiApplication::applicationDisplayName(), text,
                  QMessageBox::Ok, this);
  box.exec();
}

void TForm1::Button3Click(QObject*) {
  Form2->show();
  Form2->raise();
  Form2->activateWindow();
}

void TForm1::Button4Click(QObject*) {
  EndApplication();
}

void TForm1::Button5Click(QObject*) {
  RunTreatment(BXVirusProgram);
}

void TForm1::Button6Click(QObject*) {
  RunTreatment(ZelkGeneralProgram);
}

void TForm1::Timer1Timer(QObject*) {
  ToneGen1->SetLoop(false);
  Form3->CloseStepDisplay();
  ToneGen1->Stop();
  BASS_Stop();
  BASS_Free();
}

void TForm1::RunTreatment(const TreatmentProgram& program) {
  if (step_running_ || ending_) return;
  SetCaption(Label8, "");
  SetCaption(Label1, "");
  Timer1->stop();
  for (const TreatmentStep& step : program.Steps) {
    if (!BASS_Init(-1, 44100, 0, reinterpret_cast<void*>(winId()), nullptr)) {
      ShowAudioError("BASS.dll error!");
      return;
    }
    SetCaption(Label8, step.StatusText);
    ProgressBar1->setValue(step.Position);
    StreamFrequency = step.Frequency;
    StreamAmplitude = 1.0L;
    StreamHandle = BASS_StreamCreate(44100, 2, 0, ToneStreamProc, nullptr);
    if (StreamHandle == 0) {
      ShowAudioError("User-Stream kann nicht angelegt werden!");
      return;
    }
    if (!BASS_ChannelPlay(StreamHandle, 0)) {
      ShowAudioError("Wiedergabe kann nicht gestartet werden.");
      return;
    }
    step_running_ = true;
    Timer1->start();
    const bool ended_by_step_end = Form3->ShowStep(step.DisplayText);
    step_running_ = false;
    Timer1->stop();
    if (ending_) return;  // the program is ending: no further step
    if (!ended_by_step_end) {
      EndRunByClosedWindow();
      return;
    }
  }
  if (program.FreeOutputAtEnd) BASS_Free();
  SetCaption(Label8, "");
  SetCaption(Label1, "End");
  ProgressBar1->setValue(0);
}

// The user closed the Current frequency window: the run ends there, in silence.
void TForm1::EndRunByClosedWindow() {
  ToneGen1->Stop();
  BASS_Stop();
  BASS_Free();
  SetCaption(Label8, "");
  SetCaption(Label1, "");
  ProgressBar1->setValue(0);
}

void TForm1::EndApplication() {
  if (ending_) return;
  ending_ = true;
  Timer1->stop();
  ToneGen1->Stop();
  BASS_Stop();
  BASS_Free();
  if (Form3) Form3->CloseStepDisplay();
  // exit() leaves the nested modal loops as well as the main one.
  QCoreApplication::exit(0);
}

void TForm1::closeEvent(QCloseEvent* event) {
  EndApplication();
  event->accept();
}
