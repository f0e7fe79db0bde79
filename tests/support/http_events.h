// Records the events of an HTTP component as text lines, in the order they are raised.
#pragma once

#include <string>
#include <vector>

#include "netcomp/NMHttp.h"
#include "support/loopback_peer.h"

namespace testsupport {

class HttpEvents {
public:
  explicit HttpEvents(TNMHTTP& http) {
    http.OnSuccess = [this](CmdType cmd) { log.push_back("success " + std::to_string(cmd)); };
    http.OnFailure = [this](CmdType cmd) { log.push_back("failure " + std::to_string(cmd)); };
    http.OnRedirect = [this](bool& handled) {
      log.push_back("redirect");
      handled = handleRedirect;
    };
    http.OnAuthenticationNeeded = [this](TObject*) { log.push_back("authentication-needed"); };
    http.OnPacketRecvd = [this, &http](TObject*) {
      ++packets;
      packetTotals.push_back(http.BytesRecvd);
    };
  }

  std::string Joined() const {
    std::string out;
    for (const auto& e : log)
      out += (out.empty() ? "" : ",") + e;
    return out;
  }

  std::vector<std::string> log;
  std::vector<int64_t> packetTotals;
  int packets = 0;
  bool handleRedirect = false;
};

} // namespace testsupport
