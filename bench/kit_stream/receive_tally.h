#ifndef KESTO_BENCH_KIT_STREAM_RECEIVE_TALLY_H_
#define KESTO_BENCH_KIT_STREAM_RECEIVE_TALLY_H_

// What a receiver saw of one emulated point stream, and a histogram of latencies.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <vector>

#include "little_endian.h"

namespace kesto::bench {

inline std::int64_t SteadyNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Packets of one stream by the emulator's running counter (packet bytes 12-15, from 0), and
// the window from the first to the last arrival. One receiving thread counts (plain loads and
// stores, no read-modify-write); the main thread resets and reads while no packet arrives. The
// fields are atomic so that a read at any moment is still well defined.
class Tally {
 public:
  void Reset() {
    for (auto* field : {&packets_, &missing_, &out_of_order_}) field->store(0, kRelaxed);
    next_counter_.store(0, kRelaxed);
    first_ns_.store(0, kRelaxed);
    last_ns_.store(0, kRelaxed);
  }

  // Receiving thread: one packet of at least 16 bytes, arrived at `now_ns` (steady clock).
  void Count(const std::uint8_t* packet, std::int64_t now_ns) {
    const std::uint32_t counter = LoadU32(packet + 12);
    const std::uint32_t expected = next_counter_.load(kRelaxed);
    if (counter >= expected) {
      if (counter > expected) missing_.store(missing_.load(kRelaxed) + (counter - expected), kRelaxed);
      next_counter_.store(counter + 1, kRelaxed);
    } else {
      out_of_order_.store(out_of_order_.load(kRelaxed) + 1, kRelaxed);
    }
    const std::uint64_t n = packets_.load(kRelaxed) + 1;
    if (n == 1) first_ns_.store(now_ns, kRelaxed);
    last_ns_.store(now_ns, kRelaxed);
    packets_.store(n, std::memory_order_release);
  }

  std::uint64_t packets() const { return packets_.load(std::memory_order_acquire); }
  // Packets skipped by the counter up to the last one that arrived.
  std::uint64_t missing() const { return missing_.load(kRelaxed); }
  std::uint64_t out_of_order() const { return out_of_order_.load(kRelaxed); }
  // The counter of the next packet expected: packets the sender sent up to the last arrival.
  std::uint64_t next_counter() const { return next_counter_.load(kRelaxed); }
  double window_seconds() const {
    return static_cast<double>(last_ns_.load(kRelaxed) - first_ns_.load(kRelaxed)) / 1e9;
  }
  // Packets per second between the first and the last arrival.
  double rate() const {
    const double seconds = window_seconds();
    return seconds > 0 ? static_cast<double>(packets() - 1) / seconds : 0;
  }

 private:
  static constexpr auto kRelaxed = std::memory_order_relaxed;
  std::atomic<std::uint64_t> packets_{0};
  std::atomic<std::uint64_t> missing_{0};
  std::atomic<std::uint64_t> out_of_order_{0};
  std::atomic<std::uint32_t> next_counter_{0};
  std::atomic<std::int64_t> first_ns_{0};
  std::atomic<std::int64_t> last_ns_{0};
};

// Latencies in bins of 100 ns up to 20 ms, the rest in one overflow bin; the exact maximum is
// kept. Percentiles are the upper edge of their bin. One thread adds; read after it is done.
class LatencyHistogram {
 public:
  static constexpr std::int64_t kBinNs = 100;
  static constexpr std::size_t kBins = 200000;

  LatencyHistogram() : bins_(kBins + 1, 0) {}

  void Add(std::int64_t ns) {
    if (ns < 0) {
      ++negative_;
      ns = 0;
    }
    const auto bin = static_cast<std::size_t>(ns / kBinNs);
    ++bins_[bin < kBins ? bin : kBins];
    ++count_;
    if (ns > max_) max_ = ns;
  }

  std::uint64_t count() const { return count_; }
  std::uint64_t negative() const { return negative_; }
  std::int64_t max() const { return max_; }
  // The latency that `fraction` (0-1) of the samples do not exceed.
  std::int64_t Percentile(double fraction) const {
    if (count_ == 0) return 0;
    auto rank = static_cast<std::uint64_t>(fraction * static_cast<double>(count_));
    if (rank == 0) rank = 1;
    std::uint64_t seen = 0;
    for (std::size_t bin = 0; bin < kBins; ++bin) {
      seen += bins_[bin];
      if (seen >= rank) return std::min<std::int64_t>(static_cast<std::int64_t>(bin + 1) * kBinNs, max_);
    }
    return max_;
  }

 private:
  std::vector<std::uint64_t> bins_;
  std::uint64_t count_ = 0;
  std::uint64_t negative_ = 0;
  std::int64_t max_ = 0;
};

}  // namespace kesto::bench

#endif  // KESTO_BENCH_KIT_STREAM_RECEIVE_TALLY_H_
