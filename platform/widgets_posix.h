// Qt's widgets for the Linux build: the window's program brings them in, console tools go without
// them and load Qt's core library alone.
#pragma once

#include <QCoreApplication>
#include <string>
#include <vector>

namespace platform {

// Makes the application object a widget application, message boxes windows of their own, and
// CancelMouseCapture release a grab. Call before the message loop is initialised.
void UseWidgets();

} // namespace platform

namespace platform::detail {

struct WidgetToolkit {
  QCoreApplication* (*makeApplication)(int& argc, char** argv) = nullptr;
  int (*messageBox)(const std::string& text, const std::string& caption, unsigned type) = nullptr;
  void (*cancelMouseCapture)() = nullptr;
  // Disables the visible, enabled top-level widgets and returns them; enables them again.
  std::vector<void*> (*suspendInput)() = nullptr;
  void (*resumeInput)(const std::vector<void*>& widgets) = nullptr;
};

// Empty until UseWidgets.
WidgetToolkit& Widgets();

// What the message loop does with an exception that a message's handler let escape.
void HandleLoopException();

// Qt must never see an exception unwind through its event dispatch.
template <class Base> class GuardedApplication : public Base {
public:
  using Base::Base;

  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return Base::notify(receiver, event);
    } catch (...) {
      HandleLoopException();
      return false;
    }
  }
};

} // namespace platform::detail
