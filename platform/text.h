// Text at the system boundary. The program's text is UTF-8 in std::string; the Windows API
// takes UTF-16. Conversions are lossless for any UTF-16 the system hands out: an unpaired
// surrogate (legal in a Windows file name) travels as its three-byte form and comes back.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// UTF-16 code units of utf8 (one unit per wchar_t, also where wchar_t is wider). A byte that is
// no part of valid UTF-8 becomes U+FFFD.
std::wstring Utf8ToWide(std::string_view utf8);

// UTF-8 of UTF-16 code units.
std::string WideToUtf8(std::wstring_view wide);

} // namespace platform
