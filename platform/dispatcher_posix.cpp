// The GUI thread's dispatcher on Qt's event loop: work queued from any thread and the timers
// behind window timers.
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QTimerEvent>

#include <mutex>

#include "platform/winapi_posix.h"

namespace platform::detail {
namespace {

const QEvent::Type kRunEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class RunEvent : public QEvent {
public:
  explicit RunEvent(std::function<void()> fn) : QEvent(kRunEvent), fn_(std::move(fn)) {}
  std::function<void()> fn_;
};

class Dispatcher : public QObject {
public:
  bool event(QEvent* e) override {
    if (e->type() == kRunEvent) {
      static_cast<RunEvent*>(e)->fn_();
      return true;
    }
    return QObject::event(e);
  }

protected:
  void timerEvent(QTimerEvent* e) override { GuiTimerFired(e->timerId()); }
};

std::mutex dispatcherMutex;
Dispatcher* dispatcher = nullptr;

Dispatcher* GetDispatcher() {
  EnsureDispatcher();
  return dispatcher;
}

} // namespace

void EnsureDispatcher() {
  std::lock_guard<std::mutex> lock(dispatcherMutex);
  if (!dispatcher) dispatcher = new Dispatcher; // lives until exit, on the GUI thread
}

void PostToGui(std::function<void()> fn) {
  std::lock_guard<std::mutex> lock(dispatcherMutex);
  if (dispatcher) QCoreApplication::postEvent(dispatcher, new RunEvent(std::move(fn)));
}

int StartGuiTimer(int ms) {
  return GetDispatcher()->startTimer(ms, Qt::PreciseTimer);
}

void KillGuiTimer(int id) {
  GetDispatcher()->killTimer(id);
}

} // namespace platform::detail
