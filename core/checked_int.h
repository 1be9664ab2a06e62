// SPDX-License-Identifier: GPL-3.0-or-later
// Checked 32-bit signed integer arithmetic and index checks: nothing wraps silently.
#pragma once

#include <cstddef>
#include <cstdint>

#include "exceptions.h"

namespace murmelin {

inline int32_t checked_add(int32_t a, int32_t b) {
  int32_t r;
  if (__builtin_add_overflow(a, b, &r)) throw EIntOverflow();
  return r;
}

inline int32_t checked_sub(int32_t a, int32_t b) {
  int32_t r;
  if (__builtin_sub_overflow(a, b, &r)) throw EIntOverflow();
  return r;
}

inline int32_t checked_mul(int32_t a, int32_t b) {
  int32_t r;
  if (__builtin_mul_overflow(a, b, &r)) throw EIntOverflow();
  return r;
}

// Narrows a wider integer to 32 bits signed, raising the overflow error when it does not fit.
template <typename T>
inline int32_t checked_int32(T v) {
  int32_t r;
  if (__builtin_add_overflow(v, 0, &r)) throw EIntOverflow();
  return r;
}

// Raises the range error unless 0 <= index < size.
inline void check_index(long long index, std::size_t size) {
  if (index < 0 || static_cast<unsigned long long>(index) >= size) throw ERangeError();
}

// Element access that raises the range error for an index outside the container.
template <typename Container>
inline auto& checked_at(Container& c, long long index) {
  check_index(index, c.size());
  return c[static_cast<std::size_t>(index)];
}

}  // namespace murmelin
