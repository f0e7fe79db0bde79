// Hashes and signatures from the system's own crypto library: OpenSSL's libcrypto on Linux,
// CNG (bcrypt) on Windows.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

namespace platform {

// The SHA-256 of the file's bytes as 64 lower-case hex digits, or nothing when it cannot be read.
// The path is Windows-style or native (see paths.h).
std::optional<std::string> FileSha256(const std::string& path);

// SHA-256 fed piece by piece, for data that is hashed while it passes by.
class Sha256Stream {
public:
  Sha256Stream();
  ~Sha256Stream();
  Sha256Stream(const Sha256Stream&) = delete;
  Sha256Stream& operator=(const Sha256Stream&) = delete;

  void Update(const void* data, size_t size);
  // The digest of all that was fed, as 64 lower-case hex digits; nothing when the library failed
  // at any step. Ends the stream: later calls add nothing.
  std::optional<std::string> Finish();

private:
  struct State;
  std::unique_ptr<State> state_;
};

// Whether signature (DER-encoded ECDSA, as `openssl dgst -sha256 -sign` writes it) is a valid
// signature of the SHA-256 of data by the ECDSA P-256 key in publicKeyPem (a PEM "PUBLIC KEY",
// SubjectPublicKeyInfo). A key that is no P-256 key, or unreadable input, verifies nothing.
bool VerifyP256Signature(const std::string& publicKeyPem, const std::string& data,
                         const std::string& signature);

} // namespace platform
