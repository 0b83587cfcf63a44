#ifndef KESTO_PLATFORM_SHARED_MEMORY_H_
#define KESTO_PLATFORM_SHARED_MEMORY_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace kesto::platform {

// Outcome of SharedMemory::Open. The two failures are kept apart because callers report them
// differently: the object itself could not be had, or it exists but cannot be mapped at the
// size asked for.
enum class ShmResult {
  kOk,
  kOpenFailed,  // the named object could not be created or opened
  kMapFailed,   // the object exists but a view of the asked size could not be mapped
};

// A named shared-memory block, mapped read/write: opened if it exists, created zero-filled if
// not. Two processes (or two objects in one process) that open the same name see the same bytes.
//
// Win32: a file mapping on the paging file named exactly as given; the object lives while any
// handle or view exists. POSIX: shm_open("/" + name) with mode 0600, grown to the asked size when
// it is smaller (growing is idempotent, so two sides starting at once cannot race); the object
// outlives the processes until Unlink.
//
// The object owns its handle and view and releases both on Close or destruction. Not thread-safe;
// the mapped bytes are shared without any synchronisation.
class SharedMemory {
 public:
  SharedMemory() = default;
  ~SharedMemory();
  SharedMemory(const SharedMemory&) = delete;
  SharedMemory& operator=(const SharedMemory&) = delete;
  SharedMemory(SharedMemory&& other) noexcept;
  SharedMemory& operator=(SharedMemory&& other) noexcept;

  // Closes any current mapping first. On failure nothing stays open and error() says why.
  ShmResult Open(const std::string& name, std::size_t size);
  void Close();

  bool is_open() const { return data_ != nullptr; }
  std::uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }
  // Text of the last failure (operating-system call and its error), empty after success.
  const std::string& error() const { return error_; }

  // Removes the name so that the next Open creates a fresh, zero-filled object. POSIX only: on
  // Win32 the object disappears with its last handle, and this returns true. Elsewhere false
  // when the name did not exist or could not be removed.
  static bool Unlink(const std::string& name);

 private:
  void Release();

  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::intptr_t handle_ = -1;  // HANDLE on Win32, file descriptor on POSIX
  std::string error_;
};

}  // namespace kesto::platform

#endif  // KESTO_PLATFORM_SHARED_MEMORY_H_
