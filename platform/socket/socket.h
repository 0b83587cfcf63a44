#ifndef KESTO_PLATFORM_SOCKET_H_
#define KESTO_PLATFORM_SOCKET_H_

// The only header of the project that includes the system's socket headers. Everything else
// writes its socket code once, against these declarations: sockets are plain ints (-1 when
// invalid) on both platforms, and the calls whose signatures differ between Winsock and POSIX
// (options, receive and send buffers, non-blocking mode, errors) have a wrapper here.

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/select.h>
#include <sys/socket.h>
#endif

#include <cstddef>
#include <string>

namespace kesto::platform {

#ifdef _WIN32
using SockLen = int;
#else
using SockLen = socklen_t;
#endif

inline constexpr int kInvalidSocket = -1;

// Starts the platform's socket library (Winsock 2.0); true where none is needed.
bool SocketStartup();
// Releases what SocketStartup took; a no-op where nothing was taken.
void SocketCleanup();

// socket(2); -1 on failure.
int SocketOpen(int domain, int type, int protocol);
// closesocket / close; the platform's result (0 on success).
int SocketClose(int s);
bool SocketSetNonBlocking(int s, bool on);
// setsockopt with an int value; true on success.
bool SocketSetOption(int s, int level, int name, int value);
// setsockopt with an arbitrary value (for example ip_mreq); true on success.
bool SocketSetOptionRaw(int s, int level, int name, const void* value, SockLen length);
// getsockopt with an int value; false when the option cannot be read.
bool SocketGetOption(int s, int level, int name, int* value);

// One datagram, no flags. A datagram longer than `size` gives its first `size` bytes and the
// result `size` on every platform.
int SocketRecvFrom(int s, void* buffer, int size, sockaddr_in* from, SockLen* from_length);
// Asks the system to tell, with each datagram received on `s`, the address it was sent to
// (IP_PKTINFO); true on success.
bool SocketReportDestination(int s);
// SocketRecvFrom without the length argument that also gives the datagram's destination
// address in `to` (network order): INADDR_ANY when the system told none.
int SocketRecvFromTo(int s, void* buffer, int size, sockaddr_in* from, in_addr* to);
int SocketSendTo(int s, const void* data, int size, const sockaddr_in& to);

// The most datagrams one SocketReceiveBatch takes.
inline constexpr int kMaxReceiveBatch = 64;
// One datagram of a batch: its length (a longer datagram is cut to the buffer size, as with
// SocketRecvFrom) and its sender.
struct BatchDatagram {
  int length = 0;
  sockaddr_in from{};
};
// The datagrams waiting on the non-blocking socket `s`, at most `count` (up to
// kMaxReceiveBatch), without waiting for any: datagram i into `buffers` + i * `buffer_size`,
// its length and sender into `out`[i]. One system call on Linux (recvmmsg), one receive per
// datagram elsewhere. Returns how many were taken: 0 when none waits, -1 on another error.
// Where the socket counts its drops (SocketCountDrops) and the system told the count, it goes
// to `os_dropped` (the running count as of the last datagram taken); else that stays untouched.
int SocketReceiveBatch(int s, unsigned char* buffers, int buffer_size, int count,
                       BatchDatagram* out, unsigned int* os_dropped);
// Asks the system to tell, with each datagram received on `s`, how many datagrams it has
// dropped on `s` for a full receive buffer (SO_RXQ_OVFL). False where the system cannot:
// Windows keeps no such count.
bool SocketCountDrops(int s);

int SocketRecv(int s, void* buffer, int size);
int SocketSend(int s, const void* data, int size);

// bind / getsockname / listen / connect / accept for IPv4 addresses. True on success; accept
// gives the new socket or -1.
bool SocketBind(int s, const sockaddr_in& address);
bool SocketLocalAddress(int s, sockaddr_in* address);
bool SocketListen(int s, int backlog);
bool SocketConnect(int s, const sockaddr_in& address);
int SocketAccept(int s);

// One fd_set for SocketSelect. Add ignores a socket the set cannot hold (beyond FD_SETSIZE on
// POSIX, more than FD_SETSIZE sockets on Winsock) rather than writing past the set; callers that
// must know check SocketFitsSelect first.
class SocketSet {
 public:
  SocketSet();
  void Add(int s);
  bool Contains(int s) const;
  bool Empty() const;
  fd_set* native() { return &set_; }

 private:
  fd_set set_;
  int count_ = 0;
};

// select() over the two sets (either may be null), with a timeout in milliseconds (negative: no
// limit). nfds is one more than the highest socket; Winsock ignores it. Returns select's result:
// the number of ready sockets, 0 on time-out, negative on error. With both sets empty it sleeps
// for the timeout on both platforms (Winsock would fail at once instead).
int SocketSelect(int nfds, SocketSet* read, SocketSet* write, int timeout_ms);

// select()'s time-out for a limit in milliseconds: null for no limit (negative), else `storage`
// filled with whole seconds and the rest in microseconds.
inline timeval* SelectTimeout(int timeout_ms, timeval* storage) {
  if (timeout_ms < 0) return nullptr;
  storage->tv_sec = timeout_ms / 1000;
  storage->tv_usec = (timeout_ms % 1000) * 1000;
  return storage;
}

// The address datagrams carry as their source when sent from a UDP socket bound to `local`
// (network order). Normally `local` itself; Wine binds every address other than 127.0.0.1 and
// the wildcard to the wildcard, so datagrams from "127.0.0.2" leave from 127.0.0.1 there, and a
// receiver cannot tell two such senders apart. Found by sending one datagram over loopback to a
// socket of our own, waiting at most a second; INADDR_ANY when that could not be done.
in_addr SocketSourceAddressFor(in_addr local);

// The error of the last failed socket call on this thread (WSAGetLastError / errno).
int SocketLastError();
// True when the error says a non-blocking call found nothing to do.
bool SocketErrorIsWouldBlock(int error);
// True when the error says a signal interrupted the call (EINTR / WSAEINTR): not a failure.
bool SocketErrorIsInterrupted(int error);
std::string SocketErrorText(int error);

// Whether select() can watch this socket. POSIX fd_sets are bitmaps of FD_SETSIZE bits, so a
// descriptor at or above FD_SETSIZE cannot be set without writing past the set; Winsock fd_sets
// are arrays of handles and take any socket.
bool SocketFitsSelect(int s);

}  // namespace kesto::platform

#endif  // KESTO_PLATFORM_SOCKET_H_
