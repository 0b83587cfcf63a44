#ifndef KESTO_BENCH_KIT_STREAM_BARE_RECEIVER_H_
#define KESTO_BENCH_KIT_STREAM_BARE_RECEIVER_H_

// The yardstick: a bare blocking recvfrom loop on a thread of its own, on a socket opened with
// the options of the kit's data sockets (address reuse, the same receive buffer request).

#include <cstdint>
#include <thread>

#include "receive_tally.h"
#include "steady_probe.h"

namespace kesto::bench {

// Threads: Open, Start, Stop on the main thread; the loop on its own thread.
class BareReceiver {
 public:
  BareReceiver() = default;
  ~BareReceiver();
  BareReceiver(const BareReceiver&) = delete;
  BareReceiver& operator=(const BareReceiver&) = delete;

  // Binds 127.0.0.1:`port`; false when it cannot.
  bool Open(std::uint16_t port);
  // The receive buffer the system granted, in bytes.
  int granted_buffer() const;
  void Start();
  // Ends the loop with a one-byte datagram of its own and joins it.
  void Stop();
  const Tally& tally() const { return tally_; }
  const SteadyProbe& probe() const { return probe_; }

 private:
  void Run();

  int fd_ = -1;
  std::uint16_t port_ = 0;
  std::thread thread_;
  Tally tally_;
  SteadyProbe probe_;
};

}  // namespace kesto::bench

#endif  // KESTO_BENCH_KIT_STREAM_BARE_RECEIVER_H_
