#ifndef KESTO_LIDAR_LOG_STORE_LAYOUT_H_
#define KESTO_LIDAR_LOG_STORE_LAYOUT_H_

// Where the log store puts things: its directory, one directory per log type, the names of the
// files. Pure functions of their arguments, safe from any thread.
//
// Everything a lidar sends that ends up in a path (its serial number, the log type, the file
// index) goes through these, and each result is a single plain path component, so every file
// the kit creates lies in <lidar_log_path>/lidar_log/type_<n>/ with n in 0..255.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kesto::lidar {

// Longest serial-number part of a file name; longer serial numbers are cut.
constexpr std::size_t kMaxSerialNumberPartLength = 32;
// What a serial number that leaves nothing usable becomes.
constexpr const char* kUnknownSerialNumber = "unknown_sn";

// The serial number as a safe file-name part: it ends at the first zero byte; every byte other
// than an ASCII letter, digit, '-' or '_' becomes '_' (so no separator, no ".", no control or
// non-ASCII byte and none of <>:"|?* survives); it is cut to kMaxSerialNumberPartLength; a name
// Windows reserves for a device (CON, PRN, AUX, NUL, COM0-9, LPT0-9, any case) gets a leading
// '_'; an empty result becomes kUnknownSerialNumber.
std::string SafeFileNamePart(std::string_view serial_number);

// The store: `configured_path`, "/" unless it already ends with one, "lidar_log/". An empty
// path means the working directory ("./lidar_log/"), never the root of the file system.
std::string LogStoreDirectory(const std::string& configured_path);

// The directory of one log type under `base`: base, "/" unless it ends with one, "type_<n>".
std::string LogTypeDirectory(const std::string& base, uint8_t log_type);

// The name a file carries while it is written: ".", stamp, "_", serial number part, "_", log
// type, "_", file index, ".dat". `safe_serial_number` must come from SafeFileNamePart.
std::string HiddenLogFileName(const std::string& time_stamp, const std::string& safe_serial_number,
                              uint8_t log_type, uint8_t file_index);

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_LOG_STORE_LAYOUT_H_
