// block_probe: the block "brenic-shm v5" read through lidartap5's own glue in the fake MEX host,
// against the packets lidar-sim recorded as the last of each of its streams. The Windows build
// runs it under Wine beside cloudpump.exe, where the block lives in Wine's file mappings and no
// Octave can reach it.
//
// Usage: block_probe RECORD_DIR LAST_TYPE [DEADLINE_SECONDS]
//        block_probe --fill | --unlink | --changes SECONDS
// RECORD_DIR holds A.point and A.imu for each lidar A; LAST_TYPE is the data type of the last
// write (1: the point streams ended last, 0: the IMU streams did), which decides whether the
// matrix shows the point records or the IMU values. Both lidars write the one block and which of
// them wrote last is not knowable, so the point part may come from either lidar's last point
// packet and the IMU part from either lidar's last IMU packet; nothing else matches. Polls until
// a match or the deadline (default 60 s). Exit status 0 on a match, 1 otherwise.
// --fill makes a fresh block of bytes 0xA5 before a run, so that a byte the bridge fails to
// write shows, whatever an earlier run left there; where the block dies with its last handle
// (Windows) the next writer finds a fresh zero-filled one anyway. --unlink removes the block's
// name after a run where it outlives its users (POSIX). --changes waits at most SECONDS for the
// block to be written again, mid-run: status 0 when lidartap5 gives another matrix than at the
// probe's start (a lidar that was down streams again).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "fake_mex_host.h"
#include "little_endian.h"
#include "packet_block_layout.h"
#include "shared_memory.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kRows = 5;
constexpr std::size_t kCols = 98;
constexpr std::size_t kTimestampAt = 28;
constexpr std::size_t kDataAt = 36;

using kesto::LoadF32;
using kesto::LoadI32;
using kesto::LoadU64;

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The matrix (column-major) of a block whose last write was of `type` (0: the IMU packet, 1: the
// point packet), the other part holding the other packet.
std::vector<double> Expected(const Bytes& point, const Bytes& imu, int type) {
  std::vector<double> m(kRows * kCols, 0.0);
  m[0] = type;
  m[1] = static_cast<double>(LoadU64(point.data() + kTimestampAt));
  m[3 + kRows] = static_cast<double>(LoadU64(imu.data() + kTimestampAt));
  if (type == 0) {
    for (std::size_t j = 0; j < 6; ++j) m[2 + j] = LoadF32(imu.data() + kDataAt + 4 * j);
    return m;
  }
  for (std::size_t k = 0; k < 96; ++k) {
    const std::uint8_t* r = point.data() + kDataAt + 14 * k;
    double* column = m.data() + kRows * (k + 2);
    column[0] = LoadI32(r);
    column[1] = LoadI32(r + 4);
    column[2] = LoadI32(r + 8);
    column[3] = r[12];
    column[4] = r[13];
  }
  return m;
}

struct Candidate {
  std::string name;
  std::vector<double> matrix;
};

}  // namespace

int main(int argc, char** argv) {
  using kesto::test::FakeMexHost;
  namespace platform = kesto::platform;
  const std::string mode = argc == 2 ? argv[1] : "";
  if (argc == 3 && std::string(argv[1]) == "--changes") {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(static_cast<long long>(std::atof(argv[2]) * 1000));
    const kesto::test::MexCall first = FakeMexHost::Call(mexFunction, 1, 0);
    if (first.failed) {
      std::fprintf(stderr, "block_probe: lidartap5 failed: %s\n", first.error.c_str());
      return 1;
    }
    for (;;) {
      const kesto::test::MexCall now = FakeMexHost::Call(mexFunction, 1, 0);
      if (!now.failed && now.values != first.values) {
        std::printf("block_probe: the block is written again\n");
        FakeMexHost::Clear();
        return 0;
      }
      if (std::chrono::steady_clock::now() >= deadline) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::fprintf(stderr, "block_probe: the block was not written again in %s s\n", argv[2]);
    FakeMexHost::Clear();
    return 1;
  }
  const int last_type = argc >= 3 ? std::atoi(argv[2]) : -1;
  if (mode != "--fill" && mode != "--unlink" &&
      (argc < 3 || argc > 4 || (last_type != 0 && last_type != 1))) {
    std::fprintf(stderr, "usage: block_probe RECORD_DIR LAST_TYPE [DEADLINE_SECONDS] | --fill | --unlink | "
                 "--changes SECONDS\n");
    return 2;
  }
  if (mode == "--unlink") {
    platform::SharedMemory::Unlink(kesto::block::kBlockName);
    return 0;
  }
  if (mode == "--fill") {
    platform::SharedMemory::Unlink(kesto::block::kBlockName);
    platform::SharedMemory block;
    if (block.Open(kesto::block::kBlockName, kesto::block::kBlockSize) != platform::ShmResult::kOk) {
      std::fprintf(stderr, "block_probe: %s\n", block.error().c_str());
      return 1;
    }
    std::memset(block.data(), 0xA5, block.size());
    return 0;
  }
  const fs::path folder = argv[1];
  const double deadline_seconds = argc == 4 ? std::atof(argv[3]) : 60.0;

  std::vector<std::string> lidars;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
    if (entry.path().extension() == ".point") lidars.push_back(entry.path().stem().string());
  }
  if (lidars.empty()) {
    std::fprintf(stderr, "block_probe: no recorded point packet in %s\n", folder.string().c_str());
    return 1;
  }
  std::vector<Candidate> candidates;
  for (const std::string& p : lidars) {
    const Bytes point = ReadFile(folder / (p + ".point"));
    if (point.size() != 1380 || point[10] != 1) {
      std::fprintf(stderr, "block_probe: %s.point is not a type-1 packet of 1380 bytes\n", p.c_str());
      return 1;
    }
    for (const std::string& i : lidars) {
      const Bytes imu = ReadFile(folder / (i + ".imu"));
      if (imu.size() != 60 || imu[10] != 0) {
        std::fprintf(stderr, "block_probe: %s.imu is not an IMU packet of 60 bytes\n", i.c_str());
        return 1;
      }
      candidates.push_back(Candidate{"data type " + std::to_string(last_type) + ", points of " + p +
                                         ", IMU of " + i,
                                     Expected(point, imu, last_type)});
    }
  }

  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(static_cast<long long>(deadline_seconds * 1000));
  kesto::test::MexCall call;
  for (;;) {
    call = FakeMexHost::Call(mexFunction, 1, 0);
    if (call.failed || call.rows != kRows || call.cols != kCols) {
      std::fprintf(stderr, "block_probe: lidartap5 failed: %s\n", call.error.c_str());
      return 1;
    }
    for (const Candidate& c : candidates) {
      if (call.values == c.matrix) {
        std::printf("block_probe: lidartap5 gives the recorded packets (%s)\n", c.name.c_str());
        FakeMexHost::Clear();
        return 0;
      }
    }
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::printf("block_probe: lidartap5 gives type %.0f, point time %.0f, IMU time %.0f\n", call.values[0],
              call.values[1], call.values[3 + kRows]);
  for (const Candidate& c : candidates) {
    std::size_t differ = 0;
    for (std::size_t n = 0; n < c.matrix.size(); ++n) differ += c.matrix[n] != call.values[n];
    std::printf("  expected (%s): point time %.0f, IMU time %.0f, %zu elements differ\n", c.name.c_str(),
                c.matrix[1], c.matrix[3 + kRows], differ);
  }
  std::fprintf(stderr, "block_probe: the block does not hold the last packets lidar-sim sent\n");
  FakeMexHost::Clear();
  return 1;
}
