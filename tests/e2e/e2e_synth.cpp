// SPDX-License-Identifier: GPL-3.0-or-later
#include "e2e_synth.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

namespace murmelin::e2e {

namespace {

struct section {
  double a0, a1, b0, b1, z1 = 0.0;
  section(double pole, double zero, double rate) {
    const double tp = std::tan(std::numbers::pi * pole / rate);
    a1 = (1.0 - tp) / (1.0 + tp);
    a0 = 1.0 - a1;
    const double tz = std::tan(std::numbers::pi * zero / rate);
    b1 = (tz - 1.0) / (tz + 1.0);
    b0 = 1.0 / (1.0 + b1);
  }
  double step(double x) {
    const double z0 = a0 * x + a1 * z1;
    const double y = b0 * (z0 + b1 * z1);
    z1 = z0;
    return y;
  }
};

std::vector<section> bank(double rate) {
  std::vector<section> s;
  for (int i = 0; i < 10; ++i) s.emplace_back(20.0 * std::exp2(i), 20.0 * std::exp2(i + 0.5), rate);
  return s;
}

}  // namespace

std::vector<int16_t> synth_pink_noise(const synth_options& opt) {
  auto filters = bank(opt.sample_rate);
  uint32_t state = opt.seed;
  const auto next = [&state] {
    state = state * 134775813u + 1u;
    return double(state) / 4294967296.0;
  };
  const double l = 10.0 * std::pow(10.0, opt.level_db / 20.0);
  const auto lead = std::size_t(std::llround(opt.leading_silence_seconds * opt.sample_rate));
  const auto frames = std::size_t(std::llround(opt.seconds * opt.sample_rate));
  const double onset = opt.onset_seconds * opt.sample_rate;
  std::vector<int16_t> out(2 * (lead + frames), 0);
  for (std::size_t n = 0; n < frames; ++n) {
    double g = 1.0;
    if (onset > 0.0 && double(n) <= onset)
      g = 0.5 * (1.0 - std::cos(std::numbers::pi * double(n) / onset));
    const double r1 = next();
    const double r2 = next();
    double x = (r1 - r2) * (l * g * 32768.0);
    for (section& s : filters) x = s.step(x);
    const auto v = int16_t(std::clamp(std::nearbyint(x), -32768.0, 32767.0));
    out[2 * (lead + n)] = v;
    out[2 * (lead + n) + 1] = v;
  }
  return out;
}

double synth_bank_response_db(double freq, double design_rate, double play_rate) {
  const auto filters = bank(design_rate);
  const std::complex<double> zinv = std::polar(1.0, -2.0 * std::numbers::pi * freq / play_rate);
  std::complex<double> h = 1.0;
  for (const section& s : filters) h *= s.a0 / (1.0 - s.a1 * zinv) * s.b0 * (1.0 + s.b1 * zinv);
  return 20.0 * std::log10(std::abs(h));
}

}  // namespace murmelin::e2e
