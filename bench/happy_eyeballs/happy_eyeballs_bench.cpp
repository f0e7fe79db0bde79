// Connect to a name with two addresses, the first (IPv6) silent and the second (IPv4) working,
// against Connect to the working address itself: what the silent address costs. run.sh gives
// the name its addresses in a private /etc/hosts.
#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "framework/Forms.h"
#include "listeners.h"
#include "netcomp/Psock.h"

namespace {

double ConnectMs(const std::string& host, uint16_t port) {
  TPowersock sock(nullptr);
  sock.Host = host;
  sock.Port = port;
  sock.TimeOut = 30000;
  const auto start = std::chrono::steady_clock::now();
  sock.Connect();
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  sock.Disconnect();
  AcceptOne();
  return ms;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const std::string name = argc > 1 ? argv[1] : "dual.test";
  uint16_t port = 0;
  ListenSilentV6(port);
  ListenV4(port);

  constexpr int Rounds = 15;
  std::vector<double> viaName, direct;
  for (int i = 0; i < Rounds; ++i) {
    viaName.push_back(ConnectMs(name, port));
    direct.push_back(ConnectMs("127.0.0.1", port));
  }
  const double extra = Median(viaName) - Median(direct);
  std::printf("connect, median of %d: %s (IPv6 silent, IPv4 working) %.1f ms; 127.0.0.1 %.2f ms\n",
              Rounds, name.c_str(), Median(viaName), Median(direct));
  std::printf("the silent address costs %.1f ms (target: at most 300 ms)\n", extra);
  return extra <= 300 ? 0 : 1;
}
