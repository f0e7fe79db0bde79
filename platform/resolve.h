// Name lookup off the GUI thread: every address of both families, announced by a window message.
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"

namespace platform {

// Starts looking up name (both families, stream sockets) on a worker thread. When it ends, msg
// is posted to window with wParam the task and lParam WSAMAKEASYNCREPLY(number of addresses,
// Winsock error: WSAHOST_NOT_FOUND, WSATRY_AGAIN, ...). The worker writes nothing of the
// caller's: the addresses wait in the task until TakeLookupResult. Null when no lookup started.
win::HANDLE StartLookup(win::HWND window, win::UINT msg, const std::string& name);

// The addresses of a task whose message has arrived, in the system's order, without
// duplicates, their ports 0; the task ends with it.
std::vector<win::sockaddr_storage> TakeLookupResult(win::HANDLE task);

// Ends a task, running or finished: its addresses are dropped. A message it has already posted
// may still arrive (as after WSACancelAsyncRequest); TakeLookupResult gives nothing for it.
// False for a task that has already ended.
bool CancelLookup(win::HANDLE task);

// A numeric IPv4 or IPv6 address (no brackets), read without any lookup; false for a name.
bool ParseNumericAddress(const std::string& text, win::sockaddr_storage& address);

} // namespace platform
