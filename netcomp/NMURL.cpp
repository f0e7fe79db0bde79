#include "netcomp/NMURL.h"

#include <exception>

namespace {

bool IsAlnum(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

} // namespace

std::string TNMURL::Encode() {
  static const char kHex[] = "0123456789ABCDEF";
  try {
    std::string out;
    out.reserve(InputString.size() * 3);
    for (unsigned char c : InputString) {
      if (c == ' ') {
        out += '+';
      } else if (IsAlnum(c)) {
        out += static_cast<char>(c);
      } else {
        out += '%';
        out += kHex[c >> 4];
        out += kHex[c & 15];
      }
    }
    return out;
  } catch (const std::exception& e) {
    if (OnError) OnError(this, "Error during encode", e.what());
    return InputString;
  }
}
