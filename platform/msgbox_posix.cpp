#include <QApplication>
#include <QMessageBox>
#include <QWidget>
#include <cstdio>

#include "platform/msgbox.h"

namespace win {

int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
  const std::string text = lpText ? lpText : "";
  const std::string caption = lpCaption ? lpCaption : "Error";
  if (const auto& hook = platform::CurrentMessageBoxHook()) return hook(hWnd, text, caption, uType);

  // Without a GUI there is nobody to click: the text still has to reach the user.
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    return IDOK;
  }
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  switch (uType & MB_ICONMASK) {
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
  QMessageBox box(icon, QString::fromLocal8Bit(caption), QString::fromLocal8Bit(text),
                  QMessageBox::Ok, QApplication::activeWindow());
  // An error text may carry a server's words: never read it as markup.
  box.setTextFormat(Qt::PlainText);
  box.setWindowModality(Qt::ApplicationModal);
  box.setEscapeButton(QMessageBox::Ok);
  box.exec();
  return IDOK;
}

} // namespace win
