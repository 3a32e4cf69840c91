// The windows as start-up leaves them (captions, places, controls, the stored text and
// settings), the Information window, and every way of ending the program, a running step
// included.
#include <QAccessible>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QTableView>
#include <QTest>
#include <csignal>

#include "app_fixture.h"
#include "audio_output.h"
#include "audio_output_testing.h"
#include "ddfs.h"
#include "image.h"
#include "outer_geometry.h"
#include "programs_window.h"

namespace {

using MainWindow = WindowsTest;

TEST_F(MainWindow, StartsIdleWithSquareSelectedAndTheStepTimerRunning) {
  EXPECT_EQ(Form1->windowTitle(),
            QString("Dr. Zelk frequency ganarator") + QString(17, ' ') + "GENERAL VERSION");
  EXPECT_TRUE(Form1->isVisible());
  EXPECT_FALSE(Form2->isVisible());
  EXPECT_FALSE(Form3->isVisible());
  EXPECT_TRUE(Form1->Label1->text().isEmpty());
  EXPECT_TRUE(Form1->Label8->text().isEmpty());
  EXPECT_EQ(Form1->ProgressBar1->minimum(), 0);
  EXPECT_EQ(Form1->ProgressBar1->maximum(), 100);
  EXPECT_EQ(Form1->ProgressBar1->value(), 0);
  EXPECT_EQ(Form1->RadioGroup1->title(), "Output signal");
  EXPECT_EQ(Form1->RadioGroup1->Items(), QStringList({"Square", "Sinus"}));
  EXPECT_EQ(Form1->RadioGroup1->ItemIndex(), 0);
  EXPECT_EQ(Form1->GetWaveShape(), 1);
  EXPECT_EQ(OutputWaveShape.load(), 1);

  EXPECT_TRUE(Form1->Timer1->isActive());
  EXPECT_EQ(Form1->Timer1->interval(), 180000);
  EXPECT_EQ(Form1->Timer1->timerType(), Qt::PreciseTimer);
  EXPECT_FALSE(Form1->Timer1->isSingleShot());

  // ToneGen1 is created from its stored settings and belongs to the window's components.
  ASSERT_NE(Form1->ToneGen1, nullptr);
  EXPECT_EQ(Form1->ToneGen1->Name(), "ToneGen1");
  EXPECT_NE(Form1->ToneGen1->Owner(), nullptr);
  EXPECT_TRUE(Form1->ToneGen1->Loop());
  EXPECT_EQ(Form1->ToneGen1->Duration(), 30000);
}

TEST_F(MainWindow, TheSynthesisersCopyFollowsTheChoice) {
  auto buttons = Form1->RadioGroup1->findChildren<QRadioButton*>();
  ASSERT_EQ(buttons.size(), 2);
  EXPECT_EQ(buttons[0]->text(), "Square");
  EXPECT_EQ(buttons[1]->text(), "Sinus");
  // One column: the second item sits below the first.
  EXPECT_EQ(buttons[0]->x(), buttons[1]->x());
  EXPECT_LT(buttons[0]->y(), buttons[1]->y());
  buttons[1]->click();
  EXPECT_EQ(OutputWaveShape.load(), 0);
  buttons[0]->click();
  EXPECT_EQ(OutputWaveShape.load(), 1);
  Form1->RadioGroup1->SetItemIndex(1);
  EXPECT_EQ(OutputWaveShape.load(), 0);
}

TEST_F(MainWindow, WindowsAndControlsStandWhereTheyAreStored) {
  EXPECT_EQ(StoredOuterGeometry(Form1), QRect(278, 285, 468, 268));
  EXPECT_EQ(StoredOuterGeometry(Form2), QRect(337, 185, 475, 448));
  EXPECT_EQ(StoredOuterGeometry(Form3), QRect(392, 271, 240, 127));
  // The offscreen platform has no frame, so the outer size is the client size.
  EXPECT_EQ(Form1->frameGeometry(), QRect(278, 285, 468, 268));

  const struct {
    QWidget* control;
    QRect bounds;
  } controls[] = {
      {Form1->Image1, {48, 24, 153, 185}},       {Form1->ProgressBar1, {264, 112, 150, 17}},
      {Form1->Button3, {368, 168, 75, 25}},      {Form1->Button4, {368, 200, 75, 25}},
      {Form1->Button5, {256, 64, 169, 25}},      {Form1->Button6, {256, 24, 169, 25}},
      {Form1->RadioGroup1, {232, 168, 105, 49}}, {Form2->Memo1, {16, 16, 441, 385}},
      {Form3->Button1, {80, 56, 75, 25}},
  };
  for (const auto& c : controls) {
    EXPECT_EQ(c.control->geometry(), c.bounds) << c.control->objectName().toStdString();
  }
  EXPECT_EQ(Form1->Label1->pos(), QPoint(320, 96));
  EXPECT_EQ(Form1->Label8->pos(), QPoint(304, 144));
  EXPECT_EQ(Form3->Label1->pos(), QPoint(88, 16));

  EXPECT_EQ(Form1->Button3->text(), "Information");
  EXPECT_EQ(Form1->Button4->text(), "Exit");
  EXPECT_EQ(Form1->Button5->text(), "BX virus (cancer prevention)");
  EXPECT_EQ(Form1->Button6->text(), "Zelk general (parasite, bacterium)");
  EXPECT_EQ(Form2->windowTitle(), "Information");
  EXPECT_EQ(Form3->windowTitle(), "Current frequency");
  EXPECT_EQ(Form3->Button1->text(), "Skip");
  EXPECT_EQ(Form3->Label1->text(), "Label1");
}

TEST_F(MainWindow, FontsColoursAndTabOrderAreTheStoredOnes) {
  for (QWidget* window :
       {static_cast<QWidget*>(Form1), static_cast<QWidget*>(Form2), static_cast<QWidget*>(Form3)}) {
    EXPECT_EQ(window->font().family(), "MS Sans Serif");
    EXPECT_EQ(window->font().pointSize(), 8);
  }
  EXPECT_TRUE(Form1->Label1->font().bold());
  EXPECT_EQ(Form1->Label1->palette().color(QPalette::WindowText), QColor(Qt::blue));
  EXPECT_FALSE(Form1->Label8->font().bold());
  EXPECT_EQ(Form3->Label1->palette().color(QPalette::WindowText), QColor(Qt::blue));
  EXPECT_FALSE(Form3->Label1->font().bold());
  // 19 pixels at the 96 dpi the windows are designed for.
  EXPECT_DOUBLE_EQ(Form3->Label1->font().pointSizeF() * 96.0 / 72.0, 19.0);
  EXPECT_TRUE(Form3->Label1->alignment() & Qt::AlignHCenter);

  EXPECT_EQ(Form1->Button3->nextInFocusChain(), Form1->Button4);
  EXPECT_EQ(Form1->Button4->nextInFocusChain(), Form1->Button5);
  EXPECT_EQ(Form1->Button5->nextInFocusChain(), Form1->Button6);

  // Skip, then Pause, are the only controls of the Current frequency window that take the focus.
  for (QWidget* child : Form3->findChildren<QWidget*>()) {
    EXPECT_EQ(child->focusPolicy() != Qt::NoFocus,
              child == Form3->Button1 || child == Form3->Button2)
        << child->objectName().toStdString();
  }
  EXPECT_EQ(Form3->Button1->nextInFocusChain(), Form3->Button2);
}

TEST_F(MainWindow, ScreenReadersSeeAFrameANamedBarAndNamedFrequencyLabels) {
  const auto name = [](QObject* object) {
    return QAccessible::queryAccessibleInterface(object)->text(QAccessible::Name);
  };
  EXPECT_EQ(QAccessible::queryAccessibleInterface(Form1)->role(), QAccessible::Window);
  EXPECT_EQ(QAccessible::queryAccessibleInterface(Form2)->role(), QAccessible::Window);
  EXPECT_EQ(QAccessible::queryAccessibleInterface(FormPrograms)->role(), QAccessible::Window);
  EXPECT_EQ(name(FormPrograms->List()), "Programs");
  EXPECT_EQ(name(FormPrograms->Steps()), "Steps");
  EXPECT_EQ(name(Form1), Form1->windowTitle());
  EXPECT_EQ(name(Form1->ProgressBar1), "Run progress");
  EXPECT_EQ(name(Form1->Label8), "Current frequency");
  StepDriver driver([&](int k) {
    const QString expected = k == 0 ? "Current frequency: 2128HZ" : "Current frequency: 3713HZ";
    EXPECT_EQ(name(Form1->Label8), expected);
    EXPECT_EQ(name(Form3->Label1), expected);
    Form3->Button1->click();
  });
  Form1->Button5->click();
  EXPECT_EQ(driver.seen.size(), 2u);
  EXPECT_EQ(name(Form1->Label8), "Current frequency");
}

TEST_F(MainWindow, F1OpensInformationAndReturnPressesTheFocusedButton) {
  Form1->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Form1));
  QTest::keyClick(Form1, Qt::Key_F1);
  EXPECT_TRUE(Form2->isVisible());
  Form2->close();
  Form1->Button3->setFocus();
  QTest::keyClick(Form1->Button3, Qt::Key_Return);
  QTest::qWait(200);  // the button's animated click
  EXPECT_TRUE(Form2->isVisible());
}

