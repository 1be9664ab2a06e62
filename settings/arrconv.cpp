// SPDX-License-Identifier: GPL-3.0-or-later
#include "arrconv.h"

#include <cmath>

#include "exceptions.h"

namespace murmelin {

namespace {
// The smallest magnitude that rounds to infinity as a float: FLT_MAX plus half its last unit.
constexpr double kSingleOverflow = 0x1.ffffffp127;
}  // namespace

float double_to_single(double value) {
  if (std::isfinite(value) && std::fabs(value) >= kSingleOverflow) throw EOverflow();
  return static_cast<float>(value);
}

tdoublearr single_to_double_arr(const tsinglearr& a) {
  return tdoublearr(a.begin(), a.end());
}

tcomplexarr singlecomplex_to_complex_arr(const tsinglecomplexarr& a) {
  tcomplexarr r;
  r.reserve(a.size());
  for (const auto& c : a) r.push_back(tcomplex{c.re, c.im});
  return r;
}

tsinglearr double_to_single_arr(const tdoublearr& a) {
  tsinglearr r;
  r.reserve(a.size());
  for (double v : a) r.push_back(double_to_single(v));
  return r;
}

tsinglecomplexarr complex_to_singlecomplex_arr(const tcomplexarr& a) {
  tsinglecomplexarr r;
  r.reserve(a.size());
  for (const auto& c : a) r.push_back(tsinglecomplex{double_to_single(c.re), double_to_single(c.im)});
  return r;
}

}  // namespace murmelin
