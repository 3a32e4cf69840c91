// The yardstick for start-up figures: a bare Qt Widgets window of the main window's size.
#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QWidget window;
  window.setWindowTitle("bare window");
  window.resize(468, 268);
  window.show();
  return app.exec();
}
