#ifndef KESTO_CAPTURE_BYTE_SOURCE_H_
#define KESTO_CAPTURE_BYTE_SOURCE_H_

// Where the capture's bytes come from: a file read front to back, or a buffer in memory. The
// format readers see only sequential reads, so a file is never held whole.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace kesto::capture {

class ByteSource {
 public:
  virtual ~ByteSource() = default;

  // Appends up to `count` bytes to `out`, growing it only as bytes arrive (a damaged length
  // field costs no more memory than the input holds). Returns the number appended, which is
  // short only at the end of the input or on a read error.
  size_t Append(std::vector<uint8_t>& out, size_t count);

  // Bytes consumed so far: the offset of the next byte, for error texts.
  uint64_t offset() const { return offset_; }
  // Empty, or why the input could not be read (open or read failure).
  const std::string& failure() const { return failure_; }

 protected:
  // Reads up to `count` bytes into `out`; fewer only at the end or on failure.
  virtual size_t ReadSome(uint8_t* out, size_t count) = 0;
  void SetFailure(std::string text) { failure_ = std::move(text); }

 private:
  uint64_t offset_ = 0;
  std::string failure_;
};

std::unique_ptr<ByteSource> MakeFileSource(const std::string& path);
std::unique_ptr<ByteSource> MakeMemorySource(std::vector<uint8_t> bytes);

}  // namespace kesto::capture

#endif  // KESTO_CAPTURE_BYTE_SOURCE_H_
