// Shared by the Linux stand-ins of the Windows API.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace platform::detail {

// Creates the GUI-thread dispatcher; call once from the GUI thread before other threads post.
void EnsureDispatcher();
// Queues fn to run on the GUI thread in order with posted window messages; callable from any
// thread.
void PostToGui(std::function<void()> fn);
// Posts a window message that PeekMessageA can see and remove; when it is due it is delivered
// only if stillValid (when given) says so. GUI thread only.
bool PostWindowMessage(void* window, unsigned msg, uintptr_t wParam, intptr_t lParam,
                       std::function<bool()> stillValid = {});

// Timers on the GUI thread's dispatcher; a started timer calls GuiTimerFired with its id until it
// is killed. GUI thread only.
int StartGuiTimer(int ms);
void KillGuiTimer(int id);
void GuiTimerFired(int id);

// The user whose profile the Wine-style prefix holds.
std::string UserName();

// The Windows error code that stands for a C library error (errno); 0 (none) for one without a
// counterpart.
unsigned long ErrorFromErrno(int err);

} // namespace platform::detail
