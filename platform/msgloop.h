// The thread's message queue: the loop that runs the program and the waits that pump it.
#pragma once

namespace platform {

// Processes every message that is pending now, without waiting.
void ProcessMessages();
// Waits until at least one message arrives, then processes what is pending.
void WaitAndProcessMessages();
// Runs the loop until QuitMessageLoop; returns its exit code.
int RunMessageLoop();
void QuitMessageLoop(int exitCode = 0);

}  // namespace platform
