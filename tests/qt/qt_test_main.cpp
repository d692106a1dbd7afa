// The Qt tests share one application object, made before any test runs.
#include <gtest/gtest.h>

#include <QApplication>

#include "ui/qt/qt_dialog_window.h"
#include "ui/qt/qt_text.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  const QApplication application(argc, argv);
  QApplication::setApplicationName(tslflash::ToQt(tslflash::kApplicationName));
  return RUN_ALL_TESTS();
}
