#ifndef KESTO_TESTS_MATLAB_BLOCK_BYTES_H_
#define KESTO_TESTS_MATLAB_BLOCK_BYTES_H_

// Crafting shared blocks byte by byte, little-endian, at any offset: the reader tests build the
// blocks themselves rather than trusting any decoder.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace kesto::test {

inline void PutLe(std::uint8_t* p, std::uint64_t value, std::size_t bytes) {
  for (std::size_t i = 0; i < bytes; ++i) p[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

inline void PutF32(std::uint8_t* p, float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  PutLe(p, bits, 4);
}

// A block of `size` bytes placed `misalign` bytes into its buffer, so that no value in it
// is naturally aligned when misalign is odd.
class BlockBuffer {
 public:
  BlockBuffer(std::size_t size, std::size_t misalign) : buffer_(size + misalign, 0), offset_(misalign) {}
  std::uint8_t* data() { return buffer_.data() + offset_; }
  std::uint8_t& operator[](std::size_t i) { return data()[i]; }
  void Fill(std::size_t from, std::size_t to, std::uint8_t value) {
    std::memset(data() + from, value, to - from);
  }

 private:
  std::vector<std::uint8_t> buffer_;
  std::size_t offset_;
};

}  // namespace kesto::test

#endif  // KESTO_TESTS_MATLAB_BLOCK_BYTES_H_
