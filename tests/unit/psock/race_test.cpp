// The connect race on its own: addresses given, its notifications handed to it as the socket
// component hands them.
#include "netcomp/PsockRace.h"
#include "psock_fixture.h"

using testsupport::Family;

namespace {

TConnectRace* running = nullptr;

win::LRESULT CALLBACK RaceProc(win::HWND w, win::UINT msg, win::WPARAM wp, win::LPARAM lp) {
  if (msg == TPowersock::SocketMessage && running) running->Notify(wp, lp);
  return win::DefWindowProcA(w, msg, wp, lp);
}

win::sockaddr_storage Loopback(Family family, uint16_t port) {
  win::sockaddr_storage a{};
  if (family == Family::V6) {
    auto& v6 = reinterpret_cast<win::sockaddr_in6&>(a);
    v6.sin6_family = AF_INET6;
    v6.sin6_addr.u.Byte[15] = 1;
    v6.sin6_port = win::htons(port);
  } else {
    auto& v4 = reinterpret_cast<win::sockaddr_in&>(a);
    v4.sin_family = AF_INET;
    v4.sin_addr.s_addr = win::inet_addr("127.0.0.1");
    v4.sin_port = win::htons(port);
  }
  return a;
}

class RaceTest : public PsockTest {
protected:
  void SetUp() override {
    ASSERT_EQ(win::WSAStartup(MAKEWORD(1, 1), &data), 0);
    win::WNDCLASSA cls{};
    if (!win::GetClassInfoA(win::GetModuleHandleA(nullptr), "RaceTestClass", &cls)) {
      cls.lpfnWndProc = RaceProc;
      cls.hInstance = win::GetModuleHandleA(nullptr);
      cls.lpszClassName = "RaceTestClass";
      ASSERT_NE(win::RegisterClassA(&cls), 0);
    }
    window = win::CreateWindowExA(0, "RaceTestClass", "", WS_POPUP, 0, 0, 0, 0, HWND_MESSAGE,
                                  nullptr, win::GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
  }
  void TearDown() override {
    running = nullptr;
    win::DestroyWindow(window);
    win::WSACleanup();
  }
  std::unique_ptr<TConnectRace> NewRace(std::vector<win::sockaddr_storage> addresses,
                                        win::SOCKET spare = INVALID_SOCKET) {
    return std::make_unique<TConnectRace>(window, TPowersock::SocketMessage,
                                          TPowersock::SocketEventMask, std::move(addresses), spare);
  }
  // Runs the race as the component's connect wait does, until it is decided.
  bool Decide(TConnectRace& race) {
    running = &race;
    auto end = std::chrono::steady_clock::now() + 10s;
    race.Step();
    while (!race.Won() && !race.Lost()) {
      if (std::chrono::steady_clock::now() > end) return false;
      Application->HandleMessage();
      race.Step();
    }
    return true;
  }

  win::WSADATA data{};
  win::HWND window = nullptr;
};

} // namespace

// The system's sorted order (RFC 6724, and the administrator's preferences) names the family to
// try first.
TEST(RaceOrderTest, TheFirstAddressesFamilyLeadsThenTheFamiliesTakeTurns) {
  auto a4 = Loopback(Family::V4, 1), b4 = Loopback(Family::V4, 2);
  auto a6 = Loopback(Family::V6, 3), b6 = Loopback(Family::V6, 4), c6 = Loopback(Family::V6, 5);
  auto ports = [](const std::vector<win::sockaddr_storage>& v) {
    std::vector<int> p;
    for (const auto& a : v)
      p.push_back(win::ntohs(reinterpret_cast<const win::sockaddr_in&>(a).sin_port));
    return p;
  };
  struct Case {
    std::vector<win::sockaddr_storage> in;
    std::vector<int> out;
  };
  for (const Case& c : {Case{{a4, b4, a6, b6, c6}, {1, 3, 2, 4, 5}},
                        Case{{a6, b6, c6, a4, b4}, {3, 1, 4, 2, 5}}, Case{{a4, a6, b6}, {1, 3, 4}},
                        Case{{a4, b4}, {1, 2}}, Case{{a6, a4}, {3, 1}}, Case{{}, {}}})
    EXPECT_EQ(ports(TConnectRace::Order(c.in)), c.out);
}

// A silent address (its SYNs dropped, as on a broken route) does not hold up the next one,
// whichever family it is, and the winner is the working one.
TEST_F(RaceTest, ASilentFirstAddressLosesToTheNextOne) {
  for (Family silentFamily : {Family::V6, Family::V4}) {
    const Family workingFamily = silentFamily == Family::V6 ? Family::V4 : Family::V6;
    SCOPED_TRACE(silentFamily == Family::V6 ? "IPv6 silent" : "IPv4 silent");
    testsupport::StalledListener silent(silentFamily);
    LoopbackPeer working(PeerScript().StaySilent(), workingFamily);
    auto race =
        NewRace({Loopback(silentFamily, silent.Port()), Loopback(workingFamily, working.Port())});
    ASSERT_TRUE(Decide(*race));
    ASSERT_TRUE(race->Won());
    ASSERT_TRUE(PumpUntil([&] { return working.Connections() == 1; }));
    EXPECT_EQ(race->CloseLosers().size(), 1u) << "the silent attempt is closed";
  }
}

TEST_F(RaceTest, TheSpareServesTheFirstIpv4Attempt) {
  LoopbackPeer working(PeerScript().StaySilent());
  testsupport::RefusingPort refusing(Family::V6);
  win::SOCKET spare = win::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(
      win::WSAAsyncSelect(spare, window, TPowersock::SocketMessage, TPowersock::SocketEventMask),
      0);
  auto race =
      NewRace({Loopback(Family::V6, refusing.Port()), Loopback(Family::V4, working.Port())}, spare);
  ASSERT_TRUE(Decide(*race));
  ASSERT_TRUE(race->Won());
  EXPECT_EQ(race->Winner(), spare);
  EXPECT_EQ(race->CloseLosers().size(), 1u) << "the refused IPv6 attempt, not the spare";
  win::closesocket(spare);
}

// The next attempt starts with the news of the failure, not when the attempt timer or another
// message next wakes the caller: nothing here steps the race after its start.
TEST_F(RaceTest, AFailedAttemptStartsTheNextOneAtOnce) {
  for (Family refusedFamily : {Family::V6, Family::V4}) {
    const Family workingFamily = refusedFamily == Family::V6 ? Family::V4 : Family::V6;
    SCOPED_TRACE(refusedFamily == Family::V6 ? "IPv6 refused" : "IPv4 refused");
    testsupport::RefusingPort refusing(refusedFamily);
    LoopbackPeer working(PeerScript().StaySilent(), workingFamily);
    auto race = NewRace(
        {Loopback(refusedFamily, refusing.Port()), Loopback(workingFamily, working.Port())});
    running = race.get();
    race->Step();
    EXPECT_TRUE(PumpUntil([&] { return race->Won(); })) << "the second attempt never started";
    running = nullptr;
  }
}

TEST_F(RaceTest, WhenEveryAttemptFailsTheLastErrorStands) {
  testsupport::RefusingPort refused6(Family::V6);
  testsupport::RefusingPort refused4;
  auto race =
      NewRace({Loopback(Family::V6, refused6.Port()), Loopback(Family::V4, refused4.Port())});
  ASSERT_TRUE(Decide(*race));
  EXPECT_TRUE(race->Lost());
  EXPECT_EQ(race->LastError(), WSAECONNREFUSED);
  EXPECT_FALSE(race->LastFailedAtStart());
  EXPECT_EQ(race->CloseLosers().size(), 2u);
}
