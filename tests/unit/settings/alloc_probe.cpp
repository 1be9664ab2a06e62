// SPDX-License-Identifier: GPL-3.0-or-later
#include "alloc_probe.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<std::size_t> largest{0};

void* allocate(std::size_t n) {
  std::size_t seen = largest.load();
  while (n > seen && !largest.compare_exchange_weak(seen, n)) {
  }
  return std::malloc(n == 0 ? 1 : n);
}
}  // namespace

namespace settings_test {
void reset_largest_allocation() { largest = 0; }
std::size_t largest_allocation() { return largest.load(); }
}  // namespace settings_test

// Every plain (non-aligned) form, so that allocation and release always pair malloc and free.
void* operator new(std::size_t n) {
  if (void* p = allocate(n)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return allocate(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return allocate(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
