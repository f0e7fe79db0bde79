// Winsock 2's getaddrinfo, which Winsock 1.1's header the rest of the program uses lacks: its
// headers come before any other.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstring>

#include "platform/resolve_system.h"

namespace platform::detail {

void PrepareLookups() {}

int SystemLookup(const std::string& name, LookupScope scope,
                 std::vector<win::sockaddr_storage>& out) {
  ADDRINFOA hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = scope == LookupScope::Numeric      ? AI_NUMERICHOST
                   : scope == LookupScope::Configured ? AI_ADDRCONFIG
                                                      : 0;
  ADDRINFOA* result = nullptr;
  // Its errors are Winsock's own codes (WSAHOST_NOT_FOUND, ...).
  int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &result);
  if (rc != 0) return rc;
  for (ADDRINFOA* ai = result; ai; ai = ai->ai_next) {
    if (ai->ai_family != AF_INET && ai->ai_family != AF_INET6) continue;
    win::sockaddr_storage address{};
    std::memcpy(&address, ai->ai_addr,
                std::min(sizeof address, static_cast<size_t>(ai->ai_addrlen)));
    out.push_back(address);
  }
  ::freeaddrinfo(result);
  return 0;
}

void PostLookupDone(win::HWND window, win::UINT msg, uintptr_t task, win::LPARAM lParam) {
  if (!::PostMessageA(window, msg, task, lParam)) LookupUndeliverable(task);
}

} // namespace platform::detail