TEST_F(MainWindow, ThePictureIsDrawnAtNaturalSizeFromTheTopLeftAndClipped) {
  const QImage& picture = Form1->Image1->Picture();
  ASSERT_FALSE(picture.isNull());
  EXPECT_EQ(picture.size(), QSize(166, 182));
  const QImage shown = Form1->Image1->grab().toImage();
  ASSERT_EQ(shown.size(), QSize(153, 185));
  // Natural size from the corner: pixel (x, y) of the area is pixel (x, y) of the picture.
  for (QPoint p :
       {QPoint(0, 0), QPoint(152, 0), QPoint(76, 90), QPoint(0, 181), QPoint(152, 181)}) {
    const QRgb a = shown.pixel(p);
    const QRgb b = picture.pixel(p);
    EXPECT_LE(std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
                  std::abs(qBlue(a) - qBlue(b)),
              3)
        << p.x() << "," << p.y();
  }
}

TEST_F(MainWindow, WithoutAPictureTheAreaStaysEmpty) {
  TImage empty(Form1);
  empty.setGeometry(48, 24, 153, 185);
  const QImage shown = empty.grab().toImage();
  const QRgb background = Form1->palette().color(QPalette::Window).rgb();
  for (int y = 0; y < shown.height(); y += 7) {
    for (int x = 0; x < shown.width(); x += 7) {
      ASSERT_EQ(shown.pixel(x, y), background) << x << "," << y;
    }
  }
}

