// The standard library's path type, in a file of its own: a program that does not use
// std::filesystem (httpget) then links none of it.
#include "platform/paths.h"

#include "platform/text.h"

namespace platform {

std::filesystem::path FilePath(const std::string& path) {
  return std::filesystem::path(Utf8ToWide(path));
}

} // namespace platform
