// The form encoder, the header line list and the line encoder.
#include <gtest/gtest.h>

#include <string>

#include "framework/Classes.h"
#include "netcomp/NMExtstr.h"
#include "netcomp/NMURL.h"
#include "netcomp/NMUUE.h"

namespace {

std::string UrlEncode(const std::string& s) {
  TNMURL url(nullptr);
  url.InputString = s;
  return url.Encode();
}

TEST(NMURLEncode, SpaceLettersDigitsAndHighBytes) {
  EXPECT_EQ(UrlEncode(" "), "+");
  const std::string alnum = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  EXPECT_EQ(UrlEncode(alnum), alnum);
  EXPECT_EQ(UrlEncode("\xE9"), "%E9");
  EXPECT_EQ(UrlEncode(std::string("a\0b", 3)), "a%00b");
}

TEST(NMURLEncode, EscapesEveryPunctuationMark) {
  EXPECT_EQ(UrlEncode("-._~*/=&"), "%2D%2E%5F%7E%2A%2F%3D%26");
  EXPECT_EQ(UrlEncode("a b&c=d\r\n"), "a+b%26c%3Dd%0D%0A");
  EXPECT_EQ(UrlEncode("\x7F\x80\xFF"), "%7F%80%FF");
}

TEST(NMURLEncode, EveryByteHasExactlyOneForm) {
  std::string all;
  for (int b = 0; b < 256; ++b)
    all += static_cast<char>(b);
  std::string out = UrlEncode(all);
  // 62 alphanumerics stay, the space becomes one character, 193 bytes become three.
  EXPECT_EQ(out.size(), 62u + 1u + 193u * 3u);
  EXPECT_EQ(out.substr(0, 6), "%00%01");
}

TEST(ExStringList, SetHeaderAppendsReplacesAndRemoves) {
  TExStringList list;
  list.Add("GET http://example.org/ HTTP/1.0");
  list.SetHeader("Host", "a.example");
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list[1], "Host: a.example");

  list.SetHeader("Host", "b.example");
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list[1], "Host: b.example");

  list.SetHeader("Accept", ""); // nothing to remove
  EXPECT_EQ(list.Count(), 2);
  list.SetHeader("Host", "");
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list[0], "GET http://example.org/ HTTP/1.0");
}

TEST(ExStringList, NamesMatchWithoutRegardToCase) {
  TExStringList list;
  list.Add("no colon here");
  list.Add("host: lower.example");
  list.Add("Accept: */*");
  EXPECT_EQ(list.IndexOfHeader("Host"), 1);
  EXPECT_EQ(list.IndexOfHeader("ACCEPT"), 2);
  EXPECT_EQ(list.IndexOfHeader("no colon here"), -1);
  EXPECT_EQ(list.IndexOfHeader("Referer"), -1);

  list.SetHeader("HOST", "upper.example");
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(list[1], "HOST: upper.example");
}

TEST(ExStringList, RequestLineWithAbsoluteUrlIsNoHeader) {
  TExStringList list;
  list.Add("GET http://h/ HTTP/1.0");
  EXPECT_EQ(list.IndexOfHeader("GET http"), 0); // its "name" holds the method word
  EXPECT_EQ(list.IndexOfHeader("http"), -1);
  list.SetHeader("http", "x");
  EXPECT_EQ(list.Count(), 2);
}

TEST(ExStringList, SortedListBisectsAndKeepsOrder) {
  TExStringList list;
  EXPECT_EQ(list.IndexOfHeader("A"), -1);
  list.SetSorted(true);
  for (const char* line : {"Delta: 4", "alpha: 1", "Charlie: 3", "Bravo: 2", "Echo: 5"})
    list.Add(line);
  EXPECT_EQ(list.IndexOfHeader("ALPHA"), 0);
  EXPECT_EQ(list.IndexOfHeader("charlie"), 2);
  EXPECT_EQ(list.IndexOfHeader("Echo"), 4);
  EXPECT_EQ(list.IndexOfHeader("Foxtrot"), -1);
  EXPECT_EQ(list.IndexOfHeader("Aardvark"), -1);

  list.SetHeader("Charlie", "33");
  list.SetHeader("Able", "0");
  ASSERT_EQ(list.Count(), 6);
  EXPECT_EQ(list[0], "Able: 0");
  EXPECT_EQ(list[3], "Charlie: 33");
  list.SetHeader("Delta", "");
  EXPECT_EQ(list.IndexOfHeader("Delta"), -1);
  EXPECT_EQ(list.Count(), 5);
}

