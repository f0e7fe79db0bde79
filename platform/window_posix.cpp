// Hidden windows, posted messages and window timers on the GUI thread's dispatcher.
#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/winapi_net.h"
#include "platform/winapi_posix.h"

namespace platform::detail {
namespace {

struct Window {
  win::WNDPROC proc = nullptr;
  std::vector<char> extra;
  win::LONG_PTR userData = 0;
  std::map<win::UINT_PTR, int> timers; // window timer id -> Qt timer id
  std::map<uint64_t, win::MSG> queued; // posted and not yet delivered, by serial
};

// Window handles are serial numbers, never reused, so a message for a destroyed window finds
// nothing and is dropped.
struct Windows {
  std::mutex mutex;
  std::map<uintptr_t, Window> byId;
  std::map<int, std::pair<uintptr_t, win::UINT_PTR>> byQtTimer;
  std::map<std::string, win::WNDCLASSA> classes;
  std::map<std::string, std::string> classNames; // owns the name strings of registered classes
  uintptr_t nextId = 1;
  uint64_t nextMessage = 1;
};

Windows& State() {
  static Windows* s = new Windows; // lives until exit; worker threads may still post
  return *s;
}

Window* Find(win::HWND h) {
  auto it = State().byId.find(reinterpret_cast<uintptr_t>(h));
  return it == State().byId.end() ? nullptr : &it->second;
}

void KillQtTimer(Window& w, win::UINT_PTR timerId) {
  auto it = w.timers.find(timerId);
  if (it == w.timers.end()) return;
  KillGuiTimer(it->second);
  State().byQtTimer.erase(it->second);
  w.timers.erase(it);
}

} // namespace

void GuiTimerFired(int qtTimer) {
  auto& s = State();
  auto it = s.byQtTimer.find(qtTimer);
  if (it == s.byQtTimer.end()) return;
  auto [id, timerId] = it->second;
  win::SendMessageA(reinterpret_cast<win::HWND>(id), WM_TIMER, timerId, 0);
}

bool PostWindowMessage(void* window, unsigned msg, uintptr_t wParam, intptr_t lParam,
                       std::function<bool()> stillValid) {
  auto& s = State();
  uint64_t serial;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.byId.find(reinterpret_cast<uintptr_t>(window));
    if (it == s.byId.end()) return false;
    serial = s.nextMessage++;
    win::MSG m{};
    m.hwnd = static_cast<win::HWND>(window);
    m.message = msg;
    m.wParam = wParam;
    m.lParam = lParam;
    it->second.queued.emplace(serial, m);
  }
  PostToGui([window, serial, stillValid = std::move(stillValid)] {
    Window* w = Find(static_cast<win::HWND>(window));
    if (!w) return;
    auto it = w->queued.find(serial);
    if (it == w->queued.end()) return; // taken off the queue with PeekMessageA
    win::MSG m = it->second;
    w->queued.erase(it);
    if (!stillValid || stillValid()) win::SendMessageA(m.hwnd, m.message, m.wParam, m.lParam);
  });
  return true;
}

} // namespace platform::detail

namespace win {

using platform::detail::Find;
using platform::detail::State;

ATOM RegisterClassA(const WNDCLASSA* wndClass) {
  if (!wndClass || !wndClass->lpszClassName || !wndClass->lpfnWndProc) return 0;
  auto& s = State();
  std::string name = wndClass->lpszClassName;
  if (s.classes.count(name)) return 0; // already registered
  WNDCLASSA copy = *wndClass;
  copy.lpszClassName = s.classNames.emplace(name, name).first->second.c_str();
  s.classes.emplace(name, copy);
  return static_cast<ATOM>(0xC000 + s.classes.size());
}

BOOL GetClassInfoA(HINSTANCE, LPCSTR className, WNDCLASSA* wndClass) {
  if (!className) return FALSE;
  auto it = State().classes.find(className);
  if (it == State().classes.end()) return FALSE;
  if (wndClass) *wndClass = it->second;
  return TRUE;
}

HWND CreateWindowExA(DWORD, LPCSTR className, LPCSTR, DWORD, int, int, int, int, HWND parent, HMENU,
                     HINSTANCE, LPVOID) {
  // Every window here is hidden and only receives messages; a real parent is not supported.
  if (!className || (parent && parent != HWND_MESSAGE)) return nullptr;
  auto& s = State();
  auto cls = s.classes.find(className);
  if (cls == s.classes.end()) return nullptr;
  platform::detail::EnsureDispatcher();
  platform::detail::Window w;
  w.proc = cls->second.lpfnWndProc;
  w.extra.assign(static_cast<size_t>(std::max(0, cls->second.cbWndExtra)), 0);
  uintptr_t id;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    id = s.nextId++;
    s.byId.emplace(id, std::move(w));
  }
  return reinterpret_cast<HWND>(id);
}

