// The thread's message queue: the loop that runs the program and the waits that pump it.
#pragma once

#include <vector>

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

// While one lives, the program's windows take no input: they are disabled, so a click, a key or
// a close from the title bar does nothing, and input that still reaches the queue is dropped
// rather than kept for later. ProcessMessages goes on repainting them, answering the system and
// running timers. For a wait the user must not interrupt, such as the run of a child program.
class InputSuspension {
public:
  InputSuspension();
  ~InputSuspension();
  InputSuspension(const InputSuspension&) = delete;
  InputSuspension& operator=(const InputSuspension&) = delete;

private:
  std::vector<void*> disabled_; // the windows this one disabled, to enable again
};

// Ends a mouse capture a control may hold, so that an error box can be used.
void CancelMouseCapture();

} // namespace platform
