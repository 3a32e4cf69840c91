// main_window.cpp holds TForm1, the main window.
#include "main_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QShortcut>
#include <cstdio>
#include <string>

#include "app_identity.h"
#include "audio_output.h"
#include "auto_size_label.h"
#include "blocked_close_filter.h"
#include "current_frequency_window.h"
#include "dropped_file.h"
#include "info_window.h"
#include "jpeg_picture.h"
#include "outer_geometry.h"
#include "readable_blue.h"
#include "step_timer.h"
#include "stored_form.h"

TForm1* Form1 = nullptr;

namespace {

// The margin a label keeps from the window's right edge when a long text is shortened.
constexpr int kRightMargin = 8;

}  // namespace

TForm1::TForm1(QWidget* parent) : QWidget(parent) {
  setupUi(this);
  KeepStoredOuterGeometry(this);
  FitLabelsToText(this);
  KeepBlueReadable(Label1);
  LoadPicture();

  components_ = std::make_unique<TComponent>(nullptr);
  components_->SetName("Form1");
  CreateToneGen1();

  Timer1 = CreateStepTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->start();

  OutputWaveShape.store(GetWaveShape());
  connect(RadioGroup1, &TRadioGroup::ItemIndexChanged, this,
          [this] { OutputWaveShape.store(GetWaveShape()); });

  ProgressBar1->setAccessibleName("Run progress");
  ShowStatus(nullptr);
  // Ctrl+Q quits as Exit does and F1 opens Information, from every window the user can act in.
  connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), this, nullptr, nullptr,
                        Qt::ApplicationShortcut),
          &QShortcut::activated, this, &TForm1::EndApplicationAsked);
  connect(
      new QShortcut(QKeySequence::HelpContents, this, nullptr, nullptr, Qt::ApplicationShortcut),
      &QShortcut::activated, this, [this] { Button3Click(Button3); });
  blocked_close_ = std::make_unique<BlockedCloseFilter>(this, [this] { EndApplicationAsked(); });

  connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(Button3); });
  connect(Button4, &QPushButton::clicked, this, [this] { Button4Click(Button4); });
  connect(Button5, &QPushButton::clicked, this, [this] { Button5Click(Button5); });
  connect(Button6, &QPushButton::clicked, this, [this] { Button6Click(Button6); });

  // Under the picture, where the window has room; last in the tab order.
  ButtonPrograms = new QPushButton("Programs...", this);
  ButtonPrograms->setObjectName("ButtonPrograms");
  ButtonPrograms->setGeometry(48, 214, 153, 23);
  ButtonPrograms->setAutoDefault(false);
  // Right of it, under "Output signal", clear of Exit.
  ButtonToneGenerator = new QPushButton("&Tone generator...", this);
  ButtonToneGenerator->setObjectName("ButtonToneGenerator");
  ButtonToneGenerator->setGeometry(232, 218, 105, 20);
  ButtonToneGenerator->setAutoDefault(false);
  connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_T), this), &QShortcut::activated,
          ButtonToneGenerator, &QPushButton::click);
  setAcceptDrops(true);
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
  ToneGen1 = new TToneGen(components_.get());
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
  std::fprintf(stderr, "%s: ToneGen1 keeps its defaults: %s\n", kAppName, error.c_str());
}

WaveShape TForm1::GetWaveShape() const {
  return RadioGroup1->ItemIndex() == 1 ? wsSine : wsSquare;
}

void TForm1::ShowAudioError(const QString& Message, int Code) {
  QString text = Message + "\r\n" + QString::fromStdString(AudioErrorCodeLine(Code));
  // Below the message and its code, what the user can check.
  const QString advice = QString::fromStdString(AudioErrorAdvice(Code));
  if (!advice.isEmpty()) text += "\r\n\r\n" + advice;
  QMessageBox box(QMessageBox::NoIcon, QGuiApplication::applicationDisplayName(), text,
                  QMessageBox::Ok, this);
  box.exec();
}

void TForm1::ShowOutputError(const QString& Message, const QString& Advice) {
  QMessageBox box(QMessageBox::NoIcon, QGuiApplication::applicationDisplayName(),
                  Message + "\r\n\r\n" + Advice, QMessageBox::Ok, this);
  box.exec();
}

void TForm1::Button3Click(QObject*) {
  Form2->show();
  Form2->raise();
  Form2->activateWindow();
}

void TForm1::Button4Click(QObject*) {
  if (!UserMayEnd()) return;
  EndApplication();
}

void TForm1::Button5Click(QObject*) {
  emit RunRequested(BXVirusProgram);
}

void TForm1::Button6Click(QObject*) {
  emit RunRequested(ZelkGeneralProgram);
}

void TForm1::Timer1Timer(QObject*) {
  emit StepTimerFired();
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
  AcceptFileDrag(event);
}

void TForm1::dropEvent(QDropEvent* event) {
  const QString path = TakeDroppedFile(event);
  if (path.isEmpty()) return;
  // After the drop has finished: the program's window may show a message.
  QTimer::singleShot(0, this, [this, path] { emit ProgramFileDropped(path); });
}

void TForm1::ShowRunStart() {
  ShowStatus(nullptr);
  SetCaption(Label1, "");
}

void TForm1::ShowStepOpened(int, int, const TreatmentStep& what) {
  ShowStatus(&what);
  ProgressBar1->setValue(what.Position);
}

void TForm1::ShowRunEnd(const TreatmentRun::RunResult& result) {
  switch (result.how) {
    case TreatmentRun::RunEnd::Completed:
    case TreatmentRun::RunEnd::SkippedThrough:
      ShowStatus(nullptr);
      SetCaption(Label1, "End");
      ProgressBar1->setValue(0);
      break;
    case TreatmentRun::RunEnd::Closed:
      ShowStatus(nullptr);
      SetCaption(Label1, "");
      ProgressBar1->setValue(0);
      break;
    case TreatmentRun::RunEnd::Failed:
    case TreatmentRun::RunEnd::ProgramEnded:
      break;  // the texts stay as the failed or last step left them
  }
}

void TForm1::ShowStatus(const TreatmentStep* step) {
  // A program file's label may be longer than the window is wide; the built-ins' texts fit.
  SetCaptionWithin(Label8, step != nullptr ? QString::fromStdString(step->StatusText) : QString(),
                   width() - kRightMargin);
  NameFrequencyLabel(Label8,
                     step != nullptr ? QString::fromStdString(step->DisplayText) : QString());
}

void TForm1::keyPressEvent(QKeyEvent* event) {
  // A focused button takes Return and Enter as it takes Space.
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  auto* button = qobject_cast<QPushButton*>(focusWidget());
  if (enter && button != nullptr && (event->modifiers() & ~Qt::KeypadModifier) == 0) {
    button->animateClick();
    return;
  }
  QWidget::keyPressEvent(event);
}

void TForm1::EndApplication() {
  if (ending_) return;
  ending_ = true;
  emit EndRequested();
  // exit() leaves the nested modal loops as well as the main one.
  QCoreApplication::exit(0);
}

void TForm1::EndApplicationAsked() {
  if (ending_) return;
  if (Form3 != nullptr && !Form3->ConfirmEndProgram()) return;
  if (!UserMayEnd()) return;
  EndApplication();
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (!UserMayEnd()) {
    event->ignore();
    return;
  }
  EndApplication();
  event->accept();
}
