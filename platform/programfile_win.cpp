#include "platform/programfile.h"

namespace platform {

bool IsProgramStart(const std::string& head) {
  return head.compare(0, 2, "MZ") == 0;
}

} // namespace platform
