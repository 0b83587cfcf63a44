// Writes the small recording the Octave test of lidarread reads, through the kit's capture
// writer as cloudpump --record does, with packets derived from their number n that the script
// derives too:
//   the host's discovery request, then 127.0.0.10's discovery reply (device type 9, serial
//   "ORB-0001") at the first time stamp T = 1765400000 s;
//   data packet n = 0..7 at T + 10 ms (n + 1), from 127.0.0.10 (n even) or 127.0.0.11 (n odd),
//   data type n % 4, its 36-byte header and 96 records (IMU: six floats), byte i of it
//   (131 n + 7 i) % 256 except byte 10 (the data type) and the timestamp 1000 n + 7 at byte 28;
//   a command frame from 127.0.0.10 on the data port after the packets, which gives no row.
//
//   capture_filler PATH
//
// Exits 0 on success, 1 when the file cannot be written, 2 on bad arguments.
#include <cstdio>
#include <string>
#include <vector>

#include "capture_packets.h"
#include "capture_writer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes DataPacket(std::size_t n) {
  const std::uint8_t type = static_cast<std::uint8_t>(n % 4);
  const std::size_t record_sizes[] = {0, 14, 8, 10};
  return kesto::test::DerivedDataPacket(type, n, 36 + (type == 0 ? 24 : 96 * record_sizes[type]));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: capture_filler PATH\n");
    return 2;
  }
  constexpr std::uint32_t kHost = 0x0100007Fu, kFirst = 0x0A00007Fu, kSecond = 0x0B00007Fu;
  constexpr std::uint64_t kStart = 1765400000ull * 1000000000ull, kStep = 10000000ull;
  kesto::capture::CaptureWriter writer;
  bool ok = writer.Open(argv[1], "capture_filler");
  auto write = [&](std::uint64_t time_ns, std::uint32_t src, std::uint16_t src_port, const Bytes& payload) {
    kesto::capture::DatagramRecord record;
    record.time_ns = time_ns;
    record.src_ip = src;
    record.dst_ip = src == kHost ? 0xFFFFFFFFu : kHost;
    record.src_port = src_port;
    record.dst_port = src == kHost ? 55000 : 57000;
    record.payload = payload.data();
    record.length = static_cast<std::uint32_t>(payload.size());
    ok = ok && writer.Write(record);
  };
  using kesto::test::CommandFrame;
  write(kStart, kHost, 56000,
        CommandFrame(kesto::lidar::kCmdIdDiscovery, kesto::lidar::kCommandTypeCommand, {}));
  write(kStart, kFirst, 55000, kesto::test::DiscoveryReply(9, "ORB-0001"));
  for (std::size_t n = 0; n < 8; ++n) {
    write(kStart + kStep * (n + 1), n % 2 == 0 ? kFirst : kSecond, 56000, DataPacket(n));
  }
  write(kStart + kStep * 9, kFirst, 56000, CommandFrame(0x0102, kesto::lidar::kCommandTypeCommand, Bytes(40, 1)));
  ok = writer.Close() && ok;
  if (!ok) {
    std::fprintf(stderr, "capture_filler: %s\n", writer.error().c_str());
    return 1;
  }
  return 0;
}
