// SPDX-License-Identifier: GPL-3.0-or-later
// Shared routines: the program-wide random source, the conversion of a 64-bit float to a
// 16-bit sample, and numbers read from text with a full stop.
#pragma once

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <string_view>

#include "sdbra_types.h"

namespace murmelin {

// The random source: one 32-bit state for the whole program, used from one thread.
// Each value advances the state by state := state * 134775813 + 1 (mod 2^32) and returns
// state / 2^32, a float in [0, 1) with 32-bit resolution.

// Seeds the state from a monotonic high-resolution clock; the program calls it once at start-up.
void seed_random_source();
// Seeds the state from a clock reading: its low 32 bits become the state.
void seed_random_source_from(uint64_t ticks);

void set_random_state(uint32_t s);
uint32_t random_state();

// Advances the state and returns the new value in [0, 1).
double random_value();

// One step of the recurrence and the value that belongs to a state, for code that keeps the
// state in a local variable for a while (and writes it back with set_random_state).
constexpr uint32_t random_next_state(uint32_t s) { return s * 134775813u + 1u; }
constexpr double random_state_value(uint32_t s) { return static_cast<double>(s) * (1.0 / 4294967296.0); }

// Rounds to the nearest integer, ties to even, for |x| well below 2^51 (exact double arithmetic
// in the default rounding mode; no library call).
inline double round_half_even(double x) {
#if FLT_EVAL_METHOD == 0
  constexpr double magic = 6755399441055744.0;  // 1.5 * 2^52: the sum keeps no fraction bits
  return (x + magic) - magic;
#else
  return std::nearbyint(x);
#endif
}

// Converts x to a 16-bit sample.
// Without dither: above 32767 gives 32767, below -32768 gives -32768, otherwise x rounded to
// the nearest integer, ties to even.
// With dither (d = r1 - r2, two successive values of the random source, r1 first): above
// 32765 gives 32765 + d rounded, below -32766 gives -32766 + d rounded, otherwise x + d
// rounded; the result lies between -32767 and 32766.
// A NaN raises EInvalidOp.
int16_t double_to_smallint(bool dither, double x);

// The no-dither conversion for hot loops (x must not be NaN).
inline int16_t double_to_smallint_nodither(double x) {
  if (x > 32767.0) return 32767;
  if (x < -32768.0) return -32768;
  return static_cast<int16_t>(round_half_even(x));
}

// Converts decimal text to a float with the full stop as the decimal separator, whatever the
// user's locale (the locale is never consulted). Leading and trailing blanks are allowed, a
// sign, a fraction and an exponent too; group separators are not. Raises EConvertError:
// "Cannot convert empty string to number" for an empty text, "'<text>' is not a valid floating
// point value" for anything else that is not a finite number.
double str_to_float_dot(std::string_view text);

}  // namespace murmelin
