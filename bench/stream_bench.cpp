// The stream block alone: one packet written by the bridge's writer (its cost on the data IO
// thread), and one reader call that takes 200 type-1 packets (0.1 s of one lidar, 19,200
// points) out of the ring and decodes them into rows, as a lidarstream call does before the
// host's share (matrix allocation).
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <vector>

#include "packet_stream_layout.h"
#include "packet_stream_writer.h"
#include "stream_reader.h"
#include "stream_rows.h"

namespace {

using namespace kesto;

struct Ring {
  Ring() : words(stream::kBlockSize / 8, 0) { writer.Attach(data(), stream::kBlockSize); }
  std::uint8_t* data() { return reinterpret_cast<std::uint8_t*>(words.data()); }
  std::vector<std::uint64_t> words;
  bridge::PacketStreamWriter writer;
};

std::array<std::uint8_t, 8192> PointPacket() {
  std::array<std::uint8_t, 8192> bytes{};
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 37);
  bytes[10] = 1;
  return bytes;
}

void BM_StreamWrite(benchmark::State& state) {
  Ring ring;
  const auto bytes = PointPacket();
  const auto* packet = reinterpret_cast<const KestoLidarEthernetPacket*>(bytes.data());
  for (auto _ : state) {
    ring.writer.Write(0x0100007F, 9, packet, 1380);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StreamWrite);

void BM_StreamReadFrame(benchmark::State& state) {
  constexpr int kPackets = 200;
  Ring ring;
  const auto bytes = PointPacket();
  const auto* packet = reinterpret_cast<const KestoLidarEthernetPacket*>(bytes.data());
  matlab::StreamReader reader;
  std::vector<matlab::StreamPacket> packets;
  std::vector<double> points;
  ring.writer.Write(0x0100007F, 9, packet, 1380);
  reader.Read(ring.data(), packets);  // at the newest packet
  for (auto _ : state) {
    state.PauseTiming();
    for (int i = 0; i < kPackets; ++i) ring.writer.Write(0x0100007F, 9, packet, 1380);
    packets.clear();
    state.ResumeTiming();
    reader.Read(ring.data(), packets);
    const matlab::StreamRowCounts rows = matlab::CountStreamRows(packets);
    points.resize(rows.points * matlab::kStreamPointColumns);
    matlab::FillStreamPointRows(packets, points.data(), rows.points);
    benchmark::DoNotOptimize(points.data());
  }
  state.SetItemsProcessed(state.iterations() * kPackets * 96);
}
BENCHMARK(BM_StreamReadFrame);

}  // namespace

BENCHMARK_MAIN();
