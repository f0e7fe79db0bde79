// Shared by the Linux stand-ins of the Windows API: runs work on the GUI thread's queue.
#pragma once

#include <functional>

namespace platform::detail {

// Creates the GUI-thread dispatcher; call once from the GUI thread before other threads post.
void EnsureDispatcher();
// Queues fn to run on the GUI thread in order with posted window messages; callable from any
// thread.
void PostToGui(std::function<void()> fn);

} // namespace platform::detail
