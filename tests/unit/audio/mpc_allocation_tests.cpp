// SPDX-License-Identifier: GPL-3.0-or-later
// A steady playback allocates nothing: neither the player nor the service nor the posting of
// the notifications. Counted with a replacement of the global allocation functions.
#include <atomic>
#include <cstdlib>
#include <new>

#include "mpc_test_support.h"

namespace {
std::atomic<long> allocations{0};
}

void* operator new(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace murmelin::testing {
namespace {

using Allocation = PlayerTest;

TEST_F(Allocation, ASteadyPlaybackAllocatesNothing) {
  TMPCPlay p;
  p.set_nChans(2);
  p.set_sfTot(88200);
  uint32_t seed = 1;
  p.set_OnStash([&](TWaveChunk& arr, int32_t&, bool&) {
    for (auto& s : arr) {
      seed = seed * 1664525u + 1013904223u;
      s = static_cast<int16_t>(seed >> 16);
    }
  });
  tb->set_keep_played(false);
  p.Run();
  // Warm up: the first round of notifications may size the event queue and the pools.
  for (int k = 0; k < 20; ++k) ASSERT_TRUE(play_one());
  const long before = allocations.load();
  int played = 0;
  for (int k = 0; k < 200; ++k) played += play_one() ? 1 : 0;
  const long during = allocations.load() - before;
  EXPECT_EQ(played, 200);
  EXPECT_EQ(during, 0) << "allocations while playing 200 buffers";
  p.Stop();
}

}  // namespace
}  // namespace murmelin::testing
