#include "platform/paths.h"

#include <cstdlib>

#include "platform/text.h"

namespace platform {

std::string NativePath(const std::string& path) {
  return path;
}

std::filesystem::path FilePath(const std::string& path) {
  return std::filesystem::path(Utf8ToWide(path));
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
  return _wfopen(Utf8ToWide(path).c_str(), Utf8ToWide(mode).c_str());
}

std::string WinePrefix() {
  const char* prefix = std::getenv("WINEPREFIX");
  return prefix ? prefix : "";
}

} // namespace platform
