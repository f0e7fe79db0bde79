#include "netcomp/NMHttpParse.h"

#include <algorithm>
#include <climits>
#include <stdexcept>

#include "netcomp/Psock.h"

namespace httpparse {

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

int HexValue(char c) {
  if (IsDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

} // namespace

void SplitUrl(std::string& Url, std::string& Host, int32_t& Port, std::string& Path,
              size_t MaxUrlBytes, bool* Secure) {
  if (Url.empty()) throw Exception("Empty URL");
  if (Url.size() > MaxUrlBytes) throw Exception("URL too long");
  if (Port == 0) Port = 80;

  const size_t firstSlash = Url.find('/');
  const bool hasDoubleSlash =
      firstSlash != std::string::npos && Url.compare(firstSlash, 2, "//") == 0;
  if (hasDoubleSlash) {
    size_t from = static_cast<size_t>(NthWordPos(Url, '/', 3) - 1);
    Path = from < Url.size() ? Url.substr(from) : std::string();
  } else if (firstSlash != std::string::npos) {
    Path = Url.substr(firstSlash);
  } else {
    Path.clear();
  }

  // Only a scheme followed by "://" is one: a colon in a path or after a host is not.
  if (HasScheme(Url)) {
    std::string scheme = LowerCase(NthWord(Url, ':', 1));
    if (Secure) *Secure = scheme == "https";
    if (scheme == "gopher")
      Port = 70;
    else if (scheme == "ftp")
      Port = 21;
    else if (scheme == "https" && !Secure)
      throw Exception("HTTP Secure Socket is not supported");
    else if (scheme == "https")
      Port = 443;
    else
      Port = 80;
  }

  std::string host;
  if (hasDoubleSlash)
    host = NthWord(Url, '/', 3);
  else if (Url[0] != '/')
    host = NthWord(Url, '/', 1);
  if (size_t colon = host.find(':'); colon != std::string::npos) {
    const std::string port = NthWord(host, ':', 2);
    const int32_t value = StrToInt(port);
    if (value < 1 || value > 65535) throw Exception("Invalid port " + port);
    Port = value;
    host.resize(colon);
  }
  if (!host.empty()) Host = host;

  if (Path.empty()) {
    Path.assign(1, '/'); // GCC 12 warns (-Wrestrict) on assigning a literal here
    Url += "/";
  }
}

int32_t StatusNumber(const std::string& line) {
  // The line end is no part of the number when the status line has no reason phrase.
  std::string bare = line;
  while (!bare.empty() && (bare.back() == '\n' || bare.back() == '\r'))
    bare.pop_back();
  const std::string text = NthWord(bare, ' ', 2);
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  if (i == text.size()) return 0;
  long long value = 0;
  for (; i < text.size(); ++i) {
    if (!IsDigit(text[i])) return 0;
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<long long>(INT32_MAX) + 1) return 0;
  }
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) return 0;
  return static_cast<int32_t>(value);
}

bool SplitHeaderLine(const std::string& line, std::string& name, std::string& value) {
  size_t colon = line.find(':');
  if (colon == std::string::npos) return false;
  name = line.substr(0, colon);
  size_t from = colon + 1;
  while (from < line.size() && (line[from] == ' ' || line[from] == '\t'))
    ++from;
  size_t to = line.size();
  while (to > from && IsSpace(line[to - 1]))
    --to;
  value = line.substr(from, to - from);
  return true;
}

std::optional<int64_t> ContentLength(const std::string& value) {
  if (value.empty()) return std::nullopt;
  int64_t result = 0;
  for (char c : value) {
    if (!IsDigit(c) || result > (INT64_MAX - 9) / 10) return std::nullopt;
    result = result * 10 + (c - '0');
  }
  return result;
}

bool HasScheme(const std::string& url) {
  size_t i = 0;
  auto alpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  if (url.empty() || !alpha(url[0])) return false;
  while (i < url.size() &&
         (alpha(url[i]) || IsDigit(url[i]) || url[i] == '+' || url[i] == '-' || url[i] == '.'))
    ++i;
  return url.compare(i, 3, "://") == 0;
}

std::string ResolveLocation(const std::string& origin, const std::string& path,
                            const std::string& location) {
  if (location.empty()) return {};
  if (HasScheme(location)) return location;
  if (location.compare(0, 2, "//") == 0) return origin.substr(0, origin.find("//")) + location;
  if (location[0] == '/') return origin + location;
  std::string base = path.substr(0, path.find_first_of("?#"));
  size_t slash = base.rfind('/');
  base = slash == std::string::npos ? "/" : base.substr(0, slash + 1);
  return origin + base + location;
}

void ChunkedDecoder::Line(const std::string& line) {
  switch (state_) {
  case State::Size: {
    uint64_t size = 0;
    size_t i = 0;
    for (; i < line.size() && HexValue(line[i]) >= 0; ++i) {
      if (size >> 59) throw std::runtime_error("chunk size too large");
      size = size * 16 + static_cast<uint64_t>(HexValue(line[i]));
    }
    // Digits first, then nothing or chunk extensions.
    if (i == 0 || (i < line.size() && line[i] != ';' && line[i] != ' ' && line[i] != '\t'))
      throw std::runtime_error("malformed chunk size");
    left_ = size;
    state_ = size == 0 ? State::Trailer : State::Data;
    break;
  }
  case State::DataEnd:
    if (!line.empty()) throw std::runtime_error("chunk longer than its size");
    state_ = State::Size;
    break;
  case State::Trailer:
    if (line.empty()) state_ = State::End;
    break;
  default:
    break;
  }
}

} // namespace httpparse
