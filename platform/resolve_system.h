// What each system's half of platform/resolve.h provides to the shared part.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace platform::detail {

// Called on the GUI thread before the first worker starts.
void PrepareLookups();
enum class LookupScope {
  Numeric,    // no lookup: literals only
  Configured, // the families this machine has an address of, loopback aside
  Every,      // both families, whatever is configured
};
// getaddrinfo for stream sockets, in the system's order; the addresses in Winsock's form with
// Windows' family values, or a Winsock error.
int SystemLookup(const std::string& name, LookupScope scope,
                 std::vector<win::sockaddr_storage>& out);
// Called on the worker thread: posts the message to the window on the GUI thread; a task whose
// message cannot be delivered is ended with LookupUndeliverable.
void PostLookupDone(win::HWND window, win::UINT msg, uintptr_t task, win::LPARAM lParam);
void LookupUndeliverable(uintptr_t task);
// The task has not ended.
bool LookupLive(uintptr_t task);

} // namespace platform::detail
