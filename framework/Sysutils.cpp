#include "framework/Sysutils.h"

#include "platform/winapi_base.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <vector>

EWriteError::EWriteError(std::string message)
    : EStreamError(std::move(message)), SystemError(win::GetLastError()) {}

std::string Format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  std::string out;
  if (n > 0) {
    std::vector<char> buf(static_cast<size_t>(n) + 1);
    std::vsnprintf(buf.data(), buf.size(), fmt, args);
    out.assign(buf.data(), static_cast<size_t>(n));
  }
  va_end(args);
  return out;
}

std::string IntToStr(long long value) {
  return std::to_string(value);
}

int32_t StrToInt(const std::string& text) {
  auto fail = [&]() -> int32_t {
    throw EConvertError(Format("'%s' is not a valid integer value", text.c_str()));
  };
  size_t i = 0;
  while (i < text.size() && text[i] == ' ')
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= text.size()) return fail();
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    int digit;
    if (std::isdigit(c))
      digit = c - '0';
    else if (base == 16 && std::isxdigit(c))
      digit = std::tolower(c) - 'a' + 10;
    else
      return fail();
    value = value * base + digit;
    if (value > int64_t(0xFFFFFFFF)) return fail();
  }
  if (negative) value = -value;
  if (base == 10 && (value > INT32_MAX || value < INT32_MIN)) return fail();
  return static_cast<int32_t>(static_cast<uint32_t>(value));
}

std::string UpperCase(const std::string& s) {
  std::string r = s;
  for (char& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return r;
}

std::string LowerCase(const std::string& s) {
  std::string r = s;
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

int AnsiCompareText(const std::string& a, const std::string& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    int ca = std::tolower(static_cast<unsigned char>(a[i]));
    int cb = std::tolower(static_cast<unsigned char>(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool SameText(const std::string& a, const std::string& b) {
  return AnsiCompareText(a, b) == 0;
}

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ')
    ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ')
    --e;
  return s.substr(b, e - b);
}

std::string GetEnvVariable(const std::string& name) {
  win::DWORD size = win::GetEnvironmentVariableA(name.c_str(), nullptr, 0);
  // The variable can change between the calls; ask again until the value fits.
  while (size > 0) {
    std::vector<char> buf(size);
    win::DWORD len = win::GetEnvironmentVariableA(name.c_str(), buf.data(), size);
    if (len < size) return std::string(buf.data(), len);
    size = len;
  }
  return {};
}
