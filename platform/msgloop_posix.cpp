#include "platform/msgloop.h"

#include <QCoreApplication>
#include <QEventLoop>

namespace platform {

void ProcessMessages() {
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void WaitAndProcessMessages() { QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents); }

int RunMessageLoop() { return QCoreApplication::exec(); }

void QuitMessageLoop(int exitCode) { QCoreApplication::exit(exitCode); }

}  // namespace platform
