#include "platform/appinit.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>

namespace platform {

// Every Windows thread has its message queue already.
void InitializeConsoleApplication() {}

void SetBinaryStandardOutput() {
  _setmode(_fileno(stdout), _O_BINARY);
}

} // namespace platform
