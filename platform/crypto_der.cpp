#include "platform/crypto_der.h"

#include <cstdint>

namespace platform {

namespace {

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Reads one INTEGER of at most 32 significant bytes at der[at], moving at past it.
std::optional<std::string> Integer(const std::string& der, size_t& at) {
  if (at + 2 > der.size() || der[at] != 0x02) return std::nullopt;
  size_t length = static_cast<unsigned char>(der[at + 1]);
  at += 2;
  if (length == 0 || length > 33 || at + length > der.size()) return std::nullopt;
  std::string value = der.substr(at, length);
  at += length;
  if (static_cast<unsigned char>(value[0]) & 0x80) return std::nullopt; // negative
  size_t zeros = 0;
  while (zeros + 1 < value.size() && value[zeros] == '\0')
    ++zeros;
  value.erase(0, zeros);
  if (value.size() > 32) return std::nullopt;
  return std::string(32 - value.size(), '\0') + value;
}

} // namespace

std::optional<std::string> PemBlock(const std::string& pem, const std::string& label) {
  const std::string begin = "-----BEGIN " + label + "-----";
  const std::string end = "-----END " + label + "-----";
  size_t from = pem.find(begin);
  if (from == std::string::npos) return std::nullopt;
  from += begin.size();
  size_t to = pem.find(end, from);
  if (to == std::string::npos) return std::nullopt;

  std::string bytes;
  uint32_t bits = 0;
  int count = 0;
  bool padded = false;
  for (size_t i = from; i < to; ++i) {
    char c = pem[i];
    if (c == '\r' || c == '\n' || c == ' ' || c == '\t') continue;
    if (c == '=') {
      padded = true;
      continue;
    }
    int v = Base64Value(c);
    if (v < 0 || padded) return std::nullopt;
    bits = (bits << 6) | static_cast<uint32_t>(v);
    if (++count % 4 == 0) {
      bytes += static_cast<char>(bits >> 16);
      bytes += static_cast<char>(bits >> 8);
      bytes += static_cast<char>(bits);
      bits = 0;
    }
  }
  switch (count % 4) {
  case 0:
    break;
  case 2:
    bytes += static_cast<char>(bits >> 4);
    break;
  case 3:
    bytes += static_cast<char>(bits >> 10);
    bytes += static_cast<char>(bits >> 2);
    break;
  default:
    return std::nullopt;
  }
  return bytes;
}

std::optional<std::string> P256PublicPoint(const std::string& spki) {
  // SEQUENCE { SEQUENCE { id-ecPublicKey, prime256v1 }, BIT STRING { 0 unused bits, 04 X Y } }:
  // for this one curve the whole encoding is fixed but for the point.
  static const unsigned char prefix[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48,
                                         0xce, 0x3d, 0x02, 0x01, 0x06, 0x08, 0x2a, 0x86, 0x48,
                                         0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04};
  if (spki.size() != sizeof prefix + 64) return std::nullopt;
  if (spki.compare(0, sizeof prefix, reinterpret_cast<const char*>(prefix), sizeof prefix) != 0)
    return std::nullopt;
  return spki.substr(sizeof prefix);
}

std::optional<std::string> P256RawSignature(const std::string& der) {
  // At most 2 + 2 * (2 + 33) bytes: the length always fits the short form.
  if (der.size() < 2 || der[0] != 0x30) return std::nullopt;
  size_t length = static_cast<unsigned char>(der[1]);
  if (length != der.size() - 2) return std::nullopt;
  size_t at = 2;
  auto r = Integer(der, at);
  if (!r) return std::nullopt;
  auto s = Integer(der, at);
  if (!s || at != der.size()) return std::nullopt;
  return *r + *s;
}

} // namespace platform
