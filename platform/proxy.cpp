// The proxy strings and lists of both systems: one source for both, so that one table of cases
// tests them.
#include "platform/proxy.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <optional>
#include <vector>

namespace platform {

namespace {

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::vector<std::string> Split(const std::string& text, const char* separators) {
  std::vector<std::string> parts;
  size_t at = 0;
  while (at <= text.size()) {
    size_t end = text.find_first_of(separators, at);
    if (end == std::string::npos) end = text.size();
    std::string part = Trim(text.substr(at, end - at));
    if (!part.empty()) parts.push_back(std::move(part));
    at = end + 1;
  }
  return parts;
}

// A decimal port of 1 to 65535, else -1.
int PortNumber(const std::string& digits) {
  if (digits.empty() || digits.size() > 5) return -1;
  int port = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return -1;
    port = port * 10 + (c - '0');
  }
  return port >= 1 && port <= 65535 ? port : -1;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(c | 0x20);
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

std::string PercentDecode(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 &&
        HexDigit(text[i + 2]) >= 0) {
      out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

bool HasControl(const std::string& text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return b < 0x20 || b == 0x7f;
  });
}

// An address as 16 bytes (IPv4 in the last four) and whether it is IPv4.
struct TAddress {
  std::array<uint8_t, 16> bytes{};
  bool v4 = false;
};

std::optional<TAddress> ParseIPv4(const std::string& text) {
  const std::vector<std::string> parts = Split(text, ".");
  if (parts.size() != 4 || std::count(text.begin(), text.end(), '.') != 3) return std::nullopt;
  TAddress address;
  address.v4 = true;
  for (size_t i = 0; i < 4; ++i) {
    const std::string& part = parts[i];
    if (part.empty() || part.size() > 3 || part.find_first_not_of("0123456789") != part.npos)
      return std::nullopt;
    const int value = std::stoi(part);
    if (value > 255) return std::nullopt;
    address.bytes[12 + i] = static_cast<uint8_t>(value);
  }
  return address;
}

// An IPv4 address as a URL's host may write it, and as the system resolves it: one to four
// numbers, each decimal, octal (a leading 0) or hex (0x), the last filling the bytes left.
std::optional<TAddress> ParseHostIPv4(const std::string& text) {
  if (text.empty() || text.back() == '.') return std::nullopt;
  std::vector<uint64_t> parts;
  size_t at = 0;
  while (at <= text.size() && parts.size() < 5) {
    size_t end = text.find('.', at);
    if (end == std::string::npos) end = text.size();
    std::string part = text.substr(at, end - at);
    int base = 10;
    if (part.size() > 2 && part[0] == '0' && (part[1] == 'x' || part[1] == 'X')) {
      base = 16;
      part.erase(0, 2);
    } else if (part.size() > 1 && part[0] == '0') {
      base = 8;
      part.erase(0, 1);
    }
    if (part.empty()) return std::nullopt;
    uint64_t value = 0;
    for (char c : part) {
      const int digit = HexDigit(c);
      if (digit < 0 || digit >= base) return std::nullopt;
      value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
      if (value > 0xffffffffu) return std::nullopt;
    }
    parts.push_back(value);
    at = end + 1;
  }
  if (parts.empty() || parts.size() > 4) return std::nullopt;
  uint64_t address = parts.back();
  const int lastBits = 8 * static_cast<int>(5 - parts.size());
  if (lastBits < 32 && address >> lastBits) return std::nullopt;
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    if (parts[i] > 255) return std::nullopt;
    address |= parts[i] << (24 - 8 * i);
  }
  TAddress parsed;
  parsed.v4 = true;
  for (int i = 0; i < 4; ++i)
    parsed.bytes[12 + i] = static_cast<uint8_t>(address >> (24 - 8 * i));
  return parsed;
}

