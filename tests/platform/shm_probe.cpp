// shm_probe NAME SIZE fill SEED   writes the pattern of SEED into the block
// shm_probe NAME SIZE check SEED  exits 0 when the block holds the pattern of SEED, 1 otherwise
// shm_probe NAME SIZE zero        exits 0 when the block is all zeros
// Exit code 2: the block could not be opened.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "shared_memory.h"
#include "shm_pattern.h"

int main(int argc, char** argv) {
  if (argc < 4) return 3;
  kesto::platform::SharedMemory block;
  const std::size_t size = std::strtoul(argv[2], nullptr, 10);
  if (block.Open(argv[1], size) != kesto::platform::ShmResult::kOk) {
    std::fprintf(stderr, "%s\n", block.error().c_str());
    return 2;
  }
  const std::string op = argv[3];
  const unsigned seed = argc > 4 ? static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10)) : 0;
  if (op == "fill") {
    kesto::test::FillPattern(block.data(), size, seed);
    return 0;
  }
  if (op == "check") return kesto::test::HasPattern(block.data(), size, seed) ? 0 : 1;
  if (op == "zero") {
    for (std::size_t i = 0; i < size; ++i) {
      if (block.data()[i] != 0) return 1;
    }
    return 0;
  }
  return 3;
}
