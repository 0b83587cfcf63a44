#ifndef KESTO_BENCH_KIT_STREAM_STEADY_PROBE_H_
#define KESTO_BENCH_KIT_STREAM_STEADY_PROBE_H_

// What a receiving thread spends per packet once a phase is under way: its CPU time and its
// operator new calls from the warm mark on. The receiving thread samples; the main thread
// resets and reads while no packet arrives.

#include <atomic>
#include <cstdint>

#include "bench_platform.h"
#include "counting_new.h"

namespace kesto::bench {

class SteadyProbe {
 public:
  // Packets of a phase before the steady state is taken to begin.
  static constexpr std::uint64_t kWarmPackets = 2000;
  // Packets between two readings of the thread's CPU clock (a system call).
  static constexpr std::uint64_t kCpuEvery = 1024;

  void Reset() {
    for (auto* field : {&allocations_at_warm_, &allocations_at_last_, &cpu_packets_}) {
      field->store(0, kRelaxed);
    }
    cpu_at_warm_.store(0, kRelaxed);
    cpu_at_last_.store(0, kRelaxed);
    packets_.store(0, kRelaxed);
  }

  // Receiving thread, after each packet; `n` counts the phase's packets from 1.
  void OnPacket(std::uint64_t n) {
    if (!counting_) {
      CountAllocationsOnThisThread(&allocations_);
      counting_ = true;
    }
    const std::uint64_t allocations = allocations_.load(kRelaxed);
    if (n == kWarmPackets) {
      allocations_at_warm_.store(allocations, kRelaxed);
      cpu_at_warm_.store(ThreadCpuNs(), kRelaxed);
    } else if (n > kWarmPackets && (n - kWarmPackets) % kCpuEvery == 0) {
      cpu_at_last_.store(ThreadCpuNs(), kRelaxed);
      cpu_packets_.store(n - kWarmPackets, kRelaxed);
    }
    allocations_at_last_.store(allocations, kRelaxed);
    packets_.store(n, kRelaxed);
  }

  // Packets from the warm mark to the last one, and the operator new calls among them.
  std::uint64_t steady_packets() const {
    const std::uint64_t n = packets_.load(kRelaxed);
    return n > kWarmPackets ? n - kWarmPackets : 0;
  }
  std::uint64_t steady_allocations() const {
    if (steady_packets() == 0) return 0;
    return allocations_at_last_.load(kRelaxed) - allocations_at_warm_.load(kRelaxed);
  }
  // The thread's CPU time per packet in the steady state, in microseconds; 0 when unknown.
  double cpu_us_per_packet() const {
    const std::uint64_t packets = cpu_packets_.load(kRelaxed);
    if (packets == 0) return 0;
    return static_cast<double>(cpu_at_last_.load(kRelaxed) - cpu_at_warm_.load(kRelaxed)) / 1e3 /
           static_cast<double>(packets);
  }

 private:
  static constexpr auto kRelaxed = std::memory_order_relaxed;
  // The receiving thread's own: a probe serves one receiving thread for its whole life.
  bool counting_ = false;
  std::atomic<std::uint64_t> allocations_{0};
  std::atomic<std::uint64_t> allocations_at_warm_{0};
  std::atomic<std::uint64_t> allocations_at_last_{0};
  std::atomic<std::int64_t> cpu_at_warm_{0};
  std::atomic<std::int64_t> cpu_at_last_{0};
  std::atomic<std::uint64_t> cpu_packets_{0};
  std::atomic<std::uint64_t> packets_{0};
};

}  // namespace kesto::bench

#endif  // KESTO_BENCH_KIT_STREAM_STEADY_PROBE_H_