TEST_F(MainWindow, TheWindowsCarryThe32PixelIcon) {
  const QIcon icon = QApplication::windowIcon();
  ASSERT_FALSE(icon.isNull());
  EXPECT_TRUE(icon.availableSizes().contains(QSize(32, 32)));
}

const char* const kInformation[26] = {
    "Program description:",
    "",
    "This Program can generate wave signals in researching the",
    "theories of the researcher Dr.Zelk for use as a Zelk",
    "frequency Generator.",
    "",
    "Program features:",
    "- Dr.Zelk general program (parasite, bacterium)   ",
    "treatment time: 30min.",
    "- BX virus ( cancer prevention)  ",
    "treatment time: 6min.",
    "",
    "- Uses standard sound card",
    "",
    "Recommended accessory:",
    "- amplifier,",
    "- body electrode",
    "",
    "This product is strictly for research purposes only.",
    "",
    nullptr,  // 21 to 24: our own heading and lines
    nullptr,
    nullptr,
    nullptr,
    "",
    "Additional  information:  ",
};

TEST_F(MainWindow, TheInformationTextHasItsTwentySixLinesWithTheirTrailingBlanks) {
  const QStringList lines = Form2->Memo1->toPlainText().split('\n');
  ASSERT_EQ(lines.size(), 26);
  for (int i = 0; i < 26; ++i) {
    if (kInformation[i] == nullptr) {
      EXPECT_FALSE(lines[i].trimmed().isEmpty()) << "line " << i + 1;
      EXPECT_LE(lines[i].size(), 60) << "line " << i + 1;
    } else {
      EXPECT_EQ(lines[i], QString(kInformation[i])) << "line " << i + 1;
    }
  }
  EXPECT_TRUE(Form2->Memo1->isReadOnly());
  EXPECT_EQ(Form2->Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
}

TEST_F(MainWindow, InformationTwiceGivesOneWindowThatKeepsItsScrollPosition) {
  Form1->Button3->click();
  EXPECT_TRUE(Form2->isVisible());
  Form2->resize(Form2->width(), 120);  // small enough to scroll
  QScrollBar* bar = Form2->Memo1->verticalScrollBar();
  bar->setValue(bar->maximum());
  const int scrolled = bar->value();
  Form1->Button3->click();
  int information_windows = 0;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->isVisible() && widget->windowTitle() == "Information") ++information_windows;
  }
  EXPECT_EQ(information_windows, 1);
  // Its close box hides it; the next click brings back the same window as it was.
  Form2->close();
  EXPECT_FALSE(Form2->isVisible());
  Form1->Button3->click();
  EXPECT_TRUE(Form2->isVisible());
  EXPECT_EQ(bar->value(), scrolled);
  EXPECT_TRUE(Form1->isVisible());
  EXPECT_TRUE(Form1->isEnabled());
}

