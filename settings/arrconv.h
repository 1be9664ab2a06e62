// SPDX-License-Identifier: GPL-3.0-or-later
// Element-by-element conversions between the single- and double-precision array types.
#pragma once

#include "scomplex.h"
#include "sdbra_types.h"

namespace murmelin {

// Widening: exact.
tdoublearr single_to_double_arr(const tsinglearr& a);
tcomplexarr singlecomplex_to_complex_arr(const tsinglecomplexarr& a);

// Narrowing: each value rounded to the nearest 32-bit float, ties to even. A finite value that
// rounds beyond the 32-bit range raises EOverflow (and nothing is returned); infinities and
// NaN carry over as such.
float double_to_single(double value);
tsinglearr double_to_single_arr(const tdoublearr& a);
tsinglecomplexarr complex_to_singlecomplex_arr(const tcomplexarr& a);

}  // namespace murmelin
