#ifndef KESTO_TESTS_SHM_PATTERN_H_
#define KESTO_TESTS_SHM_PATTERN_H_

#include <cstddef>
#include <cstdint>

namespace kesto::test {

// A byte pattern that differs at every offset and for every seed, so a shifted or partial copy
// shows up.
inline std::uint8_t PatternByte(std::size_t i, unsigned seed) {
  return static_cast<std::uint8_t>((i * 131u + seed * 7u + (i >> 8)) & 0xFFu);
}

inline void FillPattern(std::uint8_t* data, std::size_t size, unsigned seed) {
  for (std::size_t i = 0; i < size; ++i) data[i] = PatternByte(i, seed);
}

inline bool HasPattern(const std::uint8_t* data, std::size_t size, unsigned seed) {
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] != PatternByte(i, seed)) return false;
  }
  return true;
}

}  // namespace kesto::test

#endif  // KESTO_TESTS_SHM_PATTERN_H_