std::optional<TAddress> ParseIPv6(const std::string& text) {
  if (text.find(':') == std::string::npos) return std::nullopt;
  const size_t gap = text.find("::");
  if (gap != std::string::npos && text.find("::", gap + 1) != std::string::npos)
    return std::nullopt;
  auto groups = [](const std::string& part, std::vector<uint16_t>& out, bool last) {
    if (part.empty()) return true;
    const std::vector<std::string> fields = Split(part, ":");
    if (std::count(part.begin(), part.end(), ':') + 1 != static_cast<long>(fields.size()))
      return false;
    for (size_t i = 0; i < fields.size(); ++i) {
      const std::string& f = fields[i];
      if (last && i + 1 == fields.size() && f.find('.') != std::string::npos) {
        const auto v4 = ParseIPv4(f);
        if (!v4) return false;
        out.push_back(static_cast<uint16_t>(v4->bytes[12] << 8 | v4->bytes[13]));
        out.push_back(static_cast<uint16_t>(v4->bytes[14] << 8 | v4->bytes[15]));
        continue;
      }
      if (f.empty() || f.size() > 4) return false;
      unsigned value = 0;
      for (char c : f) {
        if (HexDigit(c) < 0) return false;
        value = value * 16 + static_cast<unsigned>(HexDigit(c));
      }
      out.push_back(static_cast<uint16_t>(value));
    }
    return true;
  };
  std::vector<uint16_t> head, tail;
  if (gap == std::string::npos) {
    if (!groups(text, head, true) || head.size() != 8) return std::nullopt;
  } else {
    if (!groups(text.substr(0, gap), head, false) || !groups(text.substr(gap + 2), tail, true) ||
        head.size() + tail.size() > 7)
      return std::nullopt;
    head.resize(8 - tail.size(), 0);
    head.insert(head.end(), tail.begin(), tail.end());
  }
  TAddress address;
  for (size_t i = 0; i < 8; ++i) {
    address.bytes[2 * i] = static_cast<uint8_t>(head[i] >> 8);
    address.bytes[2 * i + 1] = static_cast<uint8_t>(head[i] & 0xff);
  }
  return address;
}

std::optional<TAddress> ParseAddress(const std::string& text) {
  if (auto v4 = ParseIPv4(text)) return v4;
  return ParseIPv6(text);
}

// Whether the first bits of both addresses of one family agree.
bool SameNetwork(const TAddress& a, const TAddress& b, int bits) {
  if (a.v4 != b.v4) return false;
  const size_t first = a.v4 ? 12 : 0;
  for (size_t i = first; i < 16 && bits > 0; ++i, bits -= 8) {
    const uint8_t mask = bits >= 8 ? 0xff : static_cast<uint8_t>(0xff << (8 - bits));
    if ((a.bytes[i] & mask) != (b.bytes[i] & mask)) return false;
  }
  return true;
}

// "*" for any run of characters. Only the last "*" seen is returned to: at most the product of the
// two lengths in steps, however many stars a pattern holds.
bool GlobMatch(const std::string& pattern, const std::string& text) {
  size_t p = 0, t = 0, star = std::string::npos, resume = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = t;
    } else if (p < pattern.size() && pattern[p] == text[t]) {
      ++p;
      ++t;
    } else if (star != std::string::npos) {
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*')
    ++p;
  return p == pattern.size();
}

// A name with a dot at its end (the root) is the name without it.
std::string WithoutRoot(std::string name) {
  if (!name.empty() && name.back() == '.') name.pop_back();
  return name;
}

// Cuts ":port" off an entry; -1 when it has none, 0 when it is not a port. An IPv6 literal
// without brackets has no port.
int CutPort(std::string& entry) {
  if (!entry.empty() && entry.front() == '[') {
    const size_t close = entry.find(']');
    if (close == std::string::npos) return 0;
    const std::string rest = entry.substr(close + 1);
    entry = entry.substr(1, close - 1);
    if (rest.empty()) return -1;
    return rest[0] == ':' ? std::max(PortNumber(rest.substr(1)), 0) : 0;
  }
  const size_t colon = entry.find(':');
  if (colon == std::string::npos || entry.find(':', colon + 1) != std::string::npos) return -1;
  const int port = PortNumber(entry.substr(colon + 1));
  entry.resize(colon);
  return std::max(port, 0);
}

