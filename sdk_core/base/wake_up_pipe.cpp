#include "wake_up_pipe.h"

#include "socket.h"

namespace kesto::lidar {

using namespace kesto::platform;

namespace {

// How long Open waits for the listener to see the write end's connection.
constexpr int kAcceptWaitMs = 2000;
constexpr int kDrainBytes = 512;

}  // namespace

WakeUpPipe::~WakeUpPipe() { Close(); }

bool WakeUpPipe::Open() {
  Close();
  const int listener = SocketOpen(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (listener == kInvalidSocket) return false;

  int writer = kInvalidSocket;
  int reader = kInvalidSocket;
  bool ok = false;
  do {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = 0;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (!SocketBind(listener, address)) break;
    if (!SocketLocalAddress(listener, &address)) break;
    if (!SocketListen(listener, 1)) break;

    writer = SocketOpen(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (writer == kInvalidSocket) break;
    // The backlog completes the handshake, so this blocking connect returns before accept.
    if (!SocketConnect(writer, address)) break;
    if (!SocketSetNonBlocking(listener, true)) break;

    SocketSet readable;
    readable.Add(listener);
    if (SocketSelect(listener + 1, &readable, nullptr, kAcceptWaitMs) <= 0) break;
    reader = SocketAccept(listener);
    if (reader == kInvalidSocket) break;

    // Single wake bytes must not sit behind Nagle's algorithm waiting for an acknowledgement.
    if (!SocketSetOption(writer, IPPROTO_TCP, TCP_NODELAY, 1)) break;
    if (!SocketSetNonBlocking(writer, true) || !SocketSetNonBlocking(reader, true)) break;
    ok = true;
  } while (false);

  SocketClose(listener);
  if (!ok) {
    if (reader != kInvalidSocket) SocketClose(reader);
    if (writer != kInvalidSocket) SocketClose(writer);
    return false;
  }
  write_end_ = writer;
  read_end_ = reader;
  return true;
}

bool WakeUpPipe::Signal() {
  if (write_end_ < 0) return true;
  const char byte = '1';
  if (SocketSend(write_end_, &byte, 1) == 1) return true;
  return SocketErrorIsWouldBlock(SocketLastError());
}

bool WakeUpPipe::Drain() {
  if (read_end_ < 0) return true;
  char scratch[kDrainBytes];
  SocketRecv(read_end_, scratch, sizeof(scratch));
  return true;
}

bool WakeUpPipe::Close() {
  if (write_end_ >= 0) {
    SocketClose(write_end_);
    write_end_ = -1;
  }
  if (read_end_ >= 0) {
    SocketClose(read_end_);
    read_end_ = -1;
  }
  return true;
}

}  // namespace kesto::lidar
