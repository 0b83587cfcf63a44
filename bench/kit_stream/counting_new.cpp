// Replacements of the global operator new and delete for the benchmark binary: malloc and free,
// plus a count per process and, for threads that asked for it, per thread.
#include "counting_new.h"

#include <cstdlib>
#include <new>

namespace {

std::atomic<std::uint64_t> g_process_allocations{0};
// Constant-initialised, so reading it is safe on any thread at any time.
thread_local std::atomic<std::uint64_t>* t_thread_allocations = nullptr;

void Count() {
  g_process_allocations.fetch_add(1, std::memory_order_relaxed);
  if (t_thread_allocations != nullptr) {
    t_thread_allocations->fetch_add(1, std::memory_order_relaxed);
  }
}

void* Allocate(std::size_t size) noexcept {
  Count();
  return std::malloc(size == 0 ? 1 : size);
}

void* AllocateAligned(std::size_t size, std::align_val_t alignment) noexcept {
  Count();
  const std::size_t align = static_cast<std::size_t>(alignment);
  // aligned_alloc wants a size that is a multiple of the alignment.
  const std::size_t rounded = (size + align - 1) / align * align;
  return std::aligned_alloc(align, rounded == 0 ? align : rounded);
}

template <typename Pointer>
Pointer OrThrow(Pointer p) {
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

}  // namespace

namespace kesto::bench {

void CountAllocationsOnThisThread(std::atomic<std::uint64_t>* counter) {
  t_thread_allocations = counter;
}

std::uint64_t AllocationsInProcess() {
  return g_process_allocations.load(std::memory_order_relaxed);
}

}  // namespace kesto::bench

void* operator new(std::size_t size) { return OrThrow(Allocate(size)); }
void* operator new[](std::size_t size) { return OrThrow(Allocate(size)); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new(std::size_t size, std::align_val_t alignment) {
  return OrThrow(AllocateAligned(size, alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return OrThrow(AllocateAligned(size, alignment));
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return AllocateAligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return AllocateAligned(size, alignment);
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
