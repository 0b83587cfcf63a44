#include "shared_memory.h"

#include <utility>

namespace kesto::platform {

SharedMemory::~SharedMemory() { Close(); }

SharedMemory::SharedMemory(SharedMemory&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      handle_(std::exchange(other.handle_, -1)),
      error_(std::move(other.error_)) {}

SharedMemory& SharedMemory::operator=(SharedMemory&& other) noexcept {
  if (this != &other) {
    Close();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    handle_ = std::exchange(other.handle_, -1);
    error_ = std::move(other.error_);
  }
  return *this;
}

void SharedMemory::Close() {
  Release();
  data_ = nullptr;
  size_ = 0;
  handle_ = -1;
}

}  // namespace kesto::platform
