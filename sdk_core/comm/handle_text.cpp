#include "handle_text.h"

#include <cstring>

namespace kesto::lidar {

std::string HandleToText(uint32_t handle) {
  uint8_t octets[4];
  std::memcpy(octets, &handle, sizeof octets);
  std::string text;
  text.reserve(15);
  for (int i = 0; i < 4; ++i) {
    if (i > 0) text.push_back('.');
    text += std::to_string(octets[i]);
  }
  return text;
}

uint32_t TextToHandle(std::string_view text) {
  constexpr uint32_t kNone = 0xFFFFFFFFu;
  uint8_t octets[4];
  size_t at = 0;
  for (int i = 0; i < 4; ++i) {
    if (i > 0) {
      if (at >= text.size() || text[at] != '.') return kNone;
      ++at;
    }
    unsigned value = 0;
    size_t digits = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 4) {
      value = value * 10 + static_cast<unsigned>(text[at] - '0');
      ++at;
      ++digits;
    }
    if (digits == 0 || digits > 3 || value > 255) return kNone;
    octets[i] = static_cast<uint8_t>(value);
  }
  if (at != text.size()) return kNone;
  return BytesToHandle(octets);
}

uint32_t BytesToHandle(const uint8_t (&octets)[4]) {
  uint32_t handle;
  std::memcpy(&handle, octets, sizeof handle);
  return handle;
}

}  // namespace kesto::lidar
