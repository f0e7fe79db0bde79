// The proxy strings and lists: a proxy URL, curl's no_proxy list, WinHTTP's proxy and bypass
// lists (a script found on the network may hand out the last two). The input is a list, then a
// NUL and a host.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/proxy.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const size_t nul = text.find('\0');
  const std::string list = text.substr(0, nul);
  const std::string host = nul == std::string::npos ? "" : text.substr(nul + 1);

  platform::TProxy proxy;
  if (platform::ParseProxyUrl(list, proxy)) {
    if (proxy.Host.empty() || proxy.Port < 1 || proxy.Port > 65535) __builtin_trap();
    for (const std::string* credential : {&proxy.User, &proxy.Password})
      if (credential->find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
        __builtin_trap();
  }
  if (platform::ProxyFromList(list, "http", proxy) && (proxy.Port < 1 || proxy.Port > 65535))
    __builtin_trap();
  platform::NoProxyMatches(list, host, 80);
  platform::BypassMatches(list, "https", host, 443);
  std::string scheme, name;
  int port = 0;
  if (platform::SplitTarget(list, scheme, name, port) && (port < 1 || port > 65535))
    __builtin_trap();
  return 0;
}
