#include "socket_util.h"

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>
#include <vector>

#include "loopback.h"
#include "socket.h"

namespace kesto::lidar {
namespace {

using platform::SocketGetOption;
using platform::SockLen;
using test::LocalPort;
using test::LoopbackAddress;

// Owns one socket returned by OpenUdpSocket.
struct Opened {
  explicit Opened(int s) : fd(s) {}
  ~Opened() {
    if (fd >= 0) CloseSocket(fd);
  }
  Opened(const Opened&) = delete;
  Opened& operator=(const Opened&) = delete;
  int fd;
};

template <typename Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& case_info) {
  return case_info.param.name;
}

int OptionValue(int fd, int name) {
  int value = -1;
  EXPECT_TRUE(SocketGetOption(fd, SOL_SOCKET, name, &value));
  return value;
}

TEST(OpenUdpSocket, PortZeroBindsToASystemChosenPort) {
  Opened s(OpenUdpSocket(0, true, false, false, "127.0.0.1", ""));
  ASSERT_GE(s.fd, 0);
  EXPECT_NE(LocalPort(s.fd), 0);
  // The 200 MiB request may be capped, never refused: something was granted.
  EXPECT_GT(OptionValue(s.fd, SO_RCVBUF), 0);
}

TEST(OpenUdpSocket, BroadcastOptionFollowsTheFlag) {
  Opened with(OpenUdpSocket(0, true, false, true, "127.0.0.1", ""));
  Opened without(OpenUdpSocket(0, true, false, false, "127.0.0.1", ""));
  ASSERT_GE(with.fd, 0);
  ASSERT_GE(without.fd, 0);
  EXPECT_NE(OptionValue(with.fd, SO_BROADCAST), 0);
  EXPECT_EQ(OptionValue(without.fd, SO_BROADCAST), 0);
}

TEST(OpenUdpSocket, NonBlockingSocketDoesNotWaitForData) {
  Opened s(OpenUdpSocket(0, true, false, false, "127.0.0.1", ""));
  ASSERT_GE(s.fd, 0);
  char buffer[16];
  sockaddr_in from{};
  SockLen length = sizeof(from);
  EXPECT_LT(ReceiveFrom(s.fd, buffer, sizeof(buffer), &from, &length), 0);
  EXPECT_TRUE(platform::SocketErrorIsWouldBlock(platform::SocketLastError()));
}

struct ShareCase {
  const char* name;
  bool first_reuse;
  bool second_reuse;
  bool second_binds;
};

class PortSharing : public ::testing::TestWithParam<ShareCase> {};

TEST_P(PortSharing, SecondSocketOnTheSamePortBindsOnlyWhenBothReuse) {
  const ShareCase& c = GetParam();
  Opened first(OpenUdpSocket(0, true, c.first_reuse, false, "127.0.0.1", ""));
  ASSERT_GE(first.fd, 0);
  const uint16_t port = LocalPort(first.fd);
  Opened second(OpenUdpSocket(port, true, c.second_reuse, false, "127.0.0.1", ""));
  EXPECT_EQ(second.fd >= 0, c.second_binds);
  if (c.second_binds) {
    EXPECT_EQ(LocalPort(second.fd), port);
  }
}

INSTANTIATE_TEST_SUITE_P(Reuse, PortSharing,
                         ::testing::Values(ShareCase{"both", true, true, true},
                                           ShareCase{"neither", false, false, false},
                                           ShareCase{"only_second", false, true, false}),
                         CaseName<ShareCase>);

TEST(OpenUdpSocket, EmptyLocalAddressReceivesOnEveryLocalAddress) {
  Opened any(OpenUdpSocket(0, true, false, false, "", ""));
  Opened sender(OpenUdpSocket(0, false, false, false, "", ""));
  ASSERT_GE(any.fd, 0);
  ASSERT_GE(sender.fd, 0);
  const uint16_t port = LocalPort(any.fd);
  // Each address is sent to again until its datagram arrived, in case loopback dropped one.
  std::set<std::string> received;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (received.size() < 2 && std::chrono::steady_clock::now() < until) {
    for (const char* ip : {"127.0.0.1", "127.0.0.2"}) {
      const std::string text = ip;
      if (received.count(text)) continue;
      ASSERT_EQ(platform::SocketSendTo(sender.fd, text.data(), static_cast<int>(text.size()),
                                       LoopbackAddress(port, ip)),
                static_cast<int>(text.size()));
    }
    platform::SocketSet ready;
    ready.Add(any.fd);
    if (platform::SocketSelect(any.fd + 1, &ready, nullptr, 200) <= 0) continue;
    char buffer[64] = {};
    sockaddr_in from{};
    SockLen length = sizeof(from);
    const int n = ReceiveFrom(any.fd, buffer, sizeof(buffer), &from, &length);
    ASSERT_GT(n, 0);
    received.emplace(buffer, static_cast<std::size_t>(n));
    EXPECT_EQ(ntohs(from.sin_port), LocalPort(sender.fd));
  }
  EXPECT_EQ(received, (std::set<std::string>{"127.0.0.1", "127.0.0.2"}));
}

// A local address is read under the configuration text's rules (as IpToU8 reads it for the
// requests), not the platform's: a form the checks accept binds the same address, and the
// platform's short form is no address here.
TEST(OpenUdpSocket, LocalAddressIsReadUnderTheConfigurationRules) {
  for (const char* text : {"127.0.0.1", "127.0.0.1.", "127.0.0.001", " 127.0.0.1"}) {
    Opened s(OpenUdpSocket(0, true, false, false, text, ""));
    ASSERT_GE(s.fd, 0) << '"' << text << '"';
    sockaddr_in bound{};
    ASSERT_TRUE(platform::SocketLocalAddress(s.fd, &bound));
    EXPECT_EQ(bound.sin_addr.s_addr, htonl(INADDR_LOOPBACK)) << '"' << text << '"';
  }
  for (const char* text : {"127.1", "127.0.0.256"}) {
    Opened s(OpenUdpSocket(0, true, false, false, text, ""));
    EXPECT_EQ(s.fd, -1) << '"' << text << '"';
  }
}

// Whether this system lets a socket join `group` on the loopback interface at all.
bool SystemJoinsMulticastOnLoopback(const char* group) {
  const int probe = platform::SocketOpen(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (probe < 0) return false;
  ip_mreq membership{};
  membership.imr_multiaddr.s_addr = inet_addr(group);
  membership.imr_interface.s_addr = inet_addr("127.0.0.1");
  const bool joined = platform::SocketSetOptionRaw(probe, IPPROTO_IP, IP_ADD_MEMBERSHIP,
                                                   &membership, sizeof(membership));
  platform::SocketClose(probe);
  return joined;
}

TEST(OpenUdpSocket, MulticastJoinOnLoopbackWhereTheSystemAllowsIt) {
  const char* group = "239.255.77.1";
  const bool allowed = SystemJoinsMulticastOnLoopback(group);
  ::testing::internal::CaptureStdout();
  Opened s(OpenUdpSocket(0, true, true, false, "127.0.0.1", group));
  const std::string out = ::testing::internal::GetCapturedStdout();
  // The socket is kept either way; only a refused join prints.
  EXPECT_GE(s.fd, 0);
  EXPECT_EQ(out, allowed ? "" : "setsockopt failed\n");
  if (!allowed) std::cout << "note: this system refuses multicast joins on loopback\n";
}

struct GroupCase {
  const char* name;
  bool broadcast;
  const char* group;
  const char* printed;
};

class MulticastGroup : public ::testing::TestWithParam<GroupCase> {};

TEST_P(MulticastGroup, SocketIsKeptAndOnlyARefusedJoinPrints) {
  const GroupCase& c = GetParam();
  ::testing::internal::CaptureStdout();
  Opened s(OpenUdpSocket(0, true, true, c.broadcast, "127.0.0.1", c.group));
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_GE(s.fd, 0);
  EXPECT_EQ(out, c.printed);
}

INSTANTIATE_TEST_SUITE_P(
    Groups, MulticastGroup,
    ::testing::Values(
        // A unicast address is no group: the join is refused, the socket stays usable.
        GroupCase{"unicast_group_refused", false, "127.0.0.1", "setsockopt failed\n"},
        GroupCase{"unparsable_group_refused", false, "no.such.group", "setsockopt failed\n"},
        // With broadcast the group is ignored, so not even a bad one is tried.
        GroupCase{"ignored_with_broadcast", true, "127.0.0.1", ""},
        GroupCase{"no_group", false, "", ""}),
    CaseName<GroupCase>);

// True when the system hands out the lowest free socket number again, so a leak would show as
// a higher number on the next socket.
bool ReusesLowestSocket(int* lowest) {
  const int a = platform::SocketOpen(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  platform::SocketClose(a);
  const int b = platform::SocketOpen(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  platform::SocketClose(b);
  *lowest = a;
  return a == b;
}

struct BindFailure {
  const char* name;
  const char* local_address;
  bool occupy_port;
  bool broadcast;
  bool foreign;  // a well-formed address of no local interface
};

class FailedBind : public ::testing::TestWithParam<BindFailure> {};

// Whether a bare socket may bind `ip` here (Wine, for one, accepts addresses that are not local).
bool SystemBinds(const char* ip) {
  const int probe = platform::SocketOpen(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  const bool bound = platform::SocketBind(probe, LoopbackAddress(0, ip));
  platform::SocketClose(probe);
  return bound;
}

TEST_P(FailedBind, GivesMinusOneWithTheSocketClosedAndPrintsNothing) {
  const BindFailure& c = GetParam();
  if (c.foreign && SystemBinds(c.local_address)) {
    GTEST_SKIP() << "this system binds " << c.local_address << " although it is not local";
  }
  // Without reuse on either side, the occupied port refuses the second bind.
  Opened holder(OpenUdpSocket(0, true, false, false, "127.0.0.1", ""));
  ASSERT_GE(holder.fd, 0);
  const uint16_t port = c.occupy_port ? LocalPort(holder.fd) : 0;

  int lowest = -1;
  const bool reuse_visible = ReusesLowestSocket(&lowest);
  ::testing::internal::CaptureStdout();
  const int s = OpenUdpSocket(port, true, false, c.broadcast, c.local_address, "");
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(s, -1);
  EXPECT_EQ(out, "");
  if (reuse_visible) {
    const int next = platform::SocketOpen(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    EXPECT_EQ(next, lowest) << "the failed socket was left open";
    platform::SocketClose(next);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Binds, FailedBind,
    ::testing::Values(BindFailure{"address_not_local", "192.0.2.1", false, false, true},
                      BindFailure{"unparsable_address", "not-an-address", false, true, false},
                      BindFailure{"port_in_use", "127.0.0.1", true, true, false}),
    CaseName<BindFailure>);

TEST(ReceiveFrom, GivesTheDatagramAndItsSender) {
  test::UdpPair pair;
  ASSERT_TRUE(pair.ok());
  ASSERT_TRUE(test::WaitFor([&] {
    pair.Send("point");
    platform::SocketSet readable;
    readable.Add(pair.receiver);
    return platform::SocketSelect(pair.receiver + 1, &readable, nullptr, 200) > 0;
  }));
  char buffer[8192];
  sockaddr_in from{};
  SockLen length = sizeof(from);
  ASSERT_EQ(ReceiveFrom(pair.receiver, buffer, sizeof(buffer), &from, &length), 5);
  EXPECT_EQ(std::string(buffer, 5), "point");
  EXPECT_EQ(ntohs(from.sin_port), LocalPort(pair.sender));
  EXPECT_EQ(from.sin_addr.s_addr, inet_addr("127.0.0.1"));
}

TEST(CloseSocket, ClosesAndReportsTheResult) {
  const int s = OpenUdpSocket(0, true, false, false, "127.0.0.1", "");
  ASSERT_GE(s, 0);
  EXPECT_EQ(CloseSocket(s), 0);
  int value = 0;
  EXPECT_FALSE(SocketGetOption(s, SOL_SOCKET, SO_TYPE, &value));
}

}  // namespace
}  // namespace kesto::lidar
