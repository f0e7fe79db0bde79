// The key and signature encodings that OpenSSL writes, turned into the raw forms CNG takes.
#pragma once

#include <optional>
#include <string>

namespace platform {

// The bytes of the first PEM block labelled label ("PUBLIC KEY"), or nothing when there is none
// or its Base64 is broken.
std::optional<std::string> PemBlock(const std::string& pem, const std::string& label);

// The 64 bytes X || Y of a P-256 public key in a DER SubjectPublicKeyInfo (uncompressed point),
// or nothing for any other key.
std::optional<std::string> P256PublicPoint(const std::string& spki);

// A DER ECDSA-Sig-Value (SEQUENCE of the INTEGERs r and s) as the 64 bytes r || s, each
// big-endian and left-padded to 32 bytes, or nothing when it is no such value for P-256.
std::optional<std::string> P256RawSignature(const std::string& der);

} // namespace platform
