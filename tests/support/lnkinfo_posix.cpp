#include <cstdio>

#include "support/lnkinfo.h"

namespace testenv {

std::optional<std::string> RunLnkinfo(const std::string& file) {
  std::string quoted = "'";
  for (char c : file)
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  quoted += "'";
  std::FILE* p = popen(("lnkinfo " + quoted + " 2>/dev/null").c_str(), "r");
  if (!p) return std::nullopt;
  std::string out;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
    out.append(buf, n);
  if (pclose(p) != 0) return std::nullopt;
  return out;
}

} // namespace testenv
