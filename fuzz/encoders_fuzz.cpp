// The form encoder and the Base64/uuencode line encoder on any bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "netcomp/NMURL.h"
#include "netcomp/NMUUE.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  TNMURL form(nullptr);
  form.InputString = bytes;
  std::string encoded = form.Encode();
  for (char c : encoded)
    if (c == ' ' || c == '&' || c == '=' || static_cast<unsigned char>(c) >= 127) __builtin_trap();

  for (UUMethods method : {uuMime, uuCode}) {
    TMemoryStream in, out;
    in.LoadFromString(bytes);
    TNMUUProcessor lines(nullptr);
    lines.Method = method;
    lines.InputStream = &in;
    lines.OutputStream = &out;
    lines.Encode();
    // One line per 45 input bytes, each ended by CR LF; uuencode adds its end line.
    size_t breaks = 0;
    for (char c : out.Data())
      breaks += c == '\n';
    if (breaks != (size + 44) / 45 + (method == uuCode ? 1 : 0)) __builtin_trap();
  }
  return 0;
}
