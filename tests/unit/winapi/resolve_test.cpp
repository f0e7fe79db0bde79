// The name lookup service: every address of both families, announced by a window message, the
// addresses kept until the owner of the window takes them.
#include "platform/resolve.h"
#include "winapi_fixture.h"

namespace {

constexpr win::UINT kLookupMsg = kSockMsg + 1;

bool IsLoopback(const win::sockaddr_storage& a) {
  if (a.ss_family == AF_INET6) {
    const auto& v6 = reinterpret_cast<const win::sockaddr_in6&>(a);
    for (int i = 0; i < 15; ++i)
      if (v6.sin6_addr.u.Byte[i] != 0) return false;
    return v6.sin6_addr.u.Byte[15] == 1;
  }
  return reinterpret_cast<const win::sockaddr_in&>(a).sin_addr.s_addr ==
         win::inet_addr("127.0.0.1");
}

} // namespace

TEST_F(WinsockTest, LookupAnnouncesItsAddressesAndKeepsThemForTheOwner) {
  struct Case {
    const char* name;
    int family;
  };
  for (const Case& c : {Case{"localhost", AF_INET}, Case{"::1", AF_INET6}}) {
    SCOPED_TRACE(c.name);
    received.clear();
    win::HANDLE task = platform::StartLookup(window, kLookupMsg, c.name);
    ASSERT_NE(task, nullptr);
    ASSERT_TRUE(PumpUntil([] { return Count(kLookupMsg) > 0; }));
    const Received& r = received.back();
    EXPECT_EQ(reinterpret_cast<win::HANDLE>(r.wParam), task);
    ASSERT_EQ(WSAGETASYNCERROR(r.lParam), 0);
    std::vector<win::sockaddr_storage> found = platform::TakeLookupResult(task);
    EXPECT_EQ(found.size(), WSAGETASYNCBUFLEN(r.lParam));
    bool seen = false;
    for (const auto& a : found)
      seen = seen || (a.ss_family == c.family && IsLoopback(a));
    EXPECT_TRUE(seen) << "no loopback address of family " << c.family;
    EXPECT_FALSE(platform::CancelLookup(task)) << "taking the addresses ends the task";
  }
}

TEST_F(WinsockTest, LookupFailuresCarryWinsockErrors) {
  win::HANDLE task = platform::StartLookup(window, kLookupMsg, "no-such-host.invalid");
  ASSERT_TRUE(PumpUntil([] { return Count(kLookupMsg) > 0; }, 30s));
  int error = WSAGETASYNCERROR(received.back().lParam);
  EXPECT_TRUE(error == WSAHOST_NOT_FOUND || error == WSATRY_AGAIN || error == WSANO_DATA) << error;
  EXPECT_TRUE(platform::TakeLookupResult(task).empty());
}

TEST_F(WinsockTest, CanceledLookupGivesNothing) {
  win::HANDLE canceled = platform::StartLookup(window, kLookupMsg + 1, "localhost");
  EXPECT_TRUE(platform::CancelLookup(canceled));
  EXPECT_FALSE(platform::CancelLookup(canceled));
  win::HANDLE later = platform::StartLookup(window, kLookupMsg, "localhost");
  ASSERT_TRUE(PumpUntil([] { return Count(kLookupMsg) > 0; }));
  EXPECT_FALSE(platform::TakeLookupResult(later).empty());
  PumpFor(100ms);
  EXPECT_TRUE(platform::TakeLookupResult(canceled).empty());
}

TEST_F(WinsockTest, NumericAddressesOfBothFamiliesAndNoNames) {
  struct Case {
    const char* text;
    bool numeric;
    int family;
  };
  for (const Case& c : {Case{"::1", true, AF_INET6}, Case{"127.0.0.1", true, AF_INET},
                        Case{"2001:db8::7", true, AF_INET6}, Case{"localhost", false, 0},
                        Case{"[::1]", false, 0}, Case{"", false, 0}}) {
    SCOPED_TRACE(c.text);
    win::sockaddr_storage a{};
    ASSERT_EQ(platform::ParseNumericAddress(c.text, a), c.numeric);
    if (c.numeric) {
      EXPECT_EQ(a.ss_family, c.family);
    }
  }
}
