#include "file_manager.h"

#include <exception>
#include <filesystem>
#include <system_error>

#include "kit_log.h"

namespace kesto::lidar {

namespace fs = std::filesystem;

namespace {

using TreeVisitor = std::function<void(const fs::path& parent, const LogFileEntry& entry)>;

// Depth-first walk over `directory`. Symbolic links are reported neither as files nor entered,
// so a link cannot lead a walk (or a deletion) out of the store or round in a loop.
bool WalkTree(const fs::path& directory, const std::string& prefix, const TreeVisitor& visit) {
  std::error_code ec;
  fs::directory_iterator it(directory, ec);
  if (ec) {
    KESTO_LOG_ERROR("get directory stat error");
    return false;
  }
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    std::error_code status_ec;
    const fs::file_status status = it->symlink_status(status_ec);
    if (status_ec) continue;
    LogFileEntry entry;
    try {
      entry.name = it->path().filename().string();
    } catch (const std::exception&) {
      continue;  // a name this platform's narrow encoding cannot hold is none of ours
    }
    entry.relative_path = prefix.empty() ? entry.name : prefix + "/" + entry.name;
    if (fs::is_directory(status)) {
      WalkTree(it->path(), entry.relative_path, visit);
    } else if (fs::is_regular_file(status)) {
      std::error_code size_ec;
      const uintmax_t size = it->file_size(size_ec);
      entry.size = size_ec ? 0 : static_cast<uint64_t>(size);
      visit(directory, entry);
    }
  }
  return true;
}

// Steps 2 to 4 of giving a hidden file its finished name, shared by the single rename and the
// bulk one.
bool RenameHidden(const fs::path& directory, const std::string& hidden_name) {
  std::error_code ec;
  const fs::path hidden = directory / hidden_name;
  if (!fs::exists(hidden, ec)) {
    KESTO_LOG_WARN("The file to be renamed : {} does not exist ", hidden_name);
    return false;
  }
  const std::string normal_name = hidden_name.substr(1);
  const fs::path normal = directory / normal_name;
  std::error_code remove_ec;
  fs::remove(normal, remove_ec);
  if (remove_ec) {
    KESTO_LOG_WARN("Failed to remove the existing file: {}. errno: {}", normal_name,
                   remove_ec.value());
  }
  std::error_code rename_ec;
  fs::rename(hidden, normal, rename_ec);
  if (rename_ec) {
    KESTO_LOG_WARN("Rename hidden file {} failed. errno: {}", hidden_name, rename_ec.value());
    return false;
  }
  return true;
}

// "." and ".." are directory entries, not hidden files.
bool IsHidden(const std::string& name) {
  return name.size() > 1 && name[0] == '.' && name != "..";
}

}  // namespace

bool PathExists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::path(path), ec);
}

bool MakeDir(const std::string& path) {
  std::error_code ec;
  const fs::path dir(path);
  if (fs::create_directory(dir, ec)) return true;
  return !ec && fs::is_directory(dir, ec);
}

uint64_t GetDirTotalSize(const std::string& directory) {
  uint64_t total = 0;
  WalkTree(fs::path(directory), std::string(),
           [&total](const fs::path&, const LogFileEntry& entry) { total += entry.size; });
  return total;
}

bool GetFileNames(const std::string& directory, FileNameMap& names) {
  return WalkTree(fs::path(directory), std::string(),
                  [&names](const fs::path&, const LogFileEntry& entry) {
                    if (!StoreFileName(entry.name, names)) {
                      KESTO_LOG_ERROR("StoreFileName {} failed", entry.name);
                    }
                  });
}

bool StoreFileName(const std::string& name, FileNameMap& names) {
  if (name.empty()) return false;
  names.emplace(LogFileKey(name), name);  // after any equal key
  return true;
}

bool ChangeHiddenFiles(const std::string& directory) {
  return WalkTree(fs::path(directory), std::string(),
                  [](const fs::path& parent, const LogFileEntry& entry) {
                    if (IsHidden(entry.name)) RenameHidden(parent, entry.name);
                  });
}

bool ChangeCurrentFileName(const std::string& directory, const std::string& hidden_name) {
  if (!IsHidden(hidden_name)) return false;
  return RenameHidden(fs::path(directory), hidden_name);
}

bool ForEachLogFile(const std::string& directory,
                    const std::function<void(const LogFileEntry&)>& visit) {
  return WalkTree(fs::path(directory), std::string(),
                  [&visit](const fs::path&, const LogFileEntry& entry) { visit(entry); });
}

}  // namespace kesto::lidar
