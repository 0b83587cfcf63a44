#include "log_cleanup.h"

#include <map>
#include <filesystem>
#include <system_error>

namespace kesto::lidar {

namespace {

bool IsFinished(const std::string& name) { return !name.empty() && name[0] != '.'; }

}  // namespace

LogStoreLimits ComputeLogStoreLimits(uint64_t cache_size_mb) {
  LogStoreLimits limits;
  if (cache_size_mb <= 800) {
    limits.type0 = (3 * cache_size_mb / 4) * kMiB;
    limits.type1 = (cache_size_mb / 4) * kMiB;
  } else {
    limits.type0 = (cache_size_mb - 200) * kMiB;
    limits.type1 = 200 * kMiB;
  }
  return limits;
}

std::vector<std::string> ChooseFilesToDelete(const std::vector<LogFileEntry>& listing,
                                             uint64_t limit) {
  uint64_t total = 0;
  // The name map's order: equal keys stay in listing order.
  std::multimap<std::string, const LogFileEntry*> finished;
  for (const LogFileEntry& entry : listing) {
    total += entry.size;
    if (IsFinished(entry.name)) finished.emplace(LogFileKey(entry.name), &entry);
  }
  std::vector<std::string> chosen;
  for (const auto& [key, entry] : finished) {
    if (total <= limit) break;
    chosen.push_back(entry->relative_path);
    total -= entry->size;
  }
  return chosen;
}

std::size_t RunCleanupPass(const std::string& directory, uint64_t limit) {
  if (!PathExists(directory)) return 0;
  std::vector<LogFileEntry> listing;
  if (!ForEachLogFile(directory, [&listing](const LogFileEntry& entry) {
        listing.push_back(entry);
      })) {
    return 0;
  }
  std::size_t removed = 0;
  for (const std::string& victim : ChooseFilesToDelete(listing, limit)) {
    std::error_code ec;
    if (std::filesystem::remove(std::filesystem::path(directory) / victim, ec)) ++removed;
  }
  return removed;
}

}  // namespace kesto::lidar
