#include "platform/appinit.h"

namespace platform {

// Every Windows thread has its message queue already.
void InitializeConsoleApplication() {}

} // namespace platform
