#include "platform/msgloop.h"

#include <QCoreApplication>
#include <QEventLoop>

#include "platform/widgets_posix.h"

namespace platform {

namespace {

void (*exceptionHandler)() = nullptr;

int argcStore = 1;
char argv0[] = "corvane-setup";
char* argvStore[] = {argv0, nullptr};

} // namespace

namespace detail {

WidgetToolkit& Widgets() {
  static WidgetToolkit toolkit;
  return toolkit;
}

void HandleLoopException() {
  if (exceptionHandler) exceptionHandler();
}

} // namespace detail

void InitializeMessageLoop(void (*handler)()) {
  exceptionHandler = handler;
  if (QCoreApplication::instance()) return;
  // Never deleted: widgets and Qt's own globals may still need it while the process exits.
  if (detail::Widgets().makeApplication)
    detail::Widgets().makeApplication(argcStore, argvStore);
  else
    new detail::GuardedApplication<QCoreApplication>(argcStore, argvStore);
}

void ProcessMessages() {
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void WaitAndProcessMessages() {
  QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

int RunMessageLoop() {
  return QCoreApplication::exec();
}

void QuitMessageLoop(int exitCode) {
  QCoreApplication::exit(exitCode);
}

InputSuspension::InputSuspension() {
  if (detail::Widgets().suspendInput) disabled_ = detail::Widgets().suspendInput();
}

InputSuspension::~InputSuspension() {
  if (detail::Widgets().resumeInput) detail::Widgets().resumeInput(disabled_);
}

void CancelMouseCapture() {
  if (detail::Widgets().cancelMouseCapture) detail::Widgets().cancelMouseCapture();
}

} // namespace platform
