#include "platform/msgloop.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>
#include <QWidget>

namespace platform {

namespace {

void (*exceptionHandler)() = nullptr;

// Qt must never see an exception unwind through its event dispatch.
class GuiApplication : public QApplication {
public:
  using QApplication::QApplication;

  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (...) {
      if (exceptionHandler) exceptionHandler();
      return false;
    }
  }
};

int argcStore = 1;
char argv0[] = "corvane-setup";
char* argvStore[] = {argv0, nullptr};
// Never deleted: widgets and Qt's own globals may still need it while the process exits.
GuiApplication* ownApplication = nullptr;

} // namespace

void InitializeMessageLoop(void (*handler)()) {
  exceptionHandler = handler;
  if (QCoreApplication::instance()) return;
  ownApplication = new GuiApplication(argcStore, argvStore);
  // The application object decides when the program ends: when its main form closes.
  QApplication::setQuitOnLastWindowClosed(false);
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

void CancelMouseCapture() {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return;
  if (QWidget* grabber = QWidget::mouseGrabber()) grabber->releaseMouse();
}

} // namespace platform
