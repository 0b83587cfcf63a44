#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "shared_memory.h"

namespace kesto::platform {
namespace {

std::string ErrorText(const char* call) {
  return std::string(call) + " failed: error " + std::to_string(GetLastError());
}

}  // namespace

ShmResult SharedMemory::Open(const std::string& name, std::size_t size) {
  Close();
  error_.clear();
  // Opens the existing object when a peer created it first; that is not an error.
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                                      static_cast<DWORD>(static_cast<unsigned long long>(size) >> 32),
                                      static_cast<DWORD>(size & 0xFFFFFFFFu), name.c_str());
  if (mapping == nullptr) {
    error_ = ErrorText("CreateFileMappingA");
    return ShmResult::kOpenFailed;
  }
  // An existing object smaller than the asked size makes this fail instead of faulting later.
  void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, size);
  if (view == nullptr) {
    error_ = ErrorText("MapViewOfFile");
    CloseHandle(mapping);
    return ShmResult::kMapFailed;
  }
  data_ = static_cast<std::uint8_t*>(view);
  size_ = size;
  handle_ = reinterpret_cast<std::intptr_t>(mapping);
  return ShmResult::kOk;
}

void SharedMemory::Release() {
  if (data_ != nullptr) UnmapViewOfFile(data_);
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

bool SharedMemory::Unlink(const std::string&) { return true; }

}  // namespace kesto::platform
