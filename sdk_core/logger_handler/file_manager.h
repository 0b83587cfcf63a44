#ifndef KESTO_LIDAR_FILE_MANAGER_H_
#define KESTO_LIDAR_FILE_MANAGER_H_

// Directory and file operations of the lidar log store. Every operation is stateless and safe
// from any thread; callers serialise their use of one directory (the clean-up thread runs one
// pass at a time, each writer renames only its own files, hidden files are renamed in bulk only
// before capture starts and after every writer has stopped).
//
// Log files are written under a hidden name (a leading "."); the same name without the "." is
// the finished file. Every name in the store starts with a 19-character time stamp, which orders
// files for deletion. Nothing here throws: the std::filesystem calls all take an error_code.

#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace kesto::lidar {

// Length of the "%Y-%m-%d_%H-%M-%S" stamp that starts every log file name.
constexpr std::size_t kLogFileKeyLength = 19;

// Log file names ordered by their first 19 characters; equal keys keep insertion order, and
// hidden names sort before every finished one because "." sorts before the digits.
using FileNameMap = std::multimap<std::string, std::string>;

// The ordering key of a log file name: its first 19 characters (all of a shorter name).
inline std::string LogFileKey(const std::string& name) { return name.substr(0, kLogFileKeyLength); }

bool PathExists(const std::string& path);
// Creates one directory level. True when it was created, or already exists as a directory.
bool MakeDir(const std::string& path);
// Bytes of every regular file in the tree (64-bit: single files beyond 4 GiB count in full).
// An unlistable directory logs "get directory stat error" and counts 0. Symbolic links are
// neither followed nor counted.
uint64_t GetDirTotalSize(const std::string& directory);
// Adds the bare name of every file in the tree to `names`. False when `directory` cannot be
// listed.
bool GetFileNames(const std::string& directory, FileNameMap& names);
// Inserts (first 19 characters, name); false for an empty name.
bool StoreFileName(const std::string& name, FileNameMap& names);
// Gives every hidden file in the tree its finished name, replacing a finished file of that name.
// False only when `directory` cannot be listed; single failures are logged and skipped.
bool ChangeHiddenFiles(const std::string& directory);
// Gives the hidden file `directory`/`hidden_name` its finished name. False for a name without a
// leading ".", a missing file or a failed rename.
bool ChangeCurrentFileName(const std::string& directory, const std::string& hidden_name);

// One regular file found by ForEachLogFile: its path relative to the walked directory (with
// '/' between levels), its bare name and its size.
struct LogFileEntry {
  std::string relative_path;
  std::string name;
  uint64_t size = 0;
};

// Walks the tree under `directory` in listing order, depth first, calling `visit` for every
// regular file. Subdirectories are entered, symbolic links are not followed. A directory that
// cannot be listed logs "get directory stat error"; false when that is `directory` itself.
bool ForEachLogFile(const std::string& directory,
                    const std::function<void(const LogFileEntry&)>& visit);

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_FILE_MANAGER_H_