std::string LineEncode(const std::string& input, UUMethods method, int* begins = nullptr,
                       int* ends = nullptr) {
  TMemoryStream in, out;
  in.LoadFromString(input);
  in.Seek(0, soEnd); // Encode must rewind its input itself
  TNMUUProcessor uu(nullptr);
  uu.Method = method;
  uu.InputStream = &in;
  uu.OutputStream = &out;
  if (begins) uu.OnBeginEncode = [begins](TObject*) { ++*begins; };
  if (ends) uu.OnEndEncode = [ends](TObject*) { ++*ends; };
  uu.Encode();
  EXPECT_EQ(out.Position(), 0);
  return out.Data();
}

TEST(NMUUProcessor, MimeMatchesStandardBase64) {
  EXPECT_EQ(LineEncode("", uuMime), "");
  EXPECT_EQ(LineEncode("M", uuMime), "TQ==\r\n");
  EXPECT_EQ(LineEncode("Ma", uuMime), "TWE=\r\n");
  EXPECT_EQ(LineEncode("Man", uuMime), "TWFu\r\n");
  EXPECT_EQ(LineEncode("Aladdin:open sesame", uuMime), "QWxhZGRpbjpvcGVuIHNlc2FtZQ==\r\n");
  EXPECT_EQ(LineEncode("\xFF\xFE\xFD", uuMime), "//79\r\n");
}

TEST(NMUUProcessor, MimeBreaksLinesAfter45Bytes) {
  std::string out45 = LineEncode(std::string(45, 'a'), uuMime);
  ASSERT_EQ(out45.size(), 62u);
  EXPECT_EQ(out45.substr(60), "\r\n");
  EXPECT_EQ(out45.find('\r'), 60u);

  std::string out46 = LineEncode(std::string(46, 'a'), uuMime);
  EXPECT_EQ(out46.substr(0, 62), out45);
  EXPECT_EQ(out46.substr(62), "YQ==\r\n");
}

TEST(NMUUProcessor, UuencodeLinesAndClosingLine) {
  int begins = 0, ends = 0;
  std::string out = LineEncode(std::string(45, 'a'), uuCode, &begins, &ends);
  EXPECT_EQ(begins, 1);
  EXPECT_EQ(ends, 1);
  ASSERT_EQ(out.size(), 1u + 60u + 2u + 3u);
  EXPECT_EQ(out[0], 'M');
  EXPECT_EQ(out.substr(61), "\r\n`\r\n");

  // "Cat" is the classic example; a zero value becomes the grave accent, not a space.
  EXPECT_EQ(LineEncode("Cat", uuCode), "#0V%T\r\n`\r\n");
  EXPECT_EQ(LineEncode(std::string(3, '\0'), uuCode), "#````\r\n`\r\n");
  // Lines are not filled up to four characters.
  EXPECT_EQ(LineEncode("C", uuCode), "!0P\r\n`\r\n");
  EXPECT_EQ(LineEncode("", uuCode), "`\r\n");
}

TEST(NMUUProcessor, AppendsToOutputAndSignalsEndOnFailure) {
  TMemoryStream in, out;
  in.LoadFromString("Man");
  out.LoadFromString("prefix\r\n");
  TNMUUProcessor uu(nullptr);
  uu.InputStream = &in;
  uu.OutputStream = &out;
  uu.Encode();
  EXPECT_EQ(out.Data(), "prefix\r\nTWFu\r\n");

  // A stream that fails to read still gets the end event and a rewound output.
  struct FailingStream : TMemoryStream {
    int64_t Read(void*, int64_t) override { throw EReadError("Stream read error"); }
  } bad;
  bad.LoadFromString("xyz");
  int ends = 0;
  TMemoryStream out2;
  out2.LoadFromString("abc");
  out2.Seek(0, soEnd);
  uu.InputStream = &bad;
  uu.OutputStream = &out2;
  uu.OnEndEncode = [&](TObject*) { ++ends; };
  EXPECT_THROW(uu.Encode(), EReadError);
  EXPECT_EQ(ends, 1);
  EXPECT_EQ(out2.Position(), 0);
}

} // namespace
