// The Qt tests share one application object, made before any test runs.
#include <gtest/gtest.h>

#include <QApplication>

#include "ui/qt/qt_dialog_window.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  const QApplication application(argc, argv);
  QApplication::setApplicationName(QString::fromLatin1(tslflash::kApplicationName));
  return RUN_ALL_TESTS();
}
