#ifndef KESTO_LIDAR_WIRE_TEXT_H_
#define KESTO_LIDAR_WIRE_TEXT_H_
// Text that came from a lidar (serial numbers and the like) is untrusted: before it reaches the
// console it is made printable, so a lidar cannot send terminal control sequences to it.
#include <string>
#include <string_view>

namespace kesto::lidar {

// `text` with every byte outside printable ASCII replaced by '?'.
inline std::string PrintableWireText(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte > 0x7E) c = '?';
  }
  return out;
}

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_WIRE_TEXT_H_
