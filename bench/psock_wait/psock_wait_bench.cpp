// CPU time that ReadLn and CaptureFile spend waiting 3 s for a silent loopback peer.
#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <unistd.h>

#include "framework/Forms.h"
#include "netcomp/Psock.h"
#include "support/loopback_peer.h"

namespace {

double CpuSeconds() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double WallSeconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void Measure(const char* name, const std::function<void(TPowersock&)>& wait) {
  testsupport::LoopbackPeer peer(testsupport::PeerScript().StaySilent());
  TPowersock sock(nullptr);
  sock.Host = "127.0.0.1";
  sock.Port = peer.Port();
  sock.TimeOut = 3000;
  sock.Connect();
  double cpu = CpuSeconds();
  double wall = WallSeconds();
  std::string outcome = "no time-out";
  try {
    wait(sock);
  } catch (const EAbortError& e) {
    outcome = e.Message;
  }
  std::printf("%-12s cpu %.4f s  wall %.2f s  (%s)\n", name, CpuSeconds() - cpu,
              WallSeconds() - wall, outcome.c_str());
}

} // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  Measure("ReadLn", [](TPowersock& s) { s.ReadLn(); });
  char path[] = "/tmp/psock_wait_XXXXXX";
  int fd = mkstemp(path);
  if (fd >= 0) close(fd);
  Measure("CaptureFile", [&](TPowersock& s) { s.CaptureFile(path); });
  std::remove(path);
  return 0;
}
