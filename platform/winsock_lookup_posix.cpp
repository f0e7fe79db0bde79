// Host lookups: resolved on a worker thread, copied into the caller's buffer on the GUI thread.
#include "platform/winsock_table_posix.h"

#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace platform::detail {
namespace {

struct Lookup {
  win::HWND window;
  win::UINT msg;
  char* buf;
  int buflen;
  std::string name;
};
std::map<uintptr_t, Lookup>& Lookups() {
  static auto* lookups = new std::map<uintptr_t, Lookup>;
  return *lookups;
}
uintptr_t nextTask = 1;

int LookupError(int eai) {
  switch (eai) {
  case EAI_NONAME:
#ifdef EAI_NODATA
  case EAI_NODATA:
#endif
    return WSAHOST_NOT_FOUND;
  case EAI_AGAIN:
    return WSATRY_AGAIN;
  default:
    return WSANO_RECOVERY;
  }
}

// Lays out a hostent with its lists and strings in buf; the size needed, or -1 if buf is short.
int BuildHostEnt(char* buf, int buflen, const std::string& name,
                 const std::vector<uint32_t>& addrs) {
  size_t n = addrs.size();
  size_t need = sizeof(win::hostent) + sizeof(char*) /* aliases */ + (n + 1) * sizeof(char*) +
                n * 4 + name.size() + 1;
  if (need > static_cast<size_t>(buflen)) return -static_cast<int>(need);
  auto* he = reinterpret_cast<win::hostent*>(buf);
  char** aliases = reinterpret_cast<char**>(buf + sizeof(win::hostent));
  char** list = aliases + 1;
  char* data = reinterpret_cast<char*>(list + n + 1);
  aliases[0] = nullptr;
  for (size_t i = 0; i < n; ++i) {
    std::memcpy(data + 4 * i, &addrs[i], 4);
    list[i] = data + 4 * i;
  }
  list[n] = nullptr;
  char* nameCopy = data + 4 * n;
  std::memcpy(nameCopy, name.c_str(), name.size() + 1);
  he->h_name = nameCopy;
  he->h_aliases = aliases;
  he->h_addrtype = 2;
  he->h_length = 4;
  he->h_addr_list = list;
  return static_cast<int>(need);
}

void DeliverLookup(uintptr_t task, int error, std::string canonical, std::vector<uint32_t> addrs) {
  auto it = Lookups().find(task);
  if (it == Lookups().end()) return; // canceled
  Lookup lookup = it->second;
  Lookups().erase(it);
  // The buffer belongs to the window's owner: write nothing once the window is gone.
  if (!win::IsWindow(lookup.window)) return;
  int len = 0;
  if (error == 0) {
    len = BuildHostEnt(lookup.buf, lookup.buflen, canonical, addrs);
    if (len < 0) {
      error = WSAENOBUFS;
      len = -len;
    }
  }
  win::SendMessageA(lookup.window, lookup.msg, task, WSAMAKEASYNCREPLY(len, error));
}

} // namespace
} // namespace platform::detail

namespace win {

using namespace platform::detail;

HANDLE WSAAsyncGetHostByName(HWND window, UINT msg, const char* name, char* buf, int buflen) {
  if (!WinsockStarted()) return Fail(WSANOTINITIALISED), nullptr;
  if (!name || !buf || !IsWindow(window)) return Fail(WSAEFAULT), nullptr;
  platform::detail::EnsureDispatcher();
  uintptr_t task = nextTask++;
  Lookups()[task] = Lookup{window, msg, buf, buflen, name};
  std::thread([task, host = std::string(name)] {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* result = nullptr;
    int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &result);
    int error = rc == 0 ? 0 : LookupError(rc);
    std::string canonical = host;
    std::vector<uint32_t> addrs;
    if (rc == 0) {
      if (result->ai_canonname) canonical = result->ai_canonname;
      for (addrinfo* ai = result; ai; ai = ai->ai_next) {
        uint32_t a = reinterpret_cast<::sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr;
        bool seen = false;
        for (uint32_t b : addrs)
          seen = seen || a == b;
        if (!seen) addrs.push_back(a);
      }
      ::freeaddrinfo(result);
      if (addrs.empty()) error = WSANO_DATA;
    }
    platform::detail::PostToGui(
        [task, error, canonical, addrs] { DeliverLookup(task, error, canonical, addrs); });
  }).detach();
  return reinterpret_cast<HANDLE>(task);
}

int WSACancelAsyncRequest(HANDLE task) {
  if (Lookups().erase(reinterpret_cast<uintptr_t>(task)) == 0) return Fail(WSAEINVAL);
  return 0;
}

} // namespace win
