// The pure steps of reading an HTTP reply and following it: no sockets, so they can be fuzzed.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace httpparse {

// Splits url into host, port and request path as the component does before each connection.
// Host and Port keep their values where the URL names none; Url gains a "/" when it has no path.
// Raises Exception for an empty or too long URL and for a port outside 1-65535. An https URL
// raises as well unless Secure is given: it then gets port 443, and *Secure tells whether the
// URL's scheme is https (a URL without a scheme leaves it as it was).
void SplitUrl(std::string& Url, std::string& Host, int32_t& Port, std::string& Path,
              size_t MaxUrlBytes, bool* Secure = nullptr);

// The status number of a status line ("HTTP/1.0 200 OK"): its second field as a whole decimal
// number fitting 32 bits, else 0.
int32_t StatusNumber(const std::string& line);

// A header line split at its first colon: the name as sent, the value without the spaces or
// tabs after the colon and without trailing white space or line end. False without a colon.
bool SplitHeaderLine(const std::string& line, std::string& name, std::string& value);

// A Content-Length value: decimal digits only, fitting 63 bits; nullopt otherwise.
std::optional<int64_t> ContentLength(const std::string& value);

// True when url starts with a scheme followed by "://".
bool HasScheme(const std::string& url);

// The absolute URL a Location value names, resolved against the URL of the reply's request, given
// as its origin ("http://host:port") and path. Empty when the value names nothing.
std::string ResolveLocation(const std::string& origin, const std::string& path,
                            const std::string& location);

// Decodes a chunked body as it arrives.
class ChunkedDecoder {
public:
  static constexpr size_t MaxLine = 4096;
  // Takes the bytes it can and passes the data in them to sink; returns how many it took (fewer
  // than given only once the body has ended). Throws std::runtime_error on malformed framing.
  template <class Sink> size_t Feed(const char* data, size_t n, Sink&& sink);
  bool Done() const { return state_ == State::End; }

private:
  enum class State { Size, Data, DataEnd, Trailer, End };
  // Handles one complete line (without CR LF) of the Size or Trailer state.
  void Line(const std::string& line);
  State state_ = State::Size;
  std::string line_;
  uint64_t left_ = 0;
};

template <class Sink> size_t ChunkedDecoder::Feed(const char* data, size_t n, Sink&& sink) {
  size_t i = 0;
  while (i < n && state_ != State::End) {
    if (state_ == State::Data) {
      size_t take = static_cast<size_t>(std::min<uint64_t>(left_, n - i));
      sink(data + i, take);
      i += take;
      left_ -= take;
      if (left_ == 0) state_ = State::DataEnd;
      continue;
    }
    char c = data[i++];
    if (c != '\n') {
      if (line_.size() >= MaxLine) throw std::runtime_error("chunk line too long");
      line_ += c;
      continue;
    }
    if (!line_.empty() && line_.back() == '\r') line_.pop_back();
    std::string line;
    line.swap(line_);
    Line(line);
  }
  return i;
}

} // namespace httpparse
