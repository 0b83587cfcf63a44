// Cost of one point packet on the data path: DataHandler::Handle dispatching to the bridge's
// point-cloud observer, which writes the version-5 block, against a bare copy of 1385 bytes into
// the same mapped block. The ratio of the two is the figure of merit.
#include <benchmark/benchmark.h>

#include <array>
#include <cstring>

#include "block_observers.h"
#include "data_handler.h"
#include "packet_block_layout.h"
#include "shared_memory.h"

namespace {

using kesto::platform::SharedMemory;

struct Fixture {
  Fixture() {
    block.Open("kesto-bench-block", kesto::block::kBlockSize);
    for (std::size_t i = 0; i < datagram.size(); ++i) datagram[i] = static_cast<uint8_t>(i);
    datagram[kesto::block::kPacketDataTypeOffset] = 1;
  }
  ~Fixture() {
    block.Close();
    SharedMemory::Unlink("kesto-bench-block");
  }
  SharedMemory block;
  std::array<uint8_t, 8192> datagram{};
};

Fixture& Shared() {
  static Fixture fixture;
  return fixture;
}

void BM_BareBlockCopy(benchmark::State& state) {
  auto& f = Shared();
  for (auto _ : state) {
    std::memcpy(f.block.data(), f.datagram.data(), kesto::block::kBlockSize);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BareBlockCopy);

void BM_DispatchAndPointWrite(benchmark::State& state) {
  auto& f = Shared();
  kesto::bridge::SetBlockView(f.block.data());
  kesto::lidar::DataHandler handler;
  handler.SetPointCloudObserver(PointCloudCallback, nullptr);
  const auto* packet = reinterpret_cast<const KestoLidarEthernetPacket*>(f.datagram.data());
  for (auto _ : state) {
    handler.Handle(10, 0x0100007Fu, packet);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DispatchAndPointWrite);

}  // namespace

BENCHMARK_MAIN();
