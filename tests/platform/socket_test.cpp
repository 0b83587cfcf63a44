#include "socket.h"

#include <gtest/gtest.h>

#include <cstring>

namespace kesto::platform {
namespace {

class SocketTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SocketStartup()); }
  void TearDown() override { SocketCleanup(); }
};

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return addr;
}

int BoundUdpSocket(sockaddr_in* bound) {
  const int s = SocketOpen(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == kInvalidSocket) return s;
  if (!SocketBind(s, Loopback(0)) || !SocketLocalAddress(s, bound)) {
    SocketClose(s);
    return kInvalidSocket;
  }
  return s;
}

// Loopback datagrams can be dropped when other processes flood the machine, and a blocking
// receive would then wait for ever: sends again every 200 ms until `s` is readable, for at most
// 10 s.
bool SendUntilReadable(int sender, const void* data, int size, const sockaddr_in& to, int s) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    if (SocketSendTo(sender, data, size, to) != size) return false;
    SocketSet readable;
    readable.Add(s);
    if (SocketSelect(s + 1, &readable, nullptr, 200) > 0) return true;
  }
  return false;
}

TEST_F(SocketTest, LoopbackDatagramRoundTrip) {
  sockaddr_in to{}, from{};
  const int receiver = BoundUdpSocket(&to);
  const int sender = BoundUdpSocket(&from);
  ASSERT_NE(receiver, kInvalidSocket);
  ASSERT_NE(sender, kInvalidSocket);
  EXPECT_TRUE(SocketFitsSelect(receiver));

  const char text[] = "lidar";
  ASSERT_TRUE(SendUntilReadable(sender, text, static_cast<int>(sizeof(text)), to, receiver));
  char buffer[64] = {};
  sockaddr_in source{};
  SockLen length = sizeof(source);
  ASSERT_EQ(SocketRecvFrom(receiver, buffer, sizeof(buffer), &source, &length),
            static_cast<int>(sizeof(text)));
  EXPECT_STREQ(buffer, text);
  EXPECT_EQ(source.sin_port, from.sin_port);
  EXPECT_EQ(SocketClose(sender), 0);
  EXPECT_EQ(SocketClose(receiver), 0);
}

TEST_F(SocketTest, NonBlockingReceiveOnEmptySocketWouldBlock) {
  sockaddr_in bound{};
  const int s = BoundUdpSocket(&bound);
  ASSERT_NE(s, kInvalidSocket);
  ASSERT_TRUE(SocketSetNonBlocking(s, true));
  char buffer[16];
  EXPECT_LT(SocketRecv(s, buffer, sizeof(buffer)), 0);
  EXPECT_TRUE(SocketErrorIsWouldBlock(SocketLastError()));
  SocketClose(s);
}

TEST_F(SocketTest, OptionsAreSetAndReadBack) {
  const int s = SocketOpen(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  ASSERT_NE(s, kInvalidSocket);
  EXPECT_TRUE(SocketSetOption(s, SOL_SOCKET, SO_BROADCAST, 1));
  int value = 0;
  ASSERT_TRUE(SocketGetOption(s, SOL_SOCKET, SO_BROADCAST, &value));
  EXPECT_NE(value, 0);
  EXPECT_TRUE(SocketSetOption(s, SOL_SOCKET, SO_RCVBUF, 1 << 20));
  ASSERT_TRUE(SocketGetOption(s, SOL_SOCKET, SO_RCVBUF, &value));
  EXPECT_GT(value, 0);
  SocketClose(s);
}

in_addr Address(const char* text) {
  in_addr address{};
  address.s_addr = inet_addr(text);
  return address;
}

// One wildcard socket learns, per datagram, which local address it was sent to: what tells
// apart datagrams for several loopback addresses that share a port.
TEST_F(SocketTest, ReceiveTellsTheDestinationAddress) {
  const int receiver = SocketOpen(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  ASSERT_NE(receiver, kInvalidSocket);
  sockaddr_in any{};
  any.sin_family = AF_INET;
  ASSERT_TRUE(SocketBind(receiver, any));
  ASSERT_TRUE(SocketLocalAddress(receiver, &any));
  ASSERT_TRUE(SocketReportDestination(receiver));
  sockaddr_in sender_address{};
  const int sender = BoundUdpSocket(&sender_address);
  ASSERT_NE(sender, kInvalidSocket);

  for (const char* destination : {"127.0.0.3", "127.0.0.1", "127.0.0.3"}) {
    SCOPED_TRACE(destination);
    sockaddr_in to = any;
    to.sin_addr = Address(destination);
    ASSERT_TRUE(SendUntilReadable(sender, destination, 9, to, receiver));
    char buffer[16] = {};
    sockaddr_in from{};
    in_addr at{};
    ASSERT_EQ(SocketRecvFromTo(receiver, buffer, sizeof(buffer), &from, &at), 9);
    EXPECT_STREQ(buffer, destination);
    EXPECT_EQ(at.s_addr, to.sin_addr.s_addr);
    EXPECT_EQ(from.sin_port, sender_address.sin_port);
    // A resend may have left a second copy; it must not be read as the next destination's.
    while (SocketSetNonBlocking(receiver, true) &&
           SocketRecvFromTo(receiver, buffer, sizeof(buffer), &from, &at) > 0) {
    }
    ASSERT_TRUE(SocketSetNonBlocking(receiver, false));
  }
  SocketClose(sender);
  SocketClose(receiver);
}

TEST_F(SocketTest, SourceAddressOfABoundSocketIsFound) {
  EXPECT_EQ(SocketSourceAddressFor(Address("127.0.0.1")).s_addr, Address("127.0.0.1").s_addr);
  // Itself where a process can own a loopback alias; 127.0.0.1 where it cannot (Wine).
  const uint32_t alias = SocketSourceAddressFor(Address("127.0.0.2")).s_addr;
  EXPECT_TRUE(alias == Address("127.0.0.2").s_addr || alias == Address("127.0.0.1").s_addr);
}

TEST_F(SocketTest, CallsOnAClosedSocketFail) {
  const int s = SocketOpen(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  ASSERT_NE(s, kInvalidSocket);
  ASSERT_EQ(SocketClose(s), 0);
  EXPECT_FALSE(SocketSetOption(s, SOL_SOCKET, SO_BROADCAST, 1));
  EXPECT_NE(SocketLastError(), 0);
  EXPECT_FALSE(SocketErrorText(SocketLastError()).empty());
}

}  // namespace
}  // namespace kesto::platform
