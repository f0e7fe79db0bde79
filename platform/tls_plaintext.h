// The plaintext a TLS engine has decrypted and the socket component has not yet read; shared by
// both engines so that both hand it out the same way.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

class TlsPlaintext {
public:
  void Append(const char* data, size_t size);
  // Moves up to size bytes into data; 0 when none is held.
  size_t Read(char* data, size_t size);
  size_t Pending() const { return held_.size() - taken_; }

private:
  std::string held_; // read from offset taken_ on
  size_t taken_ = 0;
};

} // namespace platform
