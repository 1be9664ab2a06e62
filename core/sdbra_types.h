// SPDX-License-Identifier: GPL-3.0-or-later
// The shared dynamic array types: 16-bit samples, 32-bit and 64-bit floats.
#pragma once

#include <cstdint>
#include <vector>

namespace murmelin {

using tsmallintarr = std::vector<int16_t>;
using tsinglearr = std::vector<float>;
using tdoublearr = std::vector<double>;

// One block of 16-bit samples for the wave output; with two channels left samples sit at even
// and right samples at odd indexes.
using TWaveChunk = std::vector<int16_t>;

}  // namespace murmelin
