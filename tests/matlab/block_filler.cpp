// Fills the shared blocks with crafted content for the Octave tests, as the writers would: the
// version-5 block through the bridge's own writer from crafted packets, the legacy block byte by
// byte as an external writer would. The Octave scripts know the same formulas and check the
// plug-ins' matrices against them.
//
//   block_filler unlink          remove both blocks (POSIX), so the next mapping is fresh
//   block_filler v5-imu          IMU packet: timestamp 5000000001, six known floats
//   block_filler v5-points T     point packet of type T (1-3), timestamp 4000000000 + T
//   block_filler v5-type B       data-type byte B only, as no packet of the kit would write it
//   block_filler legacy          the legacy block: value i = (-1)^i (1001 i + 1), six floats
//
// Exits 0 on success, 1 when a block cannot be mapped, 2 on bad arguments.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "block_bytes.h"
#include "legacy_block_layout.h"
#include "packet_block_layout.h"
#include "packet_block_writer.h"
#include "shared_memory.h"

namespace {

using kesto::platform::SharedMemory;
using kesto::test::PutF32;
using kesto::test::PutLe;
namespace v5 = kesto::block;

struct Datagram {
  Datagram(std::uint8_t type, std::uint64_t timestamp) {
    bytes[v5::kPacketDataTypeOffset] = type;
    PutLe(bytes.data() + v5::kPacketTimestampOffset, timestamp, 8);
  }
  std::uint8_t* data() { return bytes.data() + v5::kPacketDataOffset; }
  const KestoLidarEthernetPacket* packet() const {
    return reinterpret_cast<const KestoLidarEthernetPacket*>(bytes.data());
  }
  std::array<std::uint8_t, 8192> bytes{};
};

void ImuPacket(std::uint8_t* block) {
  Datagram imu(0, 5000000001ull);
  const float values[6] = {0.5f, -1.25f, 3.75f, 100.0f, -0.015625f, 9.80665f};
  for (std::size_t j = 0; j < 6; ++j) PutF32(imu.data() + 4 * j, values[j]);
  kesto::bridge::WriteImuPacket(block, imu.packet());
}

// Record k: type 1 (-(k+1)*100000, 7k, 2147483647-k), type 2 (-k, k-48, -32768+k),
// type 3 (4294967295-k, 65535-k, 100k); attributes k and 255-k for every type.
bool PointPacket(std::uint8_t* block, int type) {
  const std::size_t size = v5::RecordSize(static_cast<std::uint8_t>(type));
  if (size == 0) return false;
  Datagram points(static_cast<std::uint8_t>(type), 4000000000ull + static_cast<unsigned>(type));
  for (std::int64_t k = 0; k < 96; ++k) {
    std::uint8_t* r = points.data() + static_cast<std::size_t>(k) * size;
    const auto put = [](std::uint8_t* p, std::int64_t v, std::size_t n) {
      PutLe(p, static_cast<std::uint64_t>(v), n);
    };
    if (type == 1) {
      put(r, -(k + 1) * 100000, 4), put(r + 4, 7 * k, 4), put(r + 8, 2147483647 - k, 4);
    } else if (type == 2) {
      put(r, -k, 2), put(r + 2, k - 48, 2), put(r + 4, -32768 + k, 2);
    } else {
      put(r, 4294967295 - k, 4), put(r + 4, 65535 - k, 2), put(r + 6, 100 * k, 2);
    }
    r[size - 2] = static_cast<std::uint8_t>(k);
    r[size - 1] = static_cast<std::uint8_t>(255 - k);
  }
  kesto::bridge::WritePointPacket(block, points.packet());
  return true;
}

void LegacyBlock(std::uint8_t* block) {
  namespace legacy = kesto::legacy_block;
  for (std::int64_t i = 0; i < 288; ++i) {
    const std::int64_t v = (i % 2 == 1 ? -1 : 1) * (i * 1001 + 1);
    PutLe(block + 4 * i, static_cast<std::uint64_t>(v), 4);
  }
  for (std::size_t j = 0; j < 6; ++j) {
    PutF32(block + legacy::kFloatOffset + 4 * j, 0.25f * static_cast<float>(j + 1) - 1.0f);
  }
  block[legacy::kBlockSize - 1] = 0x5A;
}

int Usage() {
  std::fprintf(stderr, "usage: block_filler unlink|v5-imu|v5-points T|v5-type B|legacy\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  if (command == "unlink") {
    SharedMemory::Unlink(v5::kBlockName);
    SharedMemory::Unlink(kesto::legacy_block::kBlockName);
    return 0;
  }
  const bool legacy = command == "legacy";
  SharedMemory block;
  const auto result = legacy ? block.Open(kesto::legacy_block::kBlockName, kesto::legacy_block::kBlockSize)
                             : block.Open(v5::kBlockName, v5::kBlockSize);
  if (result != kesto::platform::ShmResult::kOk) {
    std::fprintf(stderr, "block_filler: %s\n", block.error().c_str());
    return 1;
  }
  if (legacy) {
    LegacyBlock(block.data());
  } else if (command == "v5-imu") {
    ImuPacket(block.data());
  } else if (command == "v5-points" && argc == 3) {
    if (!PointPacket(block.data(), std::atoi(argv[2]))) return Usage();
  } else if (command == "v5-type" && argc == 3) {
    block.data()[v5::kDataTypeOffset] = static_cast<std::uint8_t>(std::atoi(argv[2]));
  } else {
    return Usage();
  }
  return 0;
}
