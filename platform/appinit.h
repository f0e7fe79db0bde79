// Start-up of a program without a window (the command-line tools).
#pragma once

namespace platform {

// The first call of every program: DLLs the program or the system loads on its behalf come from
// System32 only, never from the program's folder (a Downloads folder, for an installer) or the
// current one. Nothing on Linux.
void RestrictDllSearch();

// Makes the message queue that the socket component's notifications, timers and waits need, when
// the program has none yet. It stays until the process ends and needs no display.
void InitializeConsoleApplication();

// Standard output passes bytes unchanged (Windows otherwise writes CR before every LF).
void SetBinaryStandardOutput();

} // namespace platform
