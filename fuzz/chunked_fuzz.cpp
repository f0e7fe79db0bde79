// The chunked decoder, fed in pieces whose sizes come from the input: the result must not depend
// on how the bytes arrive.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "netcomp/NMHttpParse.h"

namespace {
// Decodes text in pieces of the given size; false on a framing error.
bool Decode(const std::string& text, size_t piece, std::string& out, bool& done) {
  httpparse::ChunkedDecoder decoder;
  auto sink = [&](const char* p, size_t n) { out.append(p, n); };
  try {
    for (size_t at = 0; at < text.size() && !decoder.Done();) {
      size_t n = std::min(piece, text.size() - at);
      size_t took = decoder.Feed(text.data() + at, n, sink);
      if (took > n || (took < n && !decoder.Done())) __builtin_trap();
      at += took;
    }
  } catch (const std::runtime_error&) {
    return false;
  }
  done = decoder.Done();
  return true;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t piece = 1 + data[0] % 16;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string whole, pieces;
  bool doneWhole = false, donePieces = false;
  bool okWhole = Decode(text, text.size() + 1, whole, doneWhole);
  bool okPieces = Decode(text, piece, pieces, donePieces);
  if (okWhole != okPieces) __builtin_trap();
  if (okWhole && (doneWhole != donePieces || (doneWhole && whole != pieces))) __builtin_trap();
  if (whole.size() > text.size()) __builtin_trap();
  return 0;
}
