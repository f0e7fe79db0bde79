#include "platform/paths.h"

#include <cstdlib>

namespace platform {

std::string NativePath(const std::string& path) {
  return path;
}

std::string WinePrefix() {
  const char* prefix = std::getenv("WINEPREFIX");
  return prefix ? prefix : "";
}

} // namespace platform
