#include "ui/qt/qt_dispatcher.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QThread>
#include <utility>

namespace tslflash {

bool QtDispatcher::IsUiThread() const {
  return QThread::currentThread() == QCoreApplication::instance()->thread();
}

void QtDispatcher::Post(std::function<void()> task) {
  QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(task), Qt::QueuedConnection);
}

void QtDispatcher::ServeUntil(const std::function<bool()>& finished) {
  while (!finished()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

}  // namespace tslflash
