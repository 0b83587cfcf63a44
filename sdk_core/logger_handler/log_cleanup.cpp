#include "log_cleanup.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <system_error>

#include "kit_log.h"

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
  return RemoveOldestToFit(directory, std::move(listing), limit);
}

std::size_t RemoveOldestToFit(const std::string& directory, std::vector<LogFileEntry> listing,
                              uint64_t limit) {
  std::size_t removed = 0;
  // A file that cannot be removed still takes its room: it leaves the choice, its size comes off
  // the limit, and the next oldest file is chosen in its place.
  uint64_t room = limit;
  for (;;) {
    const std::vector<std::string> chosen = ChooseFilesToDelete(listing, room);
    bool any_stuck = false;
    for (const std::string& victim : chosen) {
      const auto entry = std::find_if(listing.begin(), listing.end(), [&](const LogFileEntry& e) {
        return e.relative_path == victim;
      });
      std::error_code ec;
      const std::filesystem::path path = std::filesystem::path(directory) / victim;
      if (std::filesystem::remove(path, ec)) {
        ++removed;
      } else if (ec) {
        KESTO_LOG_WARN("Remove log file {} failed: {}", path.string(), ec.message());
        room -= std::min(room, entry->size);
        any_stuck = true;
      }
      // Gone either way (or already gone before this pass): its room is free.
      listing.erase(entry);
    }
    if (!any_stuck) return removed;
  }
}

}  // namespace kesto::lidar
