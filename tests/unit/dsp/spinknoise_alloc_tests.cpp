// SPDX-License-Identifier: GPL-3.0-or-later
// Filling blocks must not touch the heap: every global allocation is counted here.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "spinknoise.h"

namespace {
std::atomic<long> allocations{0};
}

// The replacements below pair malloc with free; GCC cannot see that once they are inlined.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t n) {
  ++allocations;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

using namespace murmelin;

TEST(PinkNoiseFill, FillingBlocksAllocatesNothing) {
  tpinknoise g;
  g.build_filter_bank(44100);
  g.start_onset(44100);
  TWaveChunk block(4096);
  const long before = allocations.load();
  bool overloaded = false;
  for (int i = 0; i < 50; ++i) overloaded |= g.fill_block(block, 4096, -10, true, true, i % 2 == 0);
  overloaded |= g.fill_block(block, 4096, 20, false, true, true);
  EXPECT_EQ(allocations.load(), before);
  EXPECT_TRUE(overloaded);
  // The counter itself works.
  auto* probe = new int(1);
  EXPECT_EQ(allocations.load(), before + 1);
  delete probe;
}
