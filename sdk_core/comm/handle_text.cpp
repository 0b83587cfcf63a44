#include "handle_text.h"

#include <cstring>
#include <limits>

namespace kesto::lidar {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// One to three decimal digits and nothing else.
bool ReadStrict(std::string_view text, int64_t& value) {
  if (text.empty() || text.size() > 3) return false;
  value = 0;
  for (char c : text) {
    if (!IsDigit(c)) return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

// Reads a component the way the standard string-to-int conversion does (leading blanks and a
// sign, digits up to the first other character), but reports a missing number or a value beyond
// 32 bits through its result instead of an exception.
bool ReadLikeStoi(std::string_view text, int64_t& value) {
  size_t at = 0;
  while (at < text.size() && IsBlank(text[at])) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    negative = text[at] == '-';
    ++at;
  }
  const size_t first_digit = at;
  int64_t magnitude = 0;
  for (; at < text.size() && IsDigit(text[at]); ++at) {
    magnitude = magnitude * 10 + (text[at] - '0');
    if (magnitude > int64_t{std::numeric_limits<int32_t>::max()} + 1) return false;
  }
  if (at == first_digit) return false;
  value = negative ? -magnitude : magnitude;
  return value >= std::numeric_limits<int32_t>::min() &&
         value <= std::numeric_limits<int32_t>::max();
}

}  // namespace

DottedParse ParseDotted(std::string_view text, DottedRules rules, std::string_view separator) {
  DottedParse result;
  const auto fail = [&result](DottedFault fault) {
    result.fault = fault;
    result.octets = {};
    return result;
  };
  if (separator.empty()) return fail(DottedFault::kEmptySeparator);
  const bool strict = rules == DottedRules::kStrict;
  size_t start = 0;
  // Every component is read, also past the fourth, so that a count fault names the real count
  // and an unreadable component after the fourth is still the fault reported.
  while (start <= text.size()) {
    const size_t end = text.find(separator, start);
    const bool last = end == std::string_view::npos;
    const std::string_view piece = text.substr(start, last ? std::string_view::npos : end - start);
    if (last && piece.empty() && !strict) break;  // nothing after the last separator
    int64_t value = 0;
    if (!(strict ? ReadStrict(piece, value) : ReadLikeStoi(piece, value))) {
      result.component = piece;
      return fail(DottedFault::kUnreadableComponent);
    }
    if (value < 0 || value > 255) {
      result.value = value;
      return fail(DottedFault::kOutOfRange);
    }
    if (result.count < result.octets.size()) {
      result.octets[result.count] = static_cast<uint8_t>(value);
    }
    ++result.count;
    if (last) break;
    start = end + separator.size();
  }
  if (result.count != result.octets.size()) return fail(DottedFault::kComponentCount);
  return result;
}

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
  const DottedParse parsed = ParseDotted(text, DottedRules::kStrict);
  return parsed.ok() ? BytesToHandle(parsed.octets) : 0xFFFFFFFFu;
}

uint32_t BytesToHandle(const uint8_t (&octets)[4]) {
  uint32_t handle;
  std::memcpy(&handle, octets, sizeof handle);
  return handle;
}

uint32_t BytesToHandle(const std::array<uint8_t, 4>& octets) {
  uint32_t handle;
  std::memcpy(&handle, octets.data(), sizeof handle);
  return handle;
}

}  // namespace kesto::lidar
