// Signature, expiry and serial checks of the signed list, with keys and signatures made by the
// openssl command, a Linux tool here.
#include <gtest/gtest.h>

#include "installer/SignedList.h"
#include "support/signing.h"
#include "support/testenv.h"

namespace {

TEST(SignedList, Checks) {
  testenv::TempDir dir;
  const testsign::Key first = testsign::MakeKey(dir.path(), "first");
  const testsign::Key second = testsign::MakeKey(dir.path(), "second");
  const testsign::Key foreign = testsign::MakeKey(dir.path(), "foreign");
  const std::string keys = first.publicPem + second.publicPem;
  const std::string text =
      "serial 100\nexpires 2030-01-01T00:00:00Z\n" + std::string(64, 'a') + " 3 a.exe\n";
  const int64_t before = 1893455999, expiry = 1893456000;
  const std::string good = testsign::Sign(first, text);
  struct Case {
    const char* why;
    std::string text, signature, keys;
    int64_t now, lowest;
    TSignedList::TVerdict verdict;
  } cases[] = {
      {"first key", text, good, keys, before, 0, TSignedList::slAccepted},
      {"second key", text, testsign::Sign(second, text), keys, before, 0, TSignedList::slAccepted},
      {"a foreign key", text, testsign::Sign(foreign, text), keys, before, 0,
       TSignedList::slUnverified},
      {"the key the build no longer has", text, good, second.publicPem, before, 0,
       TSignedList::slUnverified},
      {"another text", text + "x", good, keys, before, 0, TSignedList::slUnverified},
      {"a signature over 256 bytes", text, good + std::string(200, '\0'), keys, before, 0,
       TSignedList::slUnverified},
      {"expired", text, good, keys, expiry, 0, TSignedList::slExpired},
      {"older", text, good, keys, before, 101, TSignedList::slOlder},
      {"equal", text, good, keys, before, 100, TSignedList::slAccepted},
      {"signed but malformed", text + "x\n", testsign::Sign(first, text + "x\n"), keys, before, 0,
       TSignedList::slMalformed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    TSignedList list;
    EXPECT_EQ(list.Check(c.text, c.signature, c.keys, c.now, c.lowest), c.verdict);
    EXPECT_EQ(list.Find("a.exe") != nullptr, c.verdict == TSignedList::slAccepted);
  }
}

} // namespace
