#include "log_store_layout.h"

#include <array>

namespace kesto::lidar {

namespace {

bool IsSafeByte(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_';
}

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Windows opens the device instead of a file for these base names, whatever the case.
bool IsReservedDeviceName(const std::string& name) {
  static constexpr std::array<std::string_view, 4> kPlain = {"CON", "PRN", "AUX", "NUL"};
  std::string upper;
  for (char c : name) upper.push_back(Upper(c));
  for (std::string_view reserved : kPlain) {
    if (upper == reserved) return true;
  }
  return upper.size() == 4 && (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0) &&
         upper[3] >= '0' && upper[3] <= '9';
}

// An empty path is the working directory: appending "/" to it would name the root.
std::string WithSeparator(const std::string& path) {
  if (path.empty()) return "./";
  return path.back() == '/' ? path : path + "/";
}

}  // namespace

std::string SafeFileNamePart(std::string_view serial_number) {
  std::string safe;
  for (char c : serial_number) {
    if (c == '\0' || safe.size() == kMaxSerialNumberPartLength) break;
    safe.push_back(IsSafeByte(static_cast<unsigned char>(c)) ? c : '_');
  }
  if (safe.empty()) return kUnknownSerialNumber;
  if (IsReservedDeviceName(safe)) safe.insert(safe.begin(), '_');
  return safe;
}

std::string LogStoreDirectory(const std::string& configured_path) {
  return WithSeparator(configured_path) + "lidar_log/";
}

std::string LogTypeDirectory(const std::string& base, uint8_t log_type) {
  return WithSeparator(base) + "type_" + std::to_string(log_type);
}

std::string HiddenLogFileName(const std::string& time_stamp, const std::string& safe_serial_number,
                              uint8_t log_type, uint8_t file_index) {
  return "." + time_stamp + "_" + safe_serial_number + "_" + std::to_string(log_type) + "_" +
         std::to_string(file_index) + ".dat";
}

}  // namespace kesto::lidar
