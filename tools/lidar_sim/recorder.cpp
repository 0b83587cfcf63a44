#include "recorder.h"

#include <cstdio>

#include "kit_log.h"

namespace kesto::lidar_sim {

std::string Recorder::Hex(const uint8_t* bytes, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * size);
  for (size_t i = 0; i < size; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0xF];
  }
  return text;
}

void Recorder::Event(const std::string& address, const std::string& line) {
  if (!enabled()) return;
  const std::string path = folder_ + "/" + address + ".events";
  // Opened per line, so a reader sees every line as soon as it is written, also while the
  // emulator runs.
  std::FILE* file = std::fopen(path.c_str(), "ab");
  if (file == nullptr) return ReportFailure(path);
  const std::string text = line + "\n";
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (std::fclose(file) != 0 || !written) ReportFailure(path);
}

void Recorder::Replace(const std::string& address, const std::string& suffix,
                       const uint8_t* bytes, size_t size) {
  if (!enabled()) return;
  const std::string path = folder_ + "/" + address + suffix;
  const std::string aside = path + ".partial";
  std::FILE* file = std::fopen(aside.c_str(), "wb");
  if (file == nullptr) return ReportFailure(path);
  const bool written = std::fwrite(bytes, 1, size, file) == size;
  if (std::fclose(file) != 0 || !written) {
    std::remove(aside.c_str());
    return ReportFailure(path);
  }
  // Windows' rename does not replace an existing file.
  if (std::rename(aside.c_str(), path.c_str()) != 0 &&
      (std::remove(path.c_str()) != 0 || std::rename(aside.c_str(), path.c_str()) != 0)) {
    std::remove(aside.c_str());
    ReportFailure(path);
  }
}

void Recorder::ReportFailure(const std::string& path) {
  if (failed_.insert(path).second) KESTO_LOG_ERROR("lidar-sim: cannot record into {}", path);
}

}  // namespace kesto::lidar_sim
