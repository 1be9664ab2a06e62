// SPDX-License-Identifier: GPL-3.0-or-later
// An open-addressing table from a 64-bit key to a node position, for the store's lookups: one
// flat array, so building it for a file of many nodes touches memory about once per node.
#pragma once

#include <cstdint>
#include <vector>

namespace murmelin {

class node_index {
public:
  void clear() {
    fslots.clear();
    fcount = 0;
  }

  // Room for n keys without growing.
  void reserve(std::size_t n) {
    if (capacity_for(n) > fslots.size()) rehash(capacity_for(n));
  }

  // Position of key, or -1.
  int32_t find(uint64_t key) const {
    if (fslots.empty()) return -1;
    for (std::size_t i = home(key);; i = (i + 1) & (fslots.size() - 1)) {
      const slot& s = fslots[i];
      if (s.pos < 0) return -1;
      if (s.key == key) return s.pos;
    }
  }

  // Sets key's position, adding the key when it is new.
  void assign(uint64_t key, int32_t pos) {
    if (capacity_for(fcount + 1) > fslots.size()) rehash(capacity_for(2 * fcount + 1));
    fcount += place(key, pos);
  }

  // Sets the positions first, first + 1, ... of keys[0 .. n - 1], in that order. The slots
  // are fetched a few keys ahead, so a large run does not wait on memory key by key.
  void assign_run(const uint64_t* keys, std::size_t n, int32_t first) {
    reserve(fcount + n);
    constexpr std::size_t ahead = 8;
    for (std::size_t i = 0; i < n; ++i) {
      if (i + ahead < n) __builtin_prefetch(&fslots[home(keys[i + ahead])], 1);
      fcount += place(keys[i], first + static_cast<int32_t>(i));
    }
  }

private:
  struct slot {
    uint64_t key = 0;
    int32_t pos = -1;  // -1: empty
  };

  // At most half full.
  static std::size_t capacity_for(std::size_t n) {
    std::size_t c = 16;
    while (c < 2 * n) c *= 2;
    return c;
  }

  std::size_t home(uint64_t key) const {
    return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15u) >> 32) & (fslots.size() - 1);
  }

  // True when the key was new.
  bool place(uint64_t key, int32_t pos) {
    for (std::size_t i = home(key);; i = (i + 1) & (fslots.size() - 1)) {
      slot& s = fslots[i];
      if (s.pos < 0) {
        s = {key, pos};
        return true;
      }
      if (s.key == key) {
        s.pos = pos;
        return false;
      }
    }
  }

  void rehash(std::size_t capacity) {
    std::vector<slot> old(capacity);
    old.swap(fslots);
    for (const slot& s : old)
      if (s.pos >= 0) place(s.key, s.pos);
  }

  std::vector<slot> fslots;
  std::size_t fcount = 0;
};

}  // namespace murmelin
