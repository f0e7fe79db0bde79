// The loopback address helpers both halves of the peer socket share; included by each after its
// own socket headers, inside testsupport::net's unnamed namespace.
#pragma once

inline int Loopback(uint16_t port, Family family, sockaddr_storage& out) {
  out = {};
  if (family == Family::V6) {
    auto& a = reinterpret_cast<sockaddr_in6&>(out);
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    a.sin6_port = htons(port);
    return sizeof a;
  }
  auto& a = reinterpret_cast<sockaddr_in&>(out);
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  return sizeof a;
}

inline int Domain(Family family) {
  return family == Family::V6 ? AF_INET6 : AF_INET;
}

inline uint16_t PortOf(const sockaddr_storage& a) {
  return ntohs(a.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6&>(a).sin6_port
                                       : reinterpret_cast<const sockaddr_in&>(a).sin_port);
}
