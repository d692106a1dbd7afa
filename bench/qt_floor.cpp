// The toolkit's own floor for the window's start-up: an empty dialog of the
// tool's dialog's size and font, shown, quitting once it has first been
// painted. run_all.py times whole runs of it beside tslflash_qt_startup.
//   tslflash_qt_floor            (QT_QPA_PLATFORM=offscreen without a display)
#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QTimer>

#include "ui/qt/dialog_units.h"
#include "ui/qt/qt_dialog_window.h"

namespace {

class EmptyDialog final : public QDialog {
 protected:
  bool event(QEvent* event) override {
    if (event->type() == QEvent::Paint && !painted_) {
      painted_ = true;
      QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    }
    return QDialog::event(event);
  }

 private:
  bool painted_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  const QApplication application(argc, argv);
  EmptyDialog dialog;
  dialog.setFont(tslflash::DialogFont());
  const tslflash::DialogUnits units(dialog.font());
  dialog.setFixedSize(units.Size(tslflash::kDialogSize.width(), tslflash::kDialogSize.height()));
  dialog.show();
  return QApplication::exec();
}
