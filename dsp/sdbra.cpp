// SPDX-License-Identifier: GPL-3.0-or-later
#include "sdbra.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <string>

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

double str_to_float_dot(std::string_view text) {
  if (text.empty()) throw EConvertError("Cannot convert empty string to number");
  const auto blank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  std::string_view t = text;
  while (!t.empty() && blank(t.front())) t.remove_prefix(1);
  while (!t.empty() && blank(t.back())) t.remove_suffix(1);
  // from_chars reads a minus sign but no plus sign.
  if (t.size() > 1 && t.front() == '+' && t[1] != '-' && t[1] != '+') t.remove_prefix(1);
  double v = 0.0;
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v, std::chars_format::general);
  if (t.empty() || ec != std::errc() || end != t.data() + t.size() || !std::isfinite(v))
    throw EConvertError("'" + std::string(text) + "' is not a valid floating point value");
  return v;
}

}  // namespace murmelin
