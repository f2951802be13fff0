#include "support/allocation_counter.h"

#include <atomic>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define DIALSAVER_COUNT_ALLOCATIONS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define DIALSAVER_COUNT_ALLOCATIONS 0
#endif
#endif
#ifndef DIALSAVER_COUNT_ALLOCATIONS
#define DIALSAVER_COUNT_ALLOCATIONS 1
#endif

namespace allocation_counter {
namespace {
std::atomic<std::size_t> g_count{0};
}  // namespace

bool available() { return DIALSAVER_COUNT_ALLOCATIONS != 0; }
std::size_t count() { return g_count.load(std::memory_order_relaxed); }

}  // namespace allocation_counter

#if DIALSAVER_COUNT_ALLOCATIONS
namespace {
void* counted_allocation(std::size_t size) {
  allocation_counter::g_count.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) { return counted_allocation(size); }
void* operator new[](std::size_t size) { return counted_allocation(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
#endif
