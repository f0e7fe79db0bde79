#include "netcomp/NMUUE.h"

#include <string>

void TNMUUProcessor::Encode() {
  InputStream->SetPosition(0);
  if (OnBeginEncode) OnBeginEncode(this);
  try {
    static const char kMime[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int i = 0; i < 64; ++i)
      alphabet_[i] = Method == uuMime ? kMime[i] : (i == 0 ? '`' : static_cast<char>(32 + i));
    OutputStream->Seek(0, soEnd);
    const int64_t size = InputStream->Size();
    unsigned char in[45];
    while (InputStream->Position() < size) {
      int64_t n = InputStream->Read(in, sizeof in);
      if (n <= 0) break;
      std::string line;
      if (Method == uuCode) line += alphabet_[n];
      int64_t i = 0;
      for (; i + 3 <= n; i += 3) {
        line += alphabet_[in[i] >> 2];
        line += alphabet_[((in[i] & 3) << 4) | (in[i + 1] >> 4)];
        line += alphabet_[((in[i + 1] & 15) << 2) | (in[i + 2] >> 6)];
        line += alphabet_[in[i + 2] & 63];
      }
      if (n - i == 1) {
        line += alphabet_[in[i] >> 2];
        line += alphabet_[(in[i] & 3) << 4];
        if (Method == uuMime) line += "==";
      } else if (n - i == 2) {
        line += alphabet_[in[i] >> 2];
        line += alphabet_[((in[i] & 3) << 4) | (in[i + 1] >> 4)];
        line += alphabet_[(in[i + 1] & 15) << 2];
        if (Method == uuMime) line += "=";
      }
      line += "\r\n";
      OutputStream->WriteBuffer(line.data(), static_cast<int64_t>(line.size()));
    }
    if (Method == uuCode) OutputStream->WriteBuffer("`\r\n", 3);
  } catch (...) {
    OutputStream->SetPosition(0);
    if (OnEndEncode) OnEndEncode(this);
    throw;
  }
  OutputStream->SetPosition(0);
  if (OnEndEncode) OnEndEncode(this);
}
