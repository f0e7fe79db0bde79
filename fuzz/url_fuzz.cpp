// URL splitting, Location resolution and the text field helpers. The input is a URL, then a NUL
// and a Location value.
#include <cstddef>
#include <cstdint>
#include <string>

#include "netcomp/NMHttpParse.h"
#include "netcomp/Psock.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const size_t nul = text.find('\0');
  std::string url = text.substr(0, nul);
  const std::string location = nul == std::string::npos ? "" : text.substr(nul + 1);

  std::string host = "previous.example", path;
  int32_t port = 8080;
  try {
    httpparse::SplitUrl(url, host, port, path, 32768);
    if (port < 1 || port > 65535 || path.empty() || path.size() > url.size()) __builtin_trap();
    std::string next =
        httpparse::ResolveLocation("http://" + host + ":" + std::to_string(port), path, location);
    if (!next.empty() && !httpparse::HasScheme(next)) __builtin_trap();
  } catch (const Exception&) {
  }

  for (int n = -1; n <= 4; ++n) {
    std::string word = NthWord(text, '/', n);
    if (word.size() > text.size()) __builtin_trap();
    try {
      int pos = NthWordPos(text, '/', n);
      if (pos < 1 || static_cast<size_t>(pos) > text.size() + 1) __builtin_trap();
    } catch (const ERangeError&) {
      if (!text.empty()) __builtin_trap();
    }
  }
  return 0;
}
