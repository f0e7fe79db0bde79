// The publisher's signed list of downloads: its format, the checks a list must pass before the
// installer trusts it, and the serial of the newest list accepted so far.
//
// The list is text, one item a line, each line ended by LF:
//   serial N                        a decimal number; a newer release has a higher one
//   expires YYYY-MM-DDTHH:MM:SSZ    UTC; after that the list is refused
//   SHA256 SIZE NAME                64 lower-case hex digits, the size in bytes, the file name
// Serial and expiry appear once each. Anything else, a name listed twice or a name with a slash,
// backslash or control character refuses the whole list.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct TListedFile {
  int64_t Size = 0;
  std::string Sha256; // lower-case hex
};

class TSignedList {
public:
  // A signature longer than this is refused unread: a DER P-256 signature has at most 72 bytes.
  static constexpr size_t MaxSignatureBytes = 256;

  enum TVerdict {
    slAccepted,
    slUnverified, // not signed by any of the keys, or no signature
    slMalformed,  // the signature is good but the text breaks the format
    slExpired,
    slOlder, // its serial is below the newest accepted or the build's own
  };

  // Reads text in the format above; false (and this list left empty) when it breaks it.
  bool Parse(const std::string& text);

  // Verifies signature over text with any of the PEM public keys in keysPem, parses it and checks
  // it against the time now (seconds since 1970, UTC) and the lowest serial it may carry. On
  // slAccepted this list holds it; otherwise it is empty.
  TVerdict Check(const std::string& text, const std::string& signature, const std::string& keysPem,
                 int64_t now, int64_t lowestSerial);

  // The entry for name, or nullptr when the list does not name it.
  const TListedFile* Find(const std::string& name) const;

  int64_t Serial = 0;
  int64_t Expires = 0; // seconds since 1970, UTC
  std::map<std::string, TListedFile> Files;
};

// "YYYY-MM-DDTHH:MM:SSZ" as seconds since 1970; false when text is not exactly such a time, or
// one before 1970.
bool ParseUtcTime(const std::string& text, int64_t& seconds);

// Every PEM "PUBLIC KEY" block in pem, each with its BEGIN and END lines.
std::vector<std::string> PublicKeyBlocks(const std::string& pem);

// The serial of the newest list accepted, kept in the file at path; 0 when there is none or it
// cannot be read.
int64_t ReadKeptSerial(const std::string& path);
// Records serial at path (replacing the file whole, so that a cut never leaves half a number);
// false when it cannot be written.
bool KeepSerial(const std::string& path, int64_t serial);
