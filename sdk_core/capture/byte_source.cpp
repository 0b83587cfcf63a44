#include "byte_source.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kesto::capture {

size_t ByteSource::Append(std::vector<uint8_t>& out, size_t count) {
  constexpr size_t kChunk = 64 * 1024;
  size_t done = 0;
  while (done < count && failure_.empty()) {
    const size_t want = std::min(kChunk, count - done);
    const size_t start = out.size();
    out.resize(start + want);
    const size_t got = ReadSome(out.data() + start, want);
    out.resize(start + got);
    done += got;
    offset_ += got;
    if (got < want) break;
  }
  return done;
}

namespace {

// std::FILE rather than a stream: binary, sequential and the same on glibc and the Windows CRT.
class FileSource final : public ByteSource {
 public:
  explicit FileSource(const std::string& path) : path_(path), file_(std::fopen(path.c_str(), "rb")) {
    if (file_ == nullptr) SetFailure("cannot open " + path + ": " + std::strerror(errno));
  }
  ~FileSource() override {
    if (file_ != nullptr) std::fclose(file_);
  }
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

 protected:
  size_t ReadSome(uint8_t* out, size_t count) override {
    if (file_ == nullptr) return 0;
    const size_t got = std::fread(out, 1, count, file_);
    if (got < count && std::ferror(file_)) SetFailure("cannot read " + path_);
    return got;
  }

 private:
  std::string path_;
  std::FILE* file_;
};

class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}

 protected:
  size_t ReadSome(uint8_t* out, size_t count) override {
    const size_t got = std::min(count, bytes_.size() - next_);
    if (got != 0) std::memcpy(out, bytes_.data() + next_, got);
    next_ += got;
    return got;
  }

 private:
  std::vector<uint8_t> bytes_;
  size_t next_ = 0;
};

}  // namespace

std::unique_ptr<ByteSource> MakeFileSource(const std::string& path) {
  return std::make_unique<FileSource>(path);
}

std::unique_ptr<ByteSource> MakeMemorySource(std::vector<uint8_t> bytes) {
  return std::make_unique<MemorySource>(std::move(bytes));
}

}  // namespace kesto::capture
