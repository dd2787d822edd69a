// The Qt tests' main: one application object for all, on the offscreen
// platform unless a display is asked for.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setApplicationName("Meridane");
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