// A proxy as ParseProxyUrl reads it, of any scheme.
bool ParseAnyProxy(const std::string& text, TProxy& proxy, int defaultPort) {
  std::string rest = Trim(text);
  std::string scheme = "http";
  const size_t colon = rest.find("://");
  if (colon != std::string::npos) {
    scheme = Lower(rest.substr(0, colon));
    if (scheme.empty() || !std::isalpha(static_cast<unsigned char>(scheme[0])) ||
        scheme.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789+-.") != std::string::npos)
      return false;
    rest = rest.substr(colon + 3);
    if (scheme == "https")
      defaultPort = 443;
    else if (scheme.compare(0, 5, "socks") == 0)
      defaultPort = 1080;
  }
  // A path after the authority names nothing for a proxy.
  rest = rest.substr(0, rest.find('/'));
  TProxy parsed;
  parsed.Scheme = scheme;
  const size_t at = rest.rfind('@');
  if (at != std::string::npos) {
    const std::string userinfo = rest.substr(0, at);
    const size_t separator = userinfo.find(':');
    parsed.User = PercentDecode(userinfo.substr(0, separator));
    if (separator != std::string::npos)
      parsed.Password = PercentDecode(userinfo.substr(separator + 1));
    // They go into a header line of their own.
    if (HasControl(parsed.User) || HasControl(parsed.Password)) return false;
    rest = rest.substr(at + 1);
  }
  // An IPv6 literal goes in brackets.
  const bool bracketed = !rest.empty() && rest.front() == '[';
  const int port = CutPort(rest);
  if (port == 0) return false;
  if (rest.empty() || HasControl(rest) || rest.find_first_of(" []@") != std::string::npos)
    return false;
  if (rest.find(':') != std::string::npos && !(bracketed && ParseIPv6(rest))) return false;
  parsed.Host = rest;
  parsed.Port = port < 0 ? defaultPort : port;
  proxy = std::move(parsed);
  return true;
}

} // namespace

std::string TProxy::Text() const {
  if (Direct()) return "direct";
  std::string text = Scheme + "://";
  if (!User.empty()) {
    for (char c : User) {
      const auto b = static_cast<unsigned char>(c);
      if (std::isalnum(b) || c == '-' || c == '.' || c == '_' || c == '~') {
        text += c;
      } else {
        static const char hex[] = "0123456789ABCDEF";
        text += '%';
        text += hex[b >> 4];
        text += hex[b & 15];
      }
    }
    text += '@';
  }
  text += Host.find(':') != std::string::npos ? "[" + Host + "]" : Host;
  return text + ":" + std::to_string(Port);
}

bool ParseProxyUrl(const std::string& text, TProxy& proxy, int defaultPort) {
  TProxy parsed;
  if (!ParseAnyProxy(text, parsed, defaultPort) || parsed.Scheme != "http") return false;
  proxy = std::move(parsed);
  return true;
}

bool NoProxyMatches(const std::string& list, const std::string& host, int port) {
  // A "*" stands for every host only as the whole list; among other entries it names none.
  if (Trim(list) == "*") return true;
  const std::string name = WithoutRoot(Lower(host));
  std::optional<TAddress> address = ParseHostIPv4(name);
  if (!address) address = ParseIPv6(name);
  for (std::string entry : Split(list, ", \t\r\n")) {
    const int entryPort = CutPort(entry);
    if (entryPort == 0 || (entryPort > 0 && entryPort != port)) continue;
    if (address) {
      const int most = address->v4 ? 32 : 128;
      int bits = most;
      const size_t slash = entry.find('/');
      if (slash != std::string::npos) {
        const std::string digits = entry.substr(slash + 1);
        if (digits.empty() || digits.size() > 3 ||
            digits.find_first_not_of("0123456789") != std::string::npos)
          continue;
        bits = std::stoi(digits);
        if (bits > most) continue;
        entry.resize(slash);
      }
      const std::optional<TAddress> network = ParseAddress(entry);
      if (network && SameNetwork(*network, *address, bits)) return true;
      continue;
    }
    entry = WithoutRoot(Lower(entry));
    if (!entry.empty() && entry.front() == '.') entry.erase(0, 1);
    if (entry.empty()) continue;
    if (name == entry || (name.size() > entry.size() &&
                          name.compare(name.size() - entry.size(), entry.size(), entry) == 0 &&
                          name[name.size() - entry.size() - 1] == '.'))
      return true;
  }
  return false;
}

