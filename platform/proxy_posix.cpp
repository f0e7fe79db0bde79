#include <cstdlib>

#include "platform/proxy.h"

namespace platform {

TProxy SystemProxyFor(const std::string& url) {
  return EnvironmentProxyFor(url, [](const char* name) {
    const char* value = std::getenv(name);
    return std::string(value ? value : "");
  });
}

} // namespace platform
