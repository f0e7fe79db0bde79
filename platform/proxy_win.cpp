#include "platform/proxy.h"

#include <windows.h>

#include <winhttp.h>

#include <chrono>
#include <future>
#include <map>
#include <mutex>
#include <optional>

#include "platform/msgloop.h"
#include "platform/text.h"

namespace platform {

namespace {

// winhttp.dll is no known DLL: loaded by name it would be looked for in the program's folder
// first. It is loaded from System32 alone, and each entry found by name.
FARPROC WinHttpEntry(const char* name) {
  static const HMODULE module =
      LoadLibraryExW(L"winhttp.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  return module ? GetProcAddress(module, name) : nullptr;
}

template <class F> F Entry(const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void (*)()>(WinHttpEntry(name)));
}

std::string Take(LPWSTR text) {
  if (!text) return {};
  std::string narrow = WideToUtf8(text);
  GlobalFree(text);
  return narrow;
}

// The user's settings, read once a run.
struct TSettings {
  bool autoDetect = false;
  std::wstring script;
  std::string manual, bypass;
  HINTERNET session = nullptr;
  // Auto-detection or the script found nothing usable: not asked again this run, as a WPAD
  // search that finds nothing costs seconds. Read and written on the calling thread alone.
  bool automaticFailed = false;
  // The answer of the script for each scheme, host and port.
  std::map<std::string, TProxy> answers;
  std::mutex lock;
};

TSettings& Settings() {
  static TSettings* settings = [] {
    auto* s = new TSettings;
    using GetConfig = BOOL(WINAPI*)(WINHTTP_CURRENT_USER_IE_PROXY_CONFIG*);
    using Open = HINTERNET(WINAPI*)(LPCWSTR, DWORD, LPCWSTR, LPCWSTR, DWORD);
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
    const auto getConfig = Entry<GetConfig>("WinHttpGetIEProxyConfigForCurrentUser");
    if (getConfig && getConfig(&config)) {
      s->autoDetect = config.fAutoDetect != FALSE;
      if (config.lpszAutoConfigUrl) s->script = Utf8ToWide(Take(config.lpszAutoConfigUrl));
      s->manual = Take(config.lpszProxy);
      s->bypass = Take(config.lpszProxyBypass);
    }
    if (s->autoDetect || !s->script.empty()) {
      const auto open = Entry<Open>("WinHttpOpen");
      if (open)
        s->session = open(L"Corvane Setup", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                          WINHTTP_NO_PROXY_BYPASS, 0);
    }
    return s;
  }();
  return *settings;
}

// What auto-detection or the script answers for url; none when it gives no answer. Reads the
// settings only, so that it may run on a thread of its own.
std::optional<TProxy> Automatic(const TSettings& s, const std::string& url,
                                const std::string& scheme) {
  using GetProxy =
      BOOL(WINAPI*)(HINTERNET, LPCWSTR, WINHTTP_AUTOPROXY_OPTIONS*, WINHTTP_PROXY_INFO*);
  const auto getProxy = Entry<GetProxy>("WinHttpGetProxyForUrl");
  if (!getProxy) return std::nullopt;
  WINHTTP_AUTOPROXY_OPTIONS options{};
  if (s.autoDetect) {
    options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
    options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
  }
  if (!s.script.empty()) {
    options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
    options.lpszAutoConfigUrl = s.script.c_str();
  }
  options.fAutoLogonIfChallenged = TRUE;
  WINHTTP_PROXY_INFO info{};
  const std::wstring wide = Utf8ToWide(url);
  if (!getProxy(s.session, wide.c_str(), &options, &info)) return std::nullopt;
  const std::string list = Take(info.lpszProxy);
  const std::string bypass = Take(info.lpszProxyBypass);
  TProxy proxy;
  std::string host, ignored;
  int port = 0;
  if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY &&
      SplitTarget(url, ignored, host, port) && !BypassMatches(bypass, scheme, host, port))
    ProxyFromList(list, scheme, proxy);
  return proxy;
}

} // namespace

TProxy SystemProxyFor(const std::string& url) {
  std::string scheme, host;
  int port = 0;
  if (!SplitTarget(url, scheme, host, port)) return {};
  TSettings& s = Settings();
  // A script is run once for each server, not for each of its files.
  const std::string key = scheme + "://" + host + ":" + std::to_string(port);
  {
    std::lock_guard<std::mutex> hold(s.lock);
    if (auto known = s.answers.find(key); known != s.answers.end()) return known->second;
  }
  std::optional<TProxy> answer;
  if (s.session && !s.automaticFailed) {
    // A WPAD search or a script's download may take seconds: the window is painted meanwhile and
    // takes no input, as while a child program runs.
    auto lookup =
        std::async(std::launch::async, [&s, &url, &scheme] { return Automatic(s, url, scheme); });
    InputSuspension still;
    while (lookup.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready)
      ProcessMessages();
    answer = lookup.get();
    if (!answer) s.automaticFailed = true;
  }
  TProxy proxy;
  if (answer)
    proxy = *answer;
  else if (!s.manual.empty() && !BypassMatches(s.bypass, scheme, host, port))
    ProxyFromList(s.manual, scheme, proxy);
  std::lock_guard<std::mutex> hold(s.lock);
  s.answers[key] = proxy;
  return proxy;
}

} // namespace platform
