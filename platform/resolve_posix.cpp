#include "platform/resolve_system.h"
#include "platform/winsock_table_posix.h"

#include <cstring>

namespace platform::detail {

void PrepareLookups() {
  EnsureDispatcher();
}

int SystemLookup(const std::string& name, LookupScope scope,
                 std::vector<win::sockaddr_storage>& out) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = scope == LookupScope::Numeric      ? AI_NUMERICHOST
                   : scope == LookupScope::Configured ? AI_ADDRCONFIG
                                                      : 0;
  addrinfo* result = nullptr;
  int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &result);
  if (rc != 0) {
    switch (rc) {
    case EAI_NONAME:
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
      return WSAHOST_NOT_FOUND;
    case EAI_AGAIN:
      return WSATRY_AGAIN;
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
      return WSANO_DATA;
#endif
    default:
      return WSANO_RECOVERY;
    }
  }
  for (addrinfo* ai = result; ai; ai = ai->ai_next) {
    if (ai->ai_family != AF_INET && ai->ai_family != AF_INET6) continue;
    ::sockaddr_storage system{};
    std::memcpy(&system, ai->ai_addr, ai->ai_addrlen);
    win::sockaddr_storage address{};
    int length = sizeof address;
    FromSystemAddress(system, reinterpret_cast<win::sockaddr*>(&address), &length);
    out.push_back(address);
  }
  ::freeaddrinfo(result);
  return 0;
}

void PostLookupDone(win::HWND window, win::UINT msg, uintptr_t task, win::LPARAM lParam) {
  // Checked on the GUI thread, where tasks are canceled: a canceled task posts nothing.
  PostToGui([=] {
    if (LookupLive(task) && !win::PostMessageA(window, msg, task, lParam))
      LookupUndeliverable(task);
  });
}

} // namespace platform::detail
