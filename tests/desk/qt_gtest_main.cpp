// GoogleTest main for the desk's tests: the widgets need one QApplication for the whole run.
// They never need a screen: without a platform named, the offscreen one is used (test
// discovery runs the executables at build time, outside CTest's environment).
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
