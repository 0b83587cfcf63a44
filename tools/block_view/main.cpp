// block-view: what MATLAB would read, printed as text once per interval, so a terminal shows that
// data flows through cloudpump without MATLAB or Octave: the newest packet of "brenic-shm v5"
// decoded as data=lidartap5; decodes it, and how many packets "kesto-stream v1" gained, from how
// many lidars, and how many a reader lost. It only reads the blocks (opening a missing one
// creates it zero-filled, as the plug-ins do). Ends on Ctrl-C or after --seconds.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "interrupt.h"
#include "packet_block_layout.h"
#include "packet_block_matrix.h"
#include "packet_stream_layout.h"
#include "shared_memory.h"
#include "stream_reader.h"

namespace {

constexpr char kUsage[] =
    "block-view: prints, once per interval, the newest packet of \"brenic-shm v5\" as\n"
    "data=lidartap5; decodes it, and the packets \"kesto-stream v1\" gained. Ctrl-C ends it.\n"
    "  --every S     seconds between lines (default 2)\n"
    "  --seconds S   end after S seconds (default: at Ctrl-C)\n";

void PrintNewestPacket(const kesto::platform::SharedMemory& block) {
  double matrix[kesto::matlab::kPacketMatrixElements];
  if (!kesto::matlab::ConvertPacketBlock(block.data(), matrix)) {
    std::printf("brenic-shm v5: no packet yet\n");
    return;
  }
  // Flat, column-major: data type, point timestamp, six IMU values, IMU timestamp, then the
  // records from element 10 on, five per point. The newest packet's kind decides what is filled.
  const double* m = matrix;
  if (m[0] == 0) {
    std::printf("brenic-shm v5: newest packet IMU at %.0f: %.4f %.4f %.4f %.4f %.4f %.4f\n", m[8],
                m[2], m[3], m[4], m[5], m[6], m[7]);
  } else {
    std::printf("brenic-shm v5: newest packet points of type %.0f at %.0f, first point %.0f %.0f %.0f\n",
                m[0], m[1], m[10], m[11], m[12]);
  }
}

}  // namespace

int main(int argc, char** argv) {
  double every = 2;
  double seconds = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    if ((flag == "--every" || flag == "--seconds") && i + 1 < argc) {
      (flag == "--every" ? every : seconds) = std::atof(argv[++i]);
    } else {
      std::fputs(kUsage, flag == "--help" ? stdout : stderr);
      return flag == "--help" ? 0 : 2;
    }
  }
  if (every <= 0) every = 2;

  kesto::platform::SharedMemory block;
  kesto::platform::SharedMemory stream;
  if (block.Open(kesto::block::kBlockName, kesto::block::kBlockSize) !=
          kesto::platform::ShmResult::kOk ||
      stream.Open(kesto::stream::kBlockName, kesto::stream::kBlockSize) !=
          kesto::platform::ShmResult::kOk) {
    std::fprintf(stderr, "block-view: cannot map the blocks: %s%s\n", block.error().c_str(),
                 stream.error().c_str());
    return 1;
  }
  kesto::platform::InstallInterruptHandler();

  // The ring holds a few seconds of traffic: it is read every fifth of a second, whatever the
  // printing interval, so this viewer itself never falls a ring behind.
  kesto::matlab::StreamReader reader;
  std::vector<kesto::matlab::StreamPacket> packets;
  reader.Read(stream.data(), packets);  // from the newest packet on
  const auto start = std::chrono::steady_clock::now();
  const auto interval = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(every));
  auto next_line = start + interval;
  std::uint64_t returned = 0;
  std::uint64_t lost = 0;
  std::set<std::uint32_t> lidars;
  while (!kesto::platform::InterruptRaised()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    packets.clear();
    const kesto::matlab::StreamCounts counts = reader.Read(stream.data(), packets);
    returned += counts.returned;
    lost += counts.lost;
    for (const auto& packet : packets) lidars.insert(packet.meta.handle);
    const auto now = std::chrono::steady_clock::now();
    if (now < next_line) continue;
    next_line += interval;
    PrintNewestPacket(block);
    std::printf("kesto-stream v1: %llu packets (%.0f/s) from %zu lidars, %llu lost\n",
                static_cast<unsigned long long>(returned), static_cast<double>(returned) / every,
                lidars.size(), static_cast<unsigned long long>(lost));
    std::fflush(stdout);
    returned = 0;
    lost = 0;
    lidars.clear();
    if (seconds > 0 && std::chrono::duration<double>(now - start).count() >= seconds) break;
  }
  return 0;
}
