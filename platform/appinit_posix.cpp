#include "platform/appinit.h"

#include <QCoreApplication>

namespace platform {

void RestrictDllSearch() {}

void InitializeConsoleApplication() {
  if (QCoreApplication::instance()) return;
  static int argc = 1;
  static char name[] = "corvane-tool";
  static char* argv[] = {name, nullptr};
  // Never deleted: Qt's globals may still use it while the process exits.
  new QCoreApplication(argc, argv);
}

// Text and binary output are the same here.
void SetBinaryStandardOutput() {}

} // namespace platform
