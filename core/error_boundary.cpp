// SPDX-License-Identifier: GPL-3.0-or-later
#include "error_boundary.h"

#include <cstdio>

namespace murmelin {

namespace {
exception_reporter& reporter_slot() {
  static exception_reporter slot;
  return slot;
}
}  // namespace

void set_exception_reporter(exception_reporter reporter) { reporter_slot() = std::move(reporter); }

void report_exception(const std::exception& e) noexcept {
  try {
    if (reporter_slot()) {
      reporter_slot()(e);
      return;
    }
  } catch (...) {
    // The handler itself failed; fall through to standard error so nothing is lost.
  }
  std::fprintf(stderr, "Murmelin: %s\n", e.what());
}

}  // namespace murmelin
