// UTF-16 text as the COM stand-in takes and gives it.
#include "platform/shell.h"

#include <cstdint>
#include <string>

#include "platform/text.h"

namespace platform {

std::basic_string<win::OLECHAR> AnsiToOle(const std::string& text) {
  std::basic_string<win::OLECHAR> out;
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  for (size_t i = 0; i < n;) {
    uint32_t cp = s[i];
    size_t len = cp < 0x80             ? 1
                 : (cp & 0xE0) == 0xC0 ? 2
                 : (cp & 0xF0) == 0xE0 ? 3
                 : (cp & 0xF8) == 0xF0 ? 4
                                       : 0;
    bool valid = len > 0 && i + len <= n;
    if (valid && len > 1) {
      cp &= 0x7F >> len;
      for (size_t k = 1; k < len; ++k) {
        if ((s[i + k] & 0xC0) != 0x80) {
          valid = false;
          break;
        }
        cp = (cp << 6) | (s[i + k] & 0x3F);
      }
      static constexpr uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
      if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) valid = false;
    }
    if (!valid) {
      cp = s[i];
      len = 1;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += len;
  }
  return out;
}

} // namespace platform

namespace platform::detail {

std::string OleToUtf8(const win::OLECHAR* s) {
  std::wstring units;
  for (; *s; ++s)
    units += static_cast<wchar_t>(*s);
  return WideToUtf8(units);
}

} // namespace platform::detail
