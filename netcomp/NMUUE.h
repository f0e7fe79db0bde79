// Encodes the bytes of a stream into lines of Base64 or uuencode text.
#pragma once

#include <cstdint>

#include "framework/Classes.h"

enum UUMethods : uint8_t { uuMime = 0, uuCode = 1 };

class TNMUUProcessor : public TComponent {
public:
  explicit TNMUUProcessor(TComponent* AOwner) : TComponent(AOwner) {}

  UUMethods Method = uuMime;
  TNotifyEvent OnBeginEncode;
  TNotifyEvent OnEndEncode;
  // Declared for symmetry; there is no decoding operation, so they are never raised.
  TNotifyEvent OnBeginDecode;
  TNotifyEvent OnEndDecode;

  TStream* InputStream = nullptr;        // not owned
  TMemoryStream* OutputStream = nullptr; // not owned

  // Reads InputStream from its start, appends one line per 45 input bytes (CR LF ended) to
  // OutputStream and leaves OutputStream at position 0.
  void Encode();

private:
  char alphabet_[64] = {};
};
