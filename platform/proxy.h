// The proxy a download goes through. The system's choice for a URL: on Windows the user's Internet
// Settings as WinHTTP reads them (a manual proxy with its bypass list, an automatic configuration
// script or auto-detection); elsewhere http_proxy, https_proxy, all_proxy and no_proxy as curl
// reads them. A proxy named on the command line overrides it.
#pragma once

#include <functional>
#include <string>

namespace platform {

struct TProxy {
  // Lower case. A proxy of another scheme than http is one this program cannot go through: a
  // download that is to use it fails instead of going direct.
  std::string Scheme = "http";
  std::string Host; // empty: a direct connection
  int Port = 0;
  // Basic credentials, percent-decoded; they go to the proxy alone, never into a text.
  std::string User, Password;

  bool Direct() const { return Host.empty(); }
  // "http://host:port", with "user@" when there is a user: what a log may say, never a password.
  std::string Text() const;
};

// The proxy for a URL.
using TProxyChooser = std::function<TProxy(const std::string& Url)>;

// A proxy as curl takes it: [http://][user[:password]@]host[:port][/], the credentials
// percent-decoded. Without a port, defaultPort. False for another scheme, a bad port, or
// credentials with a control character in them.
bool ParseProxyUrl(const std::string& text, TProxy& proxy, int defaultPort = 1080);

// Whether curl's no_proxy list names host at port: entries separated by commas or white space,
// "*" as the whole list for every host, a name that is the host or a domain the host is in (a
// dot at either end of it, and one at the end of the host, ignored), an optional ":port",
// addresses (also "net/bits") matched against a host that is one in any form a URL may write it
// ("127.1").
bool NoProxyMatches(const std::string& list, const std::string& host, int port);

// WinHTTP's proxy list, "host:port" for every scheme or "http=host:port;https=host:port": the
// proxy for scheme (port 80 when it names none), else the one for every scheme, else a
// "socks=host:port" proxy. False when it names none for scheme. A proxy of another scheme than
// http ("https=https://host:443") comes with its scheme.
bool ProxyFromList(const std::string& list, const std::string& scheme, TProxy& proxy);

// Whether WinHTTP's bypass list names host at port for scheme: entries separated by ";" or white
// space, "*" wildcards, an optional port, an optional scheme (then for that scheme alone),
// "<local>" for a host name without a dot; a dot at the end of a name is ignored.
bool BypassMatches(const std::string& list, const std::string& scheme, const std::string& host,
                   int port);

// The scheme (lower case), host (without brackets) and port of an absolute URL; false when it
// is none.
bool SplitTarget(const std::string& url, std::string& scheme, std::string& host, int& port);

// The proxy curl would choose for url from the environment that getenv reads; one of another
// scheme than http ("socks5h://host") comes with its scheme.
TProxy EnvironmentProxyFor(const std::string& url,
                           const std::function<std::string(const char* name)>& getenv);

// The system's proxy for url. The settings (and a configuration script) are found on the first
// call of a run; later calls answer from them.
TProxy SystemProxyFor(const std::string& url);

} // namespace platform
