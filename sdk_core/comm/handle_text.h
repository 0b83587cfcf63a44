#ifndef KESTO_LIDAR_HANDLE_TEXT_H_
#define KESTO_LIDAR_HANDLE_TEXT_H_
// The kit's one reader of dotted IPv4 text, and a lidar's handle in text and back.
//
// A lidar's handle is its IPv4 address as a 32-bit value in network byte order: the value's
// bytes in memory are the four octets, first octet first, whatever the host's byte order.
// Everything here is pure (no log line, no platform call: no inet_addr, whose answer to bad text
// is a valid address, and no inet_ntoa, whose static buffer is shared between threads). Safe
// from any thread.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kesto::lidar {

// How ParseDotted reads a text.
enum class DottedRules : uint8_t {
  // Exactly four components of one to three decimal digits, each at most 255, and nothing else:
  // the form HandleToText writes. For addresses compared as handles.
  kStrict,
  // The configuration text's rules: a component is read like the standard string-to-int
  // conversion (leading blanks, a sign, then digits up to the first other character, within 32
  // bits), must come to 0..255, and the text may end in one separator. What the configuration
  // checks accept is what the requests send and the sockets bind.
  kConfigText,
};

// Why a text was refused; the fields of DottedParse that go with each fault are named beside it.
enum class DottedFault : uint8_t {
  kNone,
  kEmptySeparator,
  kUnreadableComponent,  // `component`: the piece that is no number under the rules
  kOutOfRange,           // `value`: a number outside 0..255
  kComponentCount,       // `count`: how many components the text has, if not four
};

struct DottedParse {
  DottedFault fault = DottedFault::kNone;
  std::array<uint8_t, 4> octets{};  // first octet first; all zero unless fault is kNone
  std::string_view component;       // a view into the parsed text
  int64_t value = 0;
  size_t count = 0;

  bool ok() const { return fault == DottedFault::kNone; }
};

// Reads `text` as four components split at `separator` ("." for an address).
DottedParse ParseDotted(std::string_view text, DottedRules rules,
                        std::string_view separator = ".");

// The dotted text of a handle: "a.b.c.d", at most 15 characters.
std::string HandleToText(uint32_t handle);
// The handle of a text under the strict rules; 0xFFFFFFFF for anything else (as the platform's
// dotted-address conversion answers an unparsable text).
uint32_t TextToHandle(std::string_view text);
// The handle of four address bytes, first octet first.
uint32_t BytesToHandle(const uint8_t (&octets)[4]);
uint32_t BytesToHandle(const std::array<uint8_t, 4>& octets);

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_HANDLE_TEXT_H_
