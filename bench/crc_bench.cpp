// The two frame checksums, table-driven, against plain bit-at-a-time versions of the same
// variants on a full 1376-byte payload (bytes per second), and the receive-side frame check plus
// decode of a full 1400-byte frame (time per frame).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "crc16.h"
#include "crc32.h"
#include "sdk_protocol.h"

namespace {

using kesto::lidar::kMaxFrameLength;
using kesto::lidar::kMaxPayloadLength;

// The bit-at-a-time forms exist only here, as the baseline the tables are measured against.
uint16_t BitwiseCrc16(const uint8_t* data, std::size_t size) {
  unsigned crc = 0xFFFFu;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= static_cast<unsigned>(data[i]) << 8;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000u) != 0 ? (crc << 1) ^ 0x1021u : crc << 1;
  }
  return static_cast<uint16_t>(crc);
}

uint32_t BitwiseCrc32(const uint8_t* data, std::size_t size) {
  uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1u) != 0 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
  }
  return ~crc;
}

const std::vector<uint8_t>& FullPayload() {
  static const std::vector<uint8_t> payload = [] {
    std::vector<uint8_t> bytes(kMaxPayloadLength);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 31 + 7);
    return bytes;
  }();
  return payload;
}

template <typename Crc>
void RunCrc(benchmark::State& state, Crc crc) {
  const std::vector<uint8_t>& payload = FullPayload();
  for (auto _ : state) {
    benchmark::DoNotOptimize(payload.data());
    benchmark::DoNotOptimize(crc(payload.data(), payload.size()));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(payload.size()));
}

void BM_Crc32Table(benchmark::State& state) { RunCrc(state, kesto::lidar::Crc32); }
void BM_Crc32Bitwise(benchmark::State& state) { RunCrc(state, BitwiseCrc32); }
void BM_Crc16Table(benchmark::State& state) { RunCrc(state, kesto::lidar::Crc16); }
void BM_Crc16Bitwise(benchmark::State& state) { RunCrc(state, BitwiseCrc16); }
BENCHMARK(BM_Crc32Table);
BENCHMARK(BM_Crc32Bitwise);
BENCHMARK(BM_Crc16Table);
BENCHMARK(BM_Crc16Bitwise);

void BM_VerifyAndDecodeFullFrame(benchmark::State& state) {
  const kesto::lidar::SdkProtocol codec;
  kesto::lidar::ProtocolCommand command;
  command.cmd_id = 0x0300;
  command.data = FullPayload().data();
  command.data_len = static_cast<uint16_t>(kMaxPayloadLength);
  std::vector<uint8_t> frame(kMaxFrameLength, 0);
  int length = 0;
  if (codec.EncodeFrame(frame.data(), kMaxFrameLength, length, command) != 0 ||
      length != static_cast<int>(kMaxFrameLength)) {
    state.SkipWithError("encoding the frame failed");
    return;
  }
  kesto::lidar::ProtocolCommand decoded;
  for (auto _ : state) {
    benchmark::DoNotOptimize(frame.data());
    const bool ok = codec.VerifyFrame(frame.data(), kMaxFrameLength) &&
                    codec.DecodeFrame(frame.data(), kMaxFrameLength, decoded);
    benchmark::DoNotOptimize(ok);
    benchmark::DoNotOptimize(decoded);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kMaxFrameLength);
}
BENCHMARK(BM_VerifyAndDecodeFullFrame);

}  // namespace

BENCHMARK_MAIN();
