#include "stream_side.h"

#include <vector>

#include "little_endian.h"
#include "packet_stream_layout.h"

namespace kesto::bench {

namespace {

constexpr std::uint16_t kPointPacketBytes = 1380;

}  // namespace

void StreamReaderThread::Start(const std::uint8_t* block, std::chrono::microseconds period) {
  Finish();
  finish_ = false;
  result_ = std::make_unique<StreamReadResult>();
  // Placed here rather than on the thread, so that no packet written after Start returns can
  // come before the reader's place.
  reader_.Reset();
  std::vector<matlab::StreamPacket> newest;
  reader_.Read(block, newest);
  thread_ = std::thread([this, block, period] { Run(block, period); });
}

void StreamReaderThread::Finish() {
  if (!thread_.joinable()) return;
  finish_.store(true, std::memory_order_release);
  thread_.join();
}

void StreamReaderThread::Run(const std::uint8_t* block, std::chrono::microseconds period) {
  std::vector<matlab::StreamPacket> packets;
  packets.reserve(stream::kSlotCount + 1);
  StreamReadResult& r = *result_;
  for (bool last = false; !last;) {
    last = finish_.load(std::memory_order_acquire);
    packets.clear();
    const matlab::StreamCounts counts = reader_.Read(block, packets);
    ++r.reads;
    r.returned += counts.returned;
    r.lost += counts.lost;
    r.restarts += counts.restarts;
    const std::int64_t now = SteadyNs();
    for (const matlab::StreamPacket& p : packets) {
      if (p.meta.data_type != 1 || p.meta.length != kPointPacketBytes) {
        ++r.malformed;
        continue;
      }
      r.tally.Count(p.bytes, now);
      const std::uint64_t sent = LoadU64(p.bytes + 28);
      r.latency.Add(static_cast<std::int64_t>(p.receive_time_ns - sent));
    }
    if (!last) std::this_thread::sleep_for(period);
  }
}

}  // namespace kesto::bench
