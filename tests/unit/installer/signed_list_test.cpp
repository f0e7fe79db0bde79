// The signed list's format, read strictly, and the record of the newest serial accepted.
#include <gtest/gtest.h>

#include "installer/SignedList.h"
#include "support/testenv.h"

namespace {

const std::string kHash = std::string(64, 'a');
const std::string kHead = "serial 5\nexpires 2030-01-01T00:00:00Z\n";

TEST(SignedList, ParseIsStrict) {
  struct Case {
    const char* why;
    std::string text;
    bool ok;
  } cases[] = {
      {"good", kHead + kHash + " 3 a.exe\n" + kHash + " 0 b c.txt\n", true},
      {"expiry first", "expires 2030-01-01T00:00:00Z\nserial 5\n" + kHash + " 3 a.exe\n", true},
      {"a name listed twice", kHead + kHash + " 3 a.exe\n" + kHash + " 4 a.exe\n", false},
      {"no serial", "expires 2030-01-01T00:00:00Z\n" + kHash + " 3 a.exe\n", false},
      {"no expiry", "serial 5\n" + kHash + " 3 a.exe\n", false},
      {"serial twice", kHead + "serial 6\n" + kHash + " 3 a.exe\n", false},
      {"a line that is no entry", kHead + "hello\n", false},
      {"an empty line", kHead + "\n" + kHash + " 3 a.exe\n", false},
      {"sha256sum's own lines", kHead + kHash + "  a.exe\n", false},
      {"no size", kHead + kHash + " a.exe\n", false},
      {"a signed size", kHead + kHash + " +3 a.exe\n", false},
      {"a size past 64 bits", kHead + kHash + " 9999999999999999999 a.exe\n", false},
      {"upper-case hash", kHead + std::string(64, 'A') + " 3 a.exe\n", false},
      {"a short hash", kHead + std::string(63, 'a') + " 3 a.exe\n", false},
      {"a path", kHead + kHash + " 3 ..\\a.exe\n", false},
      {"carriage returns", "serial 5\r\nexpires 2030-01-01T00:00:00Z\r\n" + kHash + " 3 a.exe\r\n",
       false},
      {"no final line break", kHead + kHash + " 3 a.exe", false},
      {"a serial that is no number", "serial 5x\nexpires 2030-01-01T00:00:00Z\n", false},
      {"a local time", "serial 5\nexpires 2030-01-01T00:00:00\n", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    TSignedList list;
    EXPECT_EQ(list.Parse(c.text), c.ok);
    EXPECT_EQ(list.Files.empty(), !c.ok);
  }
  TSignedList list;
  ASSERT_TRUE(list.Parse(cases[0].text));
  EXPECT_EQ(list.Serial, 5);
  EXPECT_EQ(list.Expires, 1893456000);
  ASSERT_NE(list.Find("b c.txt"), nullptr);
  EXPECT_EQ(list.Find("a.exe")->Size, 3);
  EXPECT_EQ(list.Find("a.exe")->Sha256, kHash);
  EXPECT_EQ(list.Find("c.exe"), nullptr);
}

TEST(SignedList, UtcTimes) {
  const struct {
    const char* text;
    bool ok;
    int64_t seconds;
  } cases[] = {
      {"1970-01-01T00:00:00Z", true, 0},          {"2000-02-29T12:34:56Z", true, 951827696},
      {"2026-12-31T23:59:59Z", true, 1798761599}, {"2001-02-29T00:00:00Z", false, 0},
      {"1969-12-31T23:59:59Z", false, 0},         {"2030-13-01T00:00:00Z", false, 0},
      {"2030-01-01T24:00:00Z", false, 0},         {"2030-01-01T00:00:00z", false, 0},
      {"2030-1-01T00:00:00Z", false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    int64_t seconds = 0;
    EXPECT_EQ(ParseUtcTime(c.text, seconds), c.ok);
    if (c.ok) {
      EXPECT_EQ(seconds, c.seconds);
    }
  }
}

TEST(SignedList, KeptSerial) {
  testenv::TempDir dir;
  const std::string path = dir.file("Corvane Setup/list-serial.txt");
  EXPECT_EQ(ReadKeptSerial(path), 0);
  ASSERT_TRUE(KeepSerial(path, 1765000000));
  EXPECT_EQ(ReadKeptSerial(path), 1765000000);
  ASSERT_TRUE(KeepSerial(path, 7));
  EXPECT_EQ(ReadKeptSerial(path), 7);
  testenv::WriteFile(path, "12 and more\n");
  EXPECT_EQ(ReadKeptSerial(path), 0);
}

} // namespace
