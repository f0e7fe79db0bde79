#include "platform/widgets_posix.h"

#include <QApplication>
#include <QMessageBox>
#include <QWidget>

#include <cstdio>

#include "platform/winapi_base.h"

namespace platform {

namespace {

QCoreApplication* MakeApplication(int& argc, char** argv) {
  auto* app = new detail::GuardedApplication<QApplication>(argc, argv);
  // The application object decides when the program ends: when its main form closes.
  QApplication::setQuitOnLastWindowClosed(false);
  return app;
}

int ShowMessageBox(const std::string& text, const std::string& caption, unsigned type) {
  // Tests and tools may have brought up a plain core application: no window can open then.
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    return IDOK;
  }
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  switch (type & MB_ICONMASK) {
  case MB_ICONHAND:
    icon = QMessageBox::Critical;
    break;
  case MB_ICONQUESTION:
    icon = QMessageBox::Question;
    break;
  case MB_ICONEXCLAMATION:
    icon = QMessageBox::Warning;
    break;
  case MB_ICONASTERISK:
    icon = QMessageBox::Information;
    break;
  default:
    break;
  }
  // Opens over the window that was active; modal to the whole application.
  const bool yesNo = (type & MB_TYPEMASK) == MB_YESNO;
  QMessageBox box(icon, QString::fromLocal8Bit(caption), QString::fromLocal8Bit(text),
                  yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok,
                  QApplication::activeWindow());
  // An error text may carry a server's words: never read it as markup.
  box.setTextFormat(Qt::PlainText);
  box.setWindowModality(Qt::ApplicationModal);
  box.setEscapeButton(yesNo ? QMessageBox::No : QMessageBox::Ok);
  const int answer = box.exec();
  if (yesNo) return answer == QMessageBox::Yes ? IDYES : IDNO;
  return IDOK;
}

void ReleaseMouseGrab() {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return;
  if (QWidget* grabber = QWidget::mouseGrabber()) grabber->releaseMouse();
}

// A disabled widget drops the mouse and keys it is sent, so nothing is played back later.
std::vector<void*> DisableTopLevels() {
  std::vector<void*> disabled;
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return disabled;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (!widget->isVisible() || !widget->isEnabled()) continue;
    widget->setEnabled(false);
    disabled.push_back(widget);
  }
  return disabled;
}

void EnableTopLevels(const std::vector<void*>& widgets) {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return;
  const QWidgetList alive = QApplication::topLevelWidgets();
  for (void* widget : widgets)
    if (alive.contains(static_cast<QWidget*>(widget)))
      static_cast<QWidget*>(widget)->setEnabled(true);
}

} // namespace

void UseWidgets() {
  detail::Widgets() = {MakeApplication, ShowMessageBox, ReleaseMouseGrab, DisableTopLevels,
                       EnableTopLevels};
}

} // namespace platform