TEST_F(MainWindow, EscapeClosesTheInformationWindow) {
  Form1->Button3->click();
  ASSERT_TRUE(Form2->isVisible());
  // From the text, where the focus is.
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(Form2->Memo1, &escape);
  EXPECT_FALSE(Form2->isVisible());
  EXPECT_TRUE(Form1->isVisible());
}

// --- Ending the program ------------------------------------------------------------------------

TEST_F(MainWindow, ExitEndsTheEventLoop) {
  QTimer::singleShot(0, Form1, [] { Form1->Button4->click(); });
  EXPECT_EQ(RunEventLoopUntilEnd(5000), 0);
}

TEST_F(MainWindow, TheMainWindowsCloseBoxEndsTheProgramWithTheInformationWindowOpen) {
  QTimer::singleShot(0, Form1, [] {
    Form1->Button3->click();
    Form1->close();
  });
  EXPECT_EQ(RunEventLoopUntilEnd(5000), 0);
}

// Starts a BX virus run from the event loop and, in its first step, does end_it. The program
// must end within a second of it: no second step, the output released.
void ExpectAStepEndsWithTheProgram(std::function<void()> end_it) {
  QElapsedTimer since_end;
  StepDriver driver([&](int) {
    since_end.start();
    end_it();
  });
  QTimer::singleShot(0, Form1, [] { Form1->Button5->click(); });
  EXPECT_EQ(RunEventLoopUntilEnd(5000), 0);
  EXPECT_LT(since_end.elapsed(), 1000);
  EXPECT_EQ(driver.seen.size(), 1u);
  EXPECT_FALSE(Form1->Timer1->isActive());
  EXPECT_NE(BASS_Init(-1, 44100, 0, nullptr, nullptr), 0) << "code " << BASS_ErrorGetCode();
  BASS_Free();
}

TEST_F(MainWindow, CtrlQAsksDuringAStepAndEndsTheProgramOnceConfirmedAndAtOnceBetweenRuns) {
  {
    // Continue: the run plays on to its end.
    MessageBoxCatcher answer(TForm3::kContinueButton);
    StepDriver driver([](int k) {
      if (k == 0) QTest::keyClick(Form3, Qt::Key_Q, Qt::ControlModifier);
      FireTimer1();
    });
    Form1->Button5->click();
    EXPECT_EQ(answer.count, 1);
    EXPECT_EQ(answer.text, TForm3::kEndRunQuestion);
    EXPECT_EQ(driver.seen.size(), 2u);
    EXPECT_EQ(Form1->Label1->text(), "End");
  }
  MessageBoxCatcher answer(TForm3::kEndRunButton);
  ExpectAStepEndsWithTheProgram([] {
    EXPECT_TRUE(QTest::qWaitForWindowActive(Form3));
    QTest::keyClick(Form3, Qt::Key_Q, Qt::ControlModifier);
  });
  EXPECT_EQ(answer.count, 1);
  TearDown();
  SetUp();
  QTimer::singleShot(0, Form1, [] {
    Form1->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(Form1));
    QTest::keyClick(Form1, Qt::Key_Q, Qt::ControlModifier);
  });
  EXPECT_EQ(RunEventLoopUntilEnd(5000), 0);
}

TEST_F(MainWindow, SigtermDuringAStepEndsTheProgram) {
  ExpectAStepEndsWithTheProgram([] { std::raise(SIGTERM); });
}

TEST_F(MainWindow, SigintDuringAStepEndsTheProgram) {
  ExpectAStepEndsWithTheProgram([] { std::raise(SIGINT); });
}

TEST_F(MainWindow, TheSessionsQuitRequestDuringAStepEndsTheProgram) {
  ExpectAStepEndsWithTheProgram(
      [] { QCoreApplication::postEvent(qApp, new QEvent(QEvent::Quit)); });
}

TEST_F(MainWindow, AQuitSignalWhileTheErrorMessageIsShownEndsTheProgram) {
  AudioOutputFailNextForTesting(AudioCall::Init, 1);
  QTimer poll;
  poll.setInterval(5);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (QApplication::activeModalWidget() != nullptr) {
      poll.stop();
      std::raise(SIGTERM);
    }
  });
  poll.start();
  QTimer::singleShot(0, Form1, [] { Form1->Button6->click(); });
  EXPECT_EQ(RunEventLoopUntilEnd(5000), 0);
  EXPECT_TRUE(Form1->Label1->text().isEmpty());
}

}  // namespace
