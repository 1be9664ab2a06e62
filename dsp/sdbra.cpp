// SPDX-License-Identifier: GPL-3.0-or-later
#include "sdbra.h"

#include <chrono>

#include "exceptions.h"

namespace murmelin {

namespace {
uint32_t random_source_state = 0;
}

void seed_random_source_from(uint64_t ticks) { random_source_state = static_cast<uint32_t>(ticks); }

void seed_random_source() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  seed_random_source_from(static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));
}

void set_random_state(uint32_t s) { random_source_state = s; }

uint32_t random_state() { return random_source_state; }

double random_value() {
  random_source_state = random_next_state(random_source_state);
  return random_state_value(random_source_state);
}

int16_t double_to_smallint(bool dither, double x) {
  if (std::isnan(x)) throw EInvalidOp();
  if (!dither) return double_to_smallint_nodither(x);
  const double r1 = random_value();
  const double r2 = random_value();
  const double d = r1 - r2;
  double v;
  if (x > 32765.0) {
    v = 32765.0 + d;
  } else if (x < -32766.0) {
    v = -32766.0 + d;
  } else {
    v = x + d;
  }
  return static_cast<int16_t>(round_half_even(v));
}

}  // namespace murmelin
