// Replaces the global operator new of the benchmark program with a counting
// one over malloc, and delete with free to match. The array and nothrow forms
// reach these in libstdc++; nothing measured uses the aligned ones.
#include "bench/allocation_count.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace tslflash::bench {
namespace {

std::atomic<std::uint64_t> allocations{0};

}  // namespace

std::uint64_t AllocationCount() { return allocations.load(std::memory_order_relaxed); }

}  // namespace tslflash::bench

void* operator new(std::size_t size) {
  tslflash::bench::allocations.fetch_add(1, std::memory_order_relaxed);
  // malloc(0) may return null; new must not.
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}

void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
