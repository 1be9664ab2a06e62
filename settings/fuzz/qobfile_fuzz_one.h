// SPDX-License-Identifier: GPL-3.0-or-later
// One round of the settings file robustness check, shared by the fuzz target and the corpus
// replay test: load arbitrary bytes, read every node with every typed read, save, load the saved
// file again and save it once more. Aborts when anything breaks the store's promises.
#pragma once

#include <cstddef>
#include <cstdint>

namespace murmelin {

void qobfile_fuzz_one(const uint8_t* data, std::size_t size);

}  // namespace murmelin
