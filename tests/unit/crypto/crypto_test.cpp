// File hashes, P-256 signature checks, and the key and signature encodings CNG needs.
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/ecdsa.h>

#include <string>

#include "platform/crypto.h"
#include "platform/crypto_der.h"
#include "support/signing.h"
#include "support/testenv.h"

namespace {

class Crypto : public ::testing::Test {
protected:
  testenv::TempDir dir;
  testsign::Key key = testsign::MakeKey(dir.path(), "publisher");
};

TEST_F(Crypto, FileSha256) {
  testenv::WriteFile(dir.file("abc"), "abc");
  EXPECT_EQ(platform::FileSha256(dir.file("abc")),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  testenv::WriteFile(dir.file("empty"), "");
  EXPECT_EQ(platform::FileSha256(dir.file("empty")),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_FALSE(platform::FileSha256(dir.file("missing")));
}

TEST_F(Crypto, SignatureChecks) {
  const std::string list = "0000  a.exe\n";
  const std::string signature = testsign::Sign(key, list);
  EXPECT_TRUE(platform::VerifyP256Signature(key.publicPem, list, signature));

  const testsign::Key other = testsign::MakeKey(dir.path(), "other");
  const testsign::Key p384 = testsign::MakeKey(dir.path(), "p384", "secp384r1");
  std::string flipped = signature;
  flipped[flipped.size() - 3] ^= 1;
  struct Case {
    const char* why;
    std::string pem, data, signature;
  } refused[] = {
      {"another key", other.publicPem, list, signature},
      {"a changed list", key.publicPem, "0001  a.exe\n", signature},
      {"a changed signature", key.publicPem, list, flipped},
      {"a signature over another list", key.publicPem, list, testsign::Sign(key, "x")},
      {"no signature", key.publicPem, list, ""},
      {"a P-384 key and signature", p384.publicPem, list, testsign::Sign(p384, list)},
      {"no key", "", list, signature},
  };
  for (const auto& c : refused)
    EXPECT_FALSE(platform::VerifyP256Signature(c.pem, c.data, c.signature)) << c.why;
}

// What the Windows half hands to CNG must be what OpenSSL reads from the same encodings.
TEST_F(Crypto, EncodingsMatchOpenSsl) {
  auto spki = platform::PemBlock(key.publicPem, "PUBLIC KEY");
  ASSERT_TRUE(spki);
  auto point = platform::P256PublicPoint(*spki);
  ASSERT_TRUE(point);
  EXPECT_EQ(*point, spki->substr(spki->size() - 64));
  EXPECT_FALSE(platform::P256PublicPoint(spki->substr(1)));
  auto p384 = testsign::MakeKey(dir.path(), "p384", "secp384r1");
  EXPECT_FALSE(platform::P256PublicPoint(*platform::PemBlock(p384.publicPem, "PUBLIC KEY")));

  for (int i = 0; i < 8; ++i) {
    const std::string der = testsign::Sign(key, "list " + std::to_string(i));
    auto raw = platform::P256RawSignature(der);
    ASSERT_TRUE(raw);
    auto* p = reinterpret_cast<const unsigned char*>(der.data());
    ECDSA_SIG* sig = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(der.size()));
    ASSERT_NE(sig, nullptr);
    unsigned char rs[64];
    BN_bn2binpad(ECDSA_SIG_get0_r(sig), rs, 32);
    BN_bn2binpad(ECDSA_SIG_get0_s(sig), rs + 32, 32);
    ECDSA_SIG_free(sig);
    EXPECT_EQ(*raw, std::string(reinterpret_cast<char*>(rs), 64));
  }
}

TEST(CryptoDer, SignatureEdgeCases) {
  const std::string s32(32, '\x11');
  auto der = [](const std::string& body) {
    return "\x30" + std::string(1, char(body.size())) + body;
  };
  auto integer = [](const std::string& v) { return "\x02" + std::string(1, char(v.size())) + v; };
  // Short values are left-padded; a leading zero that only keeps the sign is dropped.
  EXPECT_EQ(platform::P256RawSignature(
                der(integer("\x05") + integer(std::string("\x00\x80", 2) + std::string(31, 'x')))),
            std::string(31, '\0') + "\x05" + "\x80" + std::string(31, 'x'));
  const std::string refused[] = {
      der(integer(s32)),                                       // no s
      der(integer(s32) + integer(s32) + std::string(1, '\0')), // trailing byte
      der(integer(std::string(33, '\x11')) + integer(s32)),    // r beyond 256 bits
      der(integer("\x80") + integer(s32)),                     // negative r
      der(integer("") + integer(s32)),                         // empty r
      "\x31" + der(integer(s32) + integer(s32)).substr(1),     // not a SEQUENCE
      der(integer(s32) + integer(s32)).substr(0, 40),          // cut short
  };
  for (size_t i = 0; i < std::size(refused); ++i)
    EXPECT_FALSE(platform::P256RawSignature(refused[i])) << "case " << i;
  EXPECT_FALSE(platform::PemBlock("-----BEGIN PUBLIC KEY-----\nab!d\n-----END PUBLIC KEY-----",
                                  "PUBLIC KEY"));
  EXPECT_EQ(platform::PemBlock("-----BEGIN PUBLIC KEY-----\nYWJj\nZA==\n-----END PUBLIC KEY-----",
                               "PUBLIC KEY"),
            "abcd");
}

} // namespace
