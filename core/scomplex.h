// SPDX-License-Identifier: GPL-3.0-or-later
// Complex number types: two 64-bit floats (re, im) and two 32-bit floats.
#pragma once

#include <vector>

namespace murmelin {

struct tcomplex {
  double re = 0.0;
  double im = 0.0;
  friend bool operator==(const tcomplex&, const tcomplex&) = default;
};

struct tsinglecomplex {
  float re = 0.0f;
  float im = 0.0f;
  friend bool operator==(const tsinglecomplex&, const tsinglecomplex&) = default;
};

using tcomplexarr = std::vector<tcomplex>;
using tsinglecomplexarr = std::vector<tsinglecomplex>;

}  // namespace murmelin
