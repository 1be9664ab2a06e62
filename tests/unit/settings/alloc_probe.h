// SPDX-License-Identifier: GPL-3.0-or-later
// Records the largest single allocation made through operator new in this test program.
#pragma once

#include <cstddef>

namespace settings_test {
void reset_largest_allocation();
std::size_t largest_allocation();
}  // namespace settings_test
