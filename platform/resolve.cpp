// The lookup tasks both systems share: a table on the GUI side, one worker thread per lookup.
#include "platform/resolve.h"

#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "platform/resolve_system.h"

namespace platform {
namespace {

struct Task {
  bool done = false;
  std::vector<win::sockaddr_storage> addresses;
};

// Workers may outlive everything else: the table is never destroyed.
std::mutex& TableMutex() {
  static auto* m = new std::mutex;
  return *m;
}
std::map<uintptr_t, Task>& Tasks() {
  static auto* tasks = new std::map<uintptr_t, Task>;
  return *tasks;
}
uintptr_t nextTask = 1;

bool SameAddress(const win::sockaddr_storage& a, const win::sockaddr_storage& b) {
  if (a.ss_family != b.ss_family) return false;
  if (a.ss_family == AF_INET6) {
    const auto& x = reinterpret_cast<const win::sockaddr_in6&>(a);
    const auto& y = reinterpret_cast<const win::sockaddr_in6&>(b);
    return std::memcmp(x.sin6_addr.u.Byte, y.sin6_addr.u.Byte, 16) == 0 &&
           x.sin6_scope_id == y.sin6_scope_id;
  }
  const auto& x = reinterpret_cast<const win::sockaddr_in&>(a);
  const auto& y = reinterpret_cast<const win::sockaddr_in&>(b);
  return x.sin_addr.s_addr == y.sin_addr.s_addr;
}

} // namespace

namespace detail {
void LookupUndeliverable(uintptr_t task) {
  std::lock_guard<std::mutex> lock(TableMutex());
  Tasks().erase(task);
}
bool LookupLive(uintptr_t task) {
  std::lock_guard<std::mutex> lock(TableMutex());
  return Tasks().count(task) != 0;
}
} // namespace detail

win::HANDLE StartLookup(win::HWND window, win::UINT msg, const std::string& name) {
  if (!win::IsWindow(window)) return nullptr;
  detail::PrepareLookups();
  uintptr_t task;
  {
    std::lock_guard<std::mutex> lock(TableMutex());
    task = nextTask++;
    Tasks()[task] = Task{};
  }
  try {
    std::thread([window, msg, task, name] {
      // Only the families this machine has an address of: without IPv6 beyond loopback, an IPv6
      // address only costs an attempt that fails. A name with no address of those may still have
      // one of the other (a name for ::1; on Windows, any name while only loopback is set up).
      std::vector<win::sockaddr_storage> found;
      int error = detail::SystemLookup(name, detail::LookupScope::Configured, found);
      if (error == WSAHOST_NOT_FOUND || error == WSANO_DATA || (error == 0 && found.empty())) {
        found.clear();
        error = detail::SystemLookup(name, detail::LookupScope::Every, found);
      }
      std::vector<win::sockaddr_storage> unique;
      for (const auto& a : found) {
        bool seen = false;
        for (const auto& b : unique)
          seen = seen || SameAddress(a, b);
        if (!seen) unique.push_back(a);
      }
      if (error == 0 && unique.empty()) error = WSANO_DATA;
      const size_t count = unique.size();
      {
        std::lock_guard<std::mutex> lock(TableMutex());
        auto it = Tasks().find(task);
        if (it == Tasks().end()) return; // canceled
        it->second.done = true;
        it->second.addresses = std::move(unique);
      }
      detail::PostLookupDone(window, msg, task,
                             WSAMAKEASYNCREPLY(count > 0xFFFF ? 0xFFFF : count, error));
    }).detach();
  } catch (...) {
    detail::LookupUndeliverable(task);
    return nullptr;
  }
  return reinterpret_cast<win::HANDLE>(task);
}

std::vector<win::sockaddr_storage> TakeLookupResult(win::HANDLE task) {
  std::lock_guard<std::mutex> lock(TableMutex());
  auto it = Tasks().find(reinterpret_cast<uintptr_t>(task));
  if (it == Tasks().end() || !it->second.done) return {};
  std::vector<win::sockaddr_storage> result = std::move(it->second.addresses);
  Tasks().erase(it);
  return result;
}

bool CancelLookup(win::HANDLE task) {
  std::lock_guard<std::mutex> lock(TableMutex());
  return Tasks().erase(reinterpret_cast<uintptr_t>(task)) != 0;
}

bool ParseNumericAddress(const std::string& text, win::sockaddr_storage& address) {
  std::vector<win::sockaddr_storage> found;
  // Windows' getaddrinfo takes an address in brackets too; a URL's brackets are not ours to read.
  if (text.empty() || text.front() == '[' ||
      detail::SystemLookup(text, detail::LookupScope::Numeric, found) != 0 || found.empty())
    return false;
  address = found.front();
  return true;
}

} // namespace platform
