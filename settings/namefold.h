// SPDX-License-Identifier: GPL-3.0-or-later
// Folding of section and key names for comparison: UTF-8 to UTF-16, cut to the first 100000
// characters, Unicode lower-casing, ended at the first NUL.
#pragma once

#include <QString>
#include <cstdint>
#include <string>

namespace murmelin {

constexpr int kMaxFoldedNameLength = 100000;

// Bytes that are not valid UTF-8 each become one lone low surrogate (U+DC00 + byte), which no
// valid UTF-8 text can produce: two different names never fold alike merely because they are
// not valid UTF-8.
QString fold_name(const std::string& name);

// A 64-bit hash of the folded name, the same for names that fold alike; ASCII names are hashed
// without building the folded text.
uint64_t folded_name_hash(const std::string& name);

}  // namespace murmelin
