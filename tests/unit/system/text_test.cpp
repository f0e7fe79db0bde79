// UTF-8 <-> UTF-16 at the system boundary.
#include "platform/text.h"

#include <gtest/gtest.h>

namespace {

std::wstring Units(std::initializer_list<unsigned> units) {
  std::wstring out;
  for (unsigned u : units)
    out += static_cast<wchar_t>(u);
  return out;
}

} // namespace

TEST(TextConversion, RoundTripsEveryLength) {
  struct Case {
    const char* utf8;
    std::wstring wide;
  } cases[] = {
      {"", Units({})},
      {"C:\\users\\", Units({'C', ':', '\\', 'u', 's', 'e', 'r', 's', '\\'})},
      // Two-byte letters of a Polish name, a three-byte one, and one outside the BMP (a pair).
      {"\xC5\x81ukasz \xC5\xBB\xC3\xB3\xC5\x82\xC4\x87",
       Units({0x141, 'u', 'k', 'a', 's', 'z', ' ', 0x17B, 0xF3, 0x142, 0x107})},
      {"\xE2\x82\xAC", Units({0x20AC})},
      {"\xF0\x9F\x98\x80", Units({0xD83D, 0xDE00})},
      // An unpaired surrogate, legal in a Windows file name, comes back unchanged.
      {"a\xED\xA0\x80z", Units({'a', 0xD800, 'z'})},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::Utf8ToWide(c.utf8), c.wide) << c.utf8;
    EXPECT_EQ(platform::WideToUtf8(c.wide), c.utf8) << c.utf8;
  }
}

TEST(TextConversion, MalformedUtf8BecomesReplacementCharacters) {
  const struct {
    const char* utf8;
    std::wstring wide;
  } cases[] = {
      {"a\xFFz", Units({'a', 0xFFFD, 'z'})}, // no lead byte
      {"\xC5", Units({0xFFFD})},             // cut short at the end
      {"\xC5z", Units({0xFFFD, 'z'})},       // not followed by a continuation
      {"\xC0\xAF", Units({0xFFFD, 0xFFFD})}, // overlong "/"
      {"\xF4\x90\x80\x80", Units({0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD})}, // beyond U+10FFFF
  };
  for (const auto& c : cases)
    EXPECT_EQ(platform::Utf8ToWide(c.utf8), c.wide);
}
