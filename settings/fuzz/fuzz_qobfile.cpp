// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer entry: arbitrary bytes as a settings file.
#include <cstddef>
#include <cstdint>

#include "qobfile_fuzz_one.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  murmelin::qobfile_fuzz_one(data, size);
  return 0;
}
