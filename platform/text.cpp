#include "platform/text.h"

namespace platform {

namespace {

constexpr char32_t Replacement = 0xFFFD;

// The code point that starts at utf8[at], advancing at; Replacement for a malformed sequence,
// which then takes one byte.
char32_t DecodeOne(std::string_view utf8, size_t& at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(utf8[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) {
    ++at;
    return lead;
  }
  size_t length = 0;
  char32_t cp = 0, min = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, cp = lead & 0x1F, min = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, cp = lead & 0x0F, min = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, cp = lead & 0x07, min = 0x10000;
  } else {
    ++at;
    return Replacement;
  }
  if (at + length > utf8.size()) {
    ++at;
    return Replacement;
  }
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) {
      ++at;
      return Replacement;
    }
    cp = (cp << 6) | (byte(at + i) & 0x3F);
  }
  // Overlong forms and values beyond Unicode are refused; surrogates are let through so that a
  // name with an unpaired one comes back as it went.
  if (cp < min || cp > 0x10FFFF) {
    ++at;
    return Replacement;
  }
  at += length;
  return cp;
}

void Encode(char32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Surrogates decoded on their own stay single units: a high one followed by a low one is a pair
// in UTF-16 again.
bool IsHigh(char32_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLow(char32_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

} // namespace

std::wstring Utf8ToWide(std::string_view utf8) {
  std::wstring out;
  out.reserve(utf8.size());
  for (size_t at = 0; at < utf8.size();) {
    char32_t cp = DecodeOne(utf8, at);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<wchar_t>(0xD800 + (cp >> 10));
      out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<wchar_t>(cp);
    }
  }
  return out;
}

std::string WideToUtf8(std::wstring_view wide) {
  std::string out;
  out.reserve(wide.size());
  for (size_t i = 0; i < wide.size(); ++i) {
    char32_t unit = static_cast<char32_t>(wide[i]) & 0xFFFF;
    if (IsHigh(unit) && i + 1 < wide.size() && IsLow(static_cast<char32_t>(wide[i + 1]) & 0xFFFF)) {
      unit = 0x10000 + ((unit - 0xD800) << 10) +
             ((static_cast<char32_t>(wide[i + 1]) & 0xFFFF) - 0xDC00);
      ++i;
    }
    Encode(unit, out);
  }
  return out;
}

} // namespace platform
