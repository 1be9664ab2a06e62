// SPDX-License-Identifier: GPL-3.0-or-later
#include "extended80.h"

#include <bit>
#include <cstring>

#include "exceptions.h"

namespace murmelin {

namespace {

constexpr int kExtBias = 16383;
constexpr int kDoubleBias = 1023;
constexpr uint64_t kIntegerBit = uint64_t{1} << 63;

// m >> shift, rounded to nearest with ties to even; any shift >= 0.
uint64_t shift_right_rounded(uint64_t m, int shift) {
  if (shift <= 0) return m;
  if (shift > 64) return 0;  // below half of the last unit
  uint64_t kept = shift == 64 ? 0 : m >> shift;
  uint64_t half = uint64_t{1} << (shift - 1);
  uint64_t rest = shift == 64 ? m : m & ((uint64_t{1} << shift) - 1);
  if (rest > half || (rest == half && (kept & 1))) ++kept;
  return kept;
}

}  // namespace

textended80 double_to_extended(double value) {
  const uint64_t bits = std::bit_cast<uint64_t>(value);
  const bool negative = (bits >> 63) != 0;
  const int bexp = static_cast<int>((bits >> 52) & 0x7FF);
  const uint64_t frac = bits & ((uint64_t{1} << 52) - 1);

  int exp;
  uint64_t sig;
  if (bexp == 0x7FF) {  // infinity or NaN; a NaN keeps its payload and stays quiet or not
    exp = 0x7FFF;
    sig = kIntegerBit | (frac << 11);
  } else if (bexp == 0) {
    if (frac == 0) {
      exp = 0;
      sig = 0;
    } else {  // subnormal double: normal in the wider exponent range
      int lead = std::countl_zero(frac);  // >= 12
      sig = frac << lead;
      // value = frac * 2^(-1074) = sig * 2^(-1074 - lead) = 1.xxx * 2^(63 - 1074 - lead)
      exp = 63 - 1074 - lead + kExtBias;
    }
  } else {
    exp = bexp - kDoubleBias + kExtBias;
    sig = kIntegerBit | (frac << 11);
  }

  textended80 out{};
  for (int i = 0; i < 8; ++i) out[i] = static_cast<uint8_t>(sig >> (8 * i));
  const uint16_t se = static_cast<uint16_t>((negative ? 0x8000 : 0) | exp);
  out[8] = static_cast<uint8_t>(se & 0xFF);
  out[9] = static_cast<uint8_t>(se >> 8);
  return out;
}

double extended_to_double(const uint8_t* bytes) {
  uint64_t sig = 0;
  for (int i = 0; i < 8; ++i) sig |= uint64_t{bytes[i]} << (8 * i);
  const uint16_t se = static_cast<uint16_t>(bytes[8] | (bytes[9] << 8));
  const bool negative = (se & 0x8000) != 0;
  const int exp = se & 0x7FFF;
  const uint64_t sign = negative ? uint64_t{1} << 63 : 0;

  if (exp == 0x7FFF) {
    if ((sig & ~kIntegerBit) == 0) return std::bit_cast<double>(sign | (uint64_t{0x7FF} << 52));
    // NaN: keep the top of the payload, and keep it a NaN even if those bits are all zero.
    uint64_t payload = (sig & ~kIntegerBit) >> 11;
    if (payload == 0) payload = uint64_t{1} << 51;
    return std::bit_cast<double>(sign | (uint64_t{0x7FF} << 52) | payload);
  }
  if (sig == 0) return std::bit_cast<double>(sign);

  // value = sig * 2^(e - 63), with e the unbiased exponent (denormals use 1 - bias).
  int e = (exp == 0 ? 1 : exp) - kExtBias;
  const int lead = std::countl_zero(sig);
  sig <<= lead;  // now the integer bit is set
  e -= lead;     // value = 1.f * 2^e

  if (e > 1023) throw EOverflow();
  if (e >= -1022) {
    uint64_t m = shift_right_rounded(sig, 11);  // 53 bits, may carry to 2^53
    if (m == (uint64_t{1} << 53)) {
      m >>= 1;
      ++e;
      if (e > 1023) throw EOverflow();
    }
    const uint64_t bexp = static_cast<uint64_t>(e + kDoubleBias);
    return std::bit_cast<double>(sign | (bexp << 52) | (m & ((uint64_t{1} << 52) - 1)));
  }
  // Subnormal double: units of 2^-1074. value = sig * 2^(e - 63) = (sig >> shift) units.
  const int shift = 11 + (-1022 - e);
  const uint64_t m = shift_right_rounded(sig, shift);  // a carry into 2^52 is the smallest normal
  return std::bit_cast<double>(sign | m);
}

}  // namespace murmelin
