#ifndef KESTO_LIDAR_HANDLE_TEXT_H_
#define KESTO_LIDAR_HANDLE_TEXT_H_
// A lidar's handle is its IPv4 address as a 32-bit value in network byte order: the value's
// bytes in memory are the four octets, first octet first, whatever the host's byte order. These
// two pure functions turn it into its dotted text and back, formatting by hand (no inet_ntoa,
// whose static buffer is shared between threads). Safe from any thread.
#include <cstdint>
#include <string>
#include <string_view>

namespace kesto::lidar {

// The dotted text of a handle: "a.b.c.d", at most 15 characters.
std::string HandleToText(uint32_t handle);
// The handle of a dotted text of four decimal octets; 0xFFFFFFFF for anything else (as the
// platform's dotted-address conversion answers an unparsable text).
uint32_t TextToHandle(std::string_view text);
// The handle of four address bytes, first octet first.
uint32_t BytesToHandle(const uint8_t (&octets)[4]);

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_HANDLE_TEXT_H_
