#include "platform/programfile.h"

namespace platform {

bool IsProgramStart(const std::string& head) {
  return head.compare(0, 2, "MZ") == 0 ||
         head.compare(0, 4,
                      "\x7f"
                      "ELF") == 0 ||
         head.compare(0, 2, "#!") == 0;
}

} // namespace platform
