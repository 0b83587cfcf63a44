#include "octave_frame.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "data_packet.h"
#include "packet_stream_layout.h"
#include "packet_stream_writer.h"
#include "shared_memory.h"

namespace kesto::bench {

namespace {

constexpr std::uint32_t kLidarHandle = 0x0200007Fu;  // 127.0.0.2 in network byte order
constexpr std::uint8_t kOrbitDevType = 9;

std::uint64_t WallClockNs() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                        std::chrono::system_clock::now().time_since_epoch())
                                        .count());
}

}  // namespace

int FillStreamBlock(const std::string& what) {
  if (what == "unlink") {
    platform::SharedMemory::Unlink(stream::kBlockName);
    return 0;
  }
  char* end = nullptr;
  const unsigned long long count = std::strtoull(what.c_str(), &end, 10);
  if (what.empty() || *end != '\0' || count > 1000000) {
    std::fprintf(stderr, "--fill-stream: unlink or a packet count up to 1000000\n");
    return 2;
  }
  platform::SharedMemory block;
  if (block.Open(stream::kBlockName, stream::kBlockSize) != platform::ShmResult::kOk) {
    std::fprintf(stderr, "--fill-stream: %s\n", block.error().c_str());
    return 1;
  }
  bridge::PacketStreamWriter writer;
  if (!writer.Attach(block.data(), block.size())) return 1;
  alignas(8) std::uint8_t packet[lidar_sim::kMaxPointPacketSize] = {};
  for (unsigned long long i = 0; i < count; ++i) {
    const std::uint64_t n = writer.next_index();
    lidar_sim::RoomScene::FillPoints(1, n, 0.0, packet + lidar_sim::kDataHeaderLength);
    lidar_sim::WriteDataHeader(packet, lidar_sim::kMaxPointPacketSize, 96, 1,
                               static_cast<std::uint32_t>(n), WallClockNs());
    writer.Write(kLidarHandle, kOrbitDevType, reinterpret_cast<const KestoLidarEthernetPacket*>(packet),
                 lidar_sim::kMaxPointPacketSize);
  }
  return 0;
}

OctaveFrameFigures RunOctaveFrameBench(const std::string& self, int packets, int frames) {
  OctaveFrameFigures figures;
  const std::string cli = KESTO_BENCH_OCTAVE_CLI;
  const std::string mex_dir = KESTO_BENCH_MEX_DIR;
  const std::string script = KESTO_BENCH_OCTAVE_SCRIPT;
  if (cli.empty() || mex_dir.empty()) {
    figures.note = "no Octave build of the plug-ins in this build";
    return figures;
  }
  const std::filesystem::path output =
      std::filesystem::temp_directory_path() / ("kesto-octave-frame-" + std::to_string(WallClockNs()) + ".txt");
  std::ostringstream command;
  command << '"' << cli << "\" --no-gui -q \"" << script << "\" \"" << self << "\" \"" << mex_dir
          << "\" " << packets << ' ' << frames << " > \"" << output.string() << "\" 2>&1";
  const int status = std::system(command.str().c_str());
  std::ifstream in(output);
  std::string line;
  while (std::getline(in, line)) {
    std::printf("  octave: %s\n", line.c_str());
    std::istringstream words(line);
    std::string tag, name;
    double value = 0;
    if (words >> tag >> name >> value && tag == "result") figures.values[name] = value;
  }
  in.close();
  std::error_code ignored;
  std::filesystem::remove(output, ignored);
  figures.ran = status == 0 && !figures.values.empty();
  if (!figures.ran) figures.note = "octave-cli failed (status " + std::to_string(status) + ")";
  return figures;
}

}  // namespace kesto::bench
