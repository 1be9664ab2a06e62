// SPDX-License-Identifier: GPL-3.0-or-later
// The 80-bit extended float of the settings file, converted to and from double by plain integer
// arithmetic (no long double): 64-bit significand with an explicit integer bit in bytes 0..7,
// sign (bit 15) and 15-bit exponent biased by 16383 in bytes 8..9, all little-endian.
#pragma once

#include <array>
#include <cstdint>

namespace murmelin {

using textended80 = std::array<uint8_t, 10>;

// Exact: every double, including zeros, subnormals, infinities and NaN, has an extended form.
textended80 double_to_extended(double value);

// Rounds to the nearest double, ties to even. Infinities stay infinities and NaN stays NaN
// (sign kept). A finite value beyond the double range raises EOverflow; a value below the
// smallest subnormal becomes a zero of its sign. Unnormals (integer bit clear, exponent not
// 0) and pseudo-denormals are read by their numeric value.
double extended_to_double(const uint8_t* bytes);

}  // namespace murmelin