BOOL DestroyWindow(HWND window) {
  auto& s = State();
  platform::detail::Window* w = Find(window);
  if (!w) return FALSE;
  while (!w->timers.empty())
    platform::detail::KillQtTimer(*w, w->timers.begin()->first);
  std::lock_guard<std::mutex> lock(s.mutex);
  s.byId.erase(reinterpret_cast<uintptr_t>(window));
  return TRUE;
}

BOOL IsWindow(HWND window) {
  return Find(window) ? TRUE : FALSE;
}

LRESULT DefWindowProcA(HWND, UINT, WPARAM, LPARAM) {
  return 0;
}

BOOL PostMessageA(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  return platform::detail::PostWindowMessage(window, msg, wParam, lParam) ? TRUE : FALSE;
}

BOOL PeekMessageA(MSG* msg, HWND window, UINT min, UINT max, UINT removeMsg) {
  auto& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  bool any = min == 0 && max == 0;
  platform::detail::Window* found = nullptr;
  uint64_t first = 0;
  for (auto& [id, w] : s.byId) {
    if (window && id != reinterpret_cast<uintptr_t>(window)) continue;
    for (auto& [serial, m] : w.queued) {
      if (!any && (m.message < min || m.message > max)) continue;
      if (!found || serial < first) {
        found = &w;
        first = serial;
      }
      break;
    }
  }
  if (!found) return FALSE;
  if (msg) *msg = found->queued.at(first);
  if (removeMsg & PM_REMOVE) found->queued.erase(first);
  return TRUE;
}

LRESULT SendMessageA(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  platform::detail::Window* w = Find(window);
  if (!w) return 0;
  WNDPROC proc = w->proc; // the procedure may destroy its own window
  return proc(window, msg, wParam, lParam);
}

LONG_PTR SetWindowLongPtrA(HWND window, int index, LONG_PTR value) {
  platform::detail::Window* w = Find(window);
  if (!w) return 0;
  LONG_PTR old = 0;
  if (index == GWLP_WNDPROC) {
    old = reinterpret_cast<LONG_PTR>(w->proc);
    if (value) w->proc = reinterpret_cast<WNDPROC>(value);
    return old;
  }
  if (index == GWLP_USERDATA) {
    old = w->userData;
    w->userData = value;
    return old;
  }
  if (index < 0 || static_cast<size_t>(index) + sizeof(LONG_PTR) > w->extra.size()) return 0;
  std::memcpy(&old, w->extra.data() + index, sizeof old);
  std::memcpy(w->extra.data() + index, &value, sizeof value);
  return old;
}

LONG_PTR GetWindowLongPtrA(HWND window, int index) {
  platform::detail::Window* w = Find(window);
  if (!w) return 0;
  if (index == GWLP_USERDATA) return w->userData;
  if (index == GWLP_WNDPROC) return reinterpret_cast<LONG_PTR>(w->proc);
  if (index < 0 || static_cast<size_t>(index) + sizeof(LONG_PTR) > w->extra.size()) return 0;
  LONG_PTR value;
  std::memcpy(&value, w->extra.data() + index, sizeof value);
  return value;
}

LRESULT CallWindowProcA(WNDPROC proc, HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  return proc ? proc(window, msg, wParam, lParam) : 0;
}

HINSTANCE GetModuleHandleA(LPCSTR moduleName) {
  static char image;
  return moduleName ? nullptr : &image;
}

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC) {
  platform::detail::Window* w = Find(window);
  if (!w) return 0;
  platform::detail::KillQtTimer(*w, id);
  // The system's minimum period, as on Windows.
  int ms = static_cast<int>(std::min<UINT>(std::max<UINT>(elapse, 10), 0x7FFFFFFF));
  int qtId = platform::detail::StartGuiTimer(ms);
  if (qtId == 0) return 0;
  w->timers[id] = qtId;
  State().byQtTimer[qtId] = {reinterpret_cast<uintptr_t>(window), id};
  return id == 0 ? 1 : id;
}

BOOL KillTimer(HWND window, UINT_PTR id) {
  platform::detail::Window* w = Find(window);
  if (!w || !w->timers.count(id)) return FALSE;
  platform::detail::KillQtTimer(*w, id);
  return TRUE;
}

} // namespace win
