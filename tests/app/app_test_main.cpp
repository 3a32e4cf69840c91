// The program's own start-up for the window tests: DDFS before the application object, then one
// QApplication for every test of the executable.
#include <gtest/gtest.h>

#include <QApplication>

#include "ddfs.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  InitDDFS();
  QApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
