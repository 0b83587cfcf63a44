// The readers' block-to-matrix conversion alone, per data type: what a data=lidartap5; call
// costs before the host's own share (the matrix allocation and the call itself).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "legacy_block_layout.h"
#include "legacy_block_matrix.h"
#include "packet_block_layout.h"
#include "packet_block_matrix.h"

namespace {

void BM_ConvertPacketBlock(benchmark::State& state) {
  std::vector<std::uint8_t> block(kesto::block::kBlockSize);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i * 37);
  block[0] = static_cast<std::uint8_t>(state.range(0));
  std::vector<double> matrix(kesto::matlab::kPacketMatrixElements);
  for (auto _ : state) {
    benchmark::DoNotOptimize(kesto::matlab::ConvertPacketBlock(block.data(), matrix.data()));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_ConvertPacketBlock)->Arg(0)->Arg(1)->Arg(2)->Arg(3);

void BM_ConvertLegacyBlock(benchmark::State& state) {
  std::vector<std::uint8_t> block(kesto::legacy_block::kBlockSize, 0x5A);
  std::vector<double> matrix(kesto::matlab::kLegacyMatrixElements);
  for (auto _ : state) {
    kesto::matlab::ConvertLegacyBlock(block.data(), matrix.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_ConvertLegacyBlock);

}  // namespace

BENCHMARK_MAIN();
