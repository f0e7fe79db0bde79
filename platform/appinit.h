// Start-up of a program without a window (the command-line tools).
#pragma once

namespace platform {

// Makes the message queue that the socket component's notifications, timers and waits need, when
// the program has none yet. It stays until the process ends and needs no display.
void InitializeConsoleApplication();

} // namespace platform
