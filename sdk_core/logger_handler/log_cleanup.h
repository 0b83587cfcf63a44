#ifndef KESTO_LIDAR_LOG_CLEANUP_H_
#define KESTO_LIDAR_LOG_CLEANUP_H_

// Keeps a log-type directory under its size limit by removing its oldest finished files.
// The choice is a pure function of a listing and a limit; the pass applies it to a directory.

#include <cstdint>
#include <string>
#include <vector>

#include "file_manager.h"

namespace kesto::lidar {

constexpr uint64_t kMiB = 1048576;

// Byte limits of the two bounded log types ("type_0" and "type_1"); other types are unbounded.
struct LogStoreLimits {
  uint64_t type0 = 150 * kMiB;  // before a configuration is accepted
  uint64_t type1 = 50 * kMiB;
};

// Limits from a cache size of `cache_size_mb` megabytes (1 and above): up to 800 MB three
// quarters and one quarter, each rounded down to whole MiB; above 800 MB, all but 200 MiB and
// 200 MiB.
LogStoreLimits ComputeLogStoreLimits(uint64_t cache_size_mb);

// Which files of `listing` (one directory tree, sizes included) to remove so that the total
// size is at most `limit`: finished files in the order of their 19-character time-stamp key
// (oldest first; equal keys in listing order), until what remains fits. Hidden files are files
// a writer may still have open: they are never chosen, though their sizes count. Returns the
// chosen relative paths, in removal order; may leave the total above the limit when only
// hidden files remain.
std::vector<std::string> ChooseFilesToDelete(const std::vector<LogFileEntry>& listing,
                                             uint64_t limit);

// One clean-up pass over `directory` with `limit`: nothing when the directory does not exist
// or cannot be listed (logged once by the listing), otherwise removes what ChooseFilesToDelete
// names through RemoveOldestToFit. Callers run one pass per directory at a time.
std::size_t RunCleanupPass(const std::string& directory, uint64_t limit);

// Removes from `directory` the files ChooseFilesToDelete names for `listing` (a listing of that
// directory). A file that cannot be removed is logged once, keeps counting against the limit
// and is passed over for the next oldest, so the store ends within the limit whenever enough
// removable finished files exist; the next pass tries the stuck one again. Returns the number
// of files actually removed.
std::size_t RemoveOldestToFit(const std::string& directory, std::vector<LogFileEntry> listing,
                              uint64_t limit);

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_LOG_CLEANUP_H_
