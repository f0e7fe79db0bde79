// Status and header lines of a reply, and Content-Length values: every input line goes through
// the steps the component runs on it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "netcomp/NMHttpParse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    std::string line = text.substr(start, end == std::string::npos ? end : end + 1 - start);
    httpparse::StatusNumber(line);
    std::string name, value;
    if (httpparse::SplitHeaderLine(line, name, value)) {
      if (name.find(':') != std::string::npos) __builtin_trap();
      if (auto length = httpparse::ContentLength(value); length && *length < 0) __builtin_trap();
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return 0;
}
