#ifndef KESTO_PLATFORM_LITTLE_ENDIAN_H_
#define KESTO_PLATFORM_LITTLE_ENDIAN_H_

// Little-endian values at any byte address, whatever the host's byte order and alignment rules.
// Everything the lidars send and the shared blocks hold is little-endian and unaligned: the
// frame codec, the key-value lists and the MATLAB readers all go through these.

#include <cstdint>
#include <cstring>

namespace kesto {

inline std::uint16_t LoadU16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

inline std::uint32_t LoadU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline std::uint64_t LoadU64(const std::uint8_t* p) {
  return static_cast<std::uint64_t>(LoadU32(p)) | (static_cast<std::uint64_t>(LoadU32(p + 4)) << 32);
}

// Two's complement reinterpretation without implementation-defined narrowing.
inline std::int16_t LoadI16(const std::uint8_t* p) {
  const std::uint16_t u = LoadU16(p);
  std::int16_t s;
  std::memcpy(&s, &u, sizeof s);
  return s;
}

inline std::int32_t LoadI32(const std::uint8_t* p) {
  const std::uint32_t u = LoadU32(p);
  std::int32_t s;
  std::memcpy(&s, &u, sizeof s);
  return s;
}

inline void StoreU16(std::uint8_t* p, std::uint16_t value) {
  p[0] = static_cast<std::uint8_t>(value);
  p[1] = static_cast<std::uint8_t>(value >> 8);
}

inline void StoreU32(std::uint8_t* p, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// IEEE-754 binary32, as every host this runs on stores float.
inline float LoadF32(const std::uint8_t* p) {
  static_assert(sizeof(float) == 4, "float is binary32");
  const std::uint32_t u = LoadU32(p);
  float f;
  std::memcpy(&f, &u, sizeof f);
  return f;
}

}  // namespace kesto

#endif  // KESTO_PLATFORM_LITTLE_ENDIAN_H_