bool ProxyFromList(const std::string& list, const std::string& scheme, TProxy& proxy) {
  std::optional<TProxy> forScheme, forAll, socks;
  for (const std::string& entry : Split(list, "; \t\r\n")) {
    const size_t equals = entry.find('=');
    const std::string key = equals == std::string::npos ? "" : Lower(entry.substr(0, equals));
    const std::string value = equals == std::string::npos ? entry : entry.substr(equals + 1);
    TProxy parsed;
    if (equals == std::string::npos) {
      if (!forAll && ParseAnyProxy(value, parsed, 80)) forAll = parsed;
    } else if (key == scheme) {
      if (!forScheme && ParseAnyProxy(value, parsed, 80)) forScheme = parsed;
    } else if (key == "socks") {
      // As the system's own programs take it: the proxy of every scheme without one of its own.
      if (!socks && ParseAnyProxy(value, parsed, 1080)) {
        if (parsed.Scheme == "http") parsed.Scheme = "socks";
        socks = parsed;
      }
    }
  }
  if (!forScheme) forScheme = forAll;
  if (!forScheme) forScheme = socks;
  if (!forScheme) return false;
  proxy = *forScheme;
  return true;
}

bool BypassMatches(const std::string& list, const std::string& scheme, const std::string& host,
                   int port) {
  const std::string name = WithoutRoot(Lower(host));
  for (std::string entry : Split(list, "; \t\r\n")) {
    entry = Lower(entry);
    if (entry == "<local>") {
      if (name.find('.') == std::string::npos && name.find(':') == std::string::npos) return true;
      continue;
    }
    const size_t named = entry.find("://");
    if (named != std::string::npos) {
      // An entry with a scheme is for that scheme alone.
      if (entry.compare(0, named, scheme) != 0) continue;
      entry.erase(0, named + 3);
    }
    const int entryPort = CutPort(entry);
    if (entryPort == 0 || (entryPort > 0 && entryPort != port)) continue;
    if (GlobMatch(WithoutRoot(entry), name)) return true;
  }
  return false;
}

bool SplitTarget(const std::string& url, std::string& scheme, std::string& host, int& port) {
  const size_t colon = url.find("://");
  if (colon == std::string::npos) return false;
  scheme = Lower(url.substr(0, colon));
  std::string authority = url.substr(colon + 3);
  authority = authority.substr(0, authority.find_first_of("/?#"));
  authority.erase(0, authority.rfind('@') + 1);
  const int named = CutPort(authority);
  if (named == 0 || authority.empty()) return false;
  const int standard = scheme == "http" ? 80 : scheme == "https" ? 443 : 0;
  port = named > 0 ? named : standard;
  host = authority;
  return port > 0;
}

TProxy EnvironmentProxyFor(const std::string& url,
                           const std::function<std::string(const char* name)>& getenv) {
  std::string scheme, host;
  int port = 0;
  if (!SplitTarget(url, scheme, host, port)) return {};
  std::string noProxy = getenv("no_proxy");
  if (noProxy.empty()) noProxy = getenv("NO_PROXY");
  if (NoProxyMatches(noProxy, host, port)) return {};
  // HTTP_PROXY is never read: a CGI program's environment has it from the request's "Proxy:"
  // header.
  const std::string lower = scheme + "_proxy";
  std::string setting = getenv(lower.c_str());
  if (setting.empty() && scheme != "http") {
    std::string upper = lower;
    for (char& c : upper)
      c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    setting = getenv(upper.c_str());
  }
  if (setting.empty()) setting = getenv("all_proxy");
  if (setting.empty()) setting = getenv("ALL_PROXY");
  TProxy proxy;
  if (setting.empty() || !ParseAnyProxy(setting, proxy, 1080)) return {};
  return proxy;
}

} // namespace platform
