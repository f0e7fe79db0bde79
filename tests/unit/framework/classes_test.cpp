#include "framework/Classes.h"

#include <gtest/gtest.h>

#include "support/testenv.h"

TEST(StringList, TextJoinsWithCrLfAndSplitsAnyLineBreak) {
  TStringList list;
  list.Add("GET / HTTP/1.0");
  list.Add("");
  EXPECT_EQ(list.Text(), "GET / HTTP/1.0\r\n\r\n");
  list.SetText("a\r\nb\nc\rd\r\n");
  ASSERT_EQ(list.Count(), 4);
  EXPECT_EQ(list[3], "d");
}

TEST(StringList, BadIndexRaisesAndSortedListRefusesPut) {
  TStringList list;
  EXPECT_THROW(list.Delete(0), EStringListError);
  list.Add("b");
  list.Add("A");
  list.SetSorted(true);
  EXPECT_EQ(list[0], "A");
  EXPECT_EQ(list.Add("c"), 2);
  EXPECT_THROW(list.Put(0, "x"), EStringListError);
  EXPECT_EQ(list.IndexOf("C"), 2);
}

TEST(Sysutils, StrToIntAcceptsIntegersAndNamesBadText) {
  EXPECT_EQ(StrToInt("8080"), 8080);
  EXPECT_EQ(StrToInt(" -12"), -12);
  EXPECT_EQ(StrToInt("$ff"), 255);
  try {
    StrToInt("80a");
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message, "'80a' is not a valid integer value");
  }
  EXPECT_THROW(StrToInt(""), EConvertError);
  EXPECT_THROW(StrToInt("99999999999"), EConvertError);
}

TEST(FileStream, CreateOpenAndErrorsNameTheFile) {
  testenv::TempDir dir;
  {
    TFileStream out(dir.file("a.bin"), fmCreate);
    out.WriteBuffer("hello", 5);
  }
  TFileStream in(dir.file("a.bin"), fmOpenRead);
  EXPECT_EQ(in.Size(), 5);
  char buf[5];
  in.ReadBuffer(buf, 5);
  EXPECT_EQ(std::string(buf, 5), "hello");
  EXPECT_THROW(in.ReadBuffer(buf, 1), EReadError);

  std::string missing = dir.file("no/such/file");
  try {
    TFileStream f(missing, fmCreate);
    FAIL();
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Message, "Cannot create file " + missing);
  }
  try {
    TFileStream f(missing, fmOpenRead);
    FAIL();
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Message, "Cannot open file " + missing);
  }
}

// A full disk's reason goes with the error, in Windows' terms (ERROR_DISK_FULL). A full device
// stands in for the disk: Linux's, and under Wine the same through drive Z:.
TEST(FileStream, AFullDiskGivesItsReasonWithTheError) {
#ifdef _WIN32
  if (testenv::WineVersion().empty()) GTEST_SKIP() << "Windows has no full device to write to";
  const std::string full = "Z:\\dev\\full";
#else
  const std::string full = "/dev/full";
#endif
  TFileStream file(full, fmOpenReadWrite);
  file.WriteBehind();
  file.WriteBuffer("block", 5);
  try {
    file.Close();
    FAIL() << "no exception";
  } catch (const EWriteError& e) {
    EXPECT_EQ(e.Message, "Cannot write file " + full);
    EXPECT_EQ(e.SystemError, 112u);
  }
}

TEST(MemoryStream, CopyFromAndSeek) {
  TMemoryStream a, b;
  a.WriteBuffer("abcdef", 6);
  b.CopyFrom(a, 0);
  EXPECT_EQ(b.Data(), "abcdef");
  b.SetPosition(4);
  char c[2];
  EXPECT_EQ(b.Read(c, 10), 2);
  EXPECT_EQ(std::string(c, 2), "ef");
}
