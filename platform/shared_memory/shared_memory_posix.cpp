#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "shared_memory.h"

namespace kesto::platform {
namespace {

std::string ShmPath(const std::string& name) { return "/" + name; }

std::string ErrorText(const char* call) {
  const int err = errno;
  return std::string(call) + " failed: " + std::strerror(err) + " (" + std::to_string(err) + ")";
}

}  // namespace

ShmResult SharedMemory::Open(const std::string& name, std::size_t size) {
  Close();
  error_.clear();
  const int fd = ::shm_open(ShmPath(name).c_str(), O_RDWR | O_CREAT, 0600);
  if (fd < 0) {
    error_ = ErrorText("shm_open");
    return ShmResult::kOpenFailed;
  }
  // Grow, never shrink: a new object has size 0, and a peer may have sized it already. Growing
  // fills with zeros. An object we cannot grow is refused here rather than mapped past its end,
  // which would fault on first access.
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    error_ = ErrorText("fstat");
    ::close(fd);
    return ShmResult::kMapFailed;
  }
  if (static_cast<std::size_t>(st.st_size) < size &&
      ::ftruncate(fd, static_cast<off_t>(size)) != 0) {
    error_ = ErrorText("ftruncate");
    ::close(fd);
    return ShmResult::kMapFailed;
  }
  void* view = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (view == MAP_FAILED) {
    error_ = ErrorText("mmap");
    ::close(fd);
    return ShmResult::kMapFailed;
  }
  data_ = static_cast<std::uint8_t*>(view);
  size_ = size;
  handle_ = fd;
  return ShmResult::kOk;
}

void SharedMemory::Release() {
  if (data_ != nullptr) ::munmap(data_, size_);
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

bool SharedMemory::Unlink(const std::string& name) { return ::shm_unlink(ShmPath(name).c_str()) == 0; }

}  // namespace kesto::platform
