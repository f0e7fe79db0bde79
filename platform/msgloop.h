// The thread's message queue: the loop that runs the program and the waits that pump it.
#pragma once

namespace platform {

// Brings up the GUI for the program when no one has yet (tests bring up their own); it stays up
// until the process ends. handler runs inside a catch block for any exception that escapes a
// message's handling; the message loop then goes on.
void InitializeMessageLoop(void (*handler)());

// Processes every message that is pending now, without waiting.
void ProcessMessages();
// Waits until at least one message arrives, then processes what is pending.
void WaitAndProcessMessages();
// Runs the loop until QuitMessageLoop; returns its exit code.
int RunMessageLoop();
void QuitMessageLoop(int exitCode = 0);

// Ends a mouse capture a control may hold, so that an error box can be used.
void CancelMouseCapture();

} // namespace platform
