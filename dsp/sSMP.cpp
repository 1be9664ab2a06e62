// SPDX-License-Identifier: GPL-3.0-or-later
#include "sSMP.h"

#include <complex>
#include <numbers>

#include "exceptions.h"

namespace murmelin {

namespace {

// Raises the matching floating-point error unless v is a finite number.
void check_finite(double v) {
  if (std::isnan(v)) throw EInvalidOp();
  if (!std::isfinite(v)) throw EOverflow();
}

double checked_div(double num, double den) {
  if (den == 0.0) {
    if (num == 0.0 || std::isnan(num)) throw EInvalidOp();
    throw EZeroDivide();
  }
  const double q = num / den;
  check_finite(q);
  return q;
}

// Prewarped tangent tan(pi * f / fsf), f already limited.
double prewarp(double f, double fsf) {
  if (!std::isfinite(f)) throw EInvalidOp();  // the tangent of an infinite angle is undefined
  const double t = std::tan(checked_div(std::numbers::pi * f, fsf));
  check_finite(t);
  return t;
}

}  // namespace

TRealFilterSection::TRealFilterSection(TComponent* aowner)
    : TComponent(aowner),
      fgain(1.0),
      fa0(0.0),
      fa1(0.0),
      fb0(0.0),
      fb1(0.0),
      fsf(16000.0),
      ffzero(1000.0),
      ffpole(1000.0),
      z0(0.0),
      z1(0.0),
      ffiltertype(tfiltertype::ftnone),
      funitygainathf(false) {
  (void)ffiltertype;  // kept for its declared place; no operation reads it
}

TRealFilterSection::~TRealFilterSection() = default;

// Computes the pole and the zero coefficients for the given rate, frequencies and
// normalisation and stores them together with those values. Nothing changes when any of the
// arithmetic fails.
void TRealFilterSection::design(double fsfv, double fpolev, double fzerov, bool unityhf) {
  check_finite(fsfv);
  const double limit = fsfv / 2.0001;

  // Pole: limited from above only.
  const double fp = fpolev > limit ? limit : fpolev;
  const double tp = prewarp(fp, fsfv);
  const double a1 = checked_div(1.0 - tp, 1.0 + tp);
  const double a0 = unityhf ? 1.0 + a1 : 1.0 - a1;

  // Zero: limited to the band -limit .. limit.
  double fz = fzerov;
  if (fz > limit) fz = limit;
  if (fz < -limit) fz = -limit;
  const double tz = prewarp(fz, fsfv);
  const double b1 = checked_div(tz - 1.0, tz + 1.0);
  const double b0 = checked_div(1.0, unityhf ? 1.0 - b1 : 1.0 + b1);

  fsf = fsfv;
  ffpole = fpolev;
  ffzero = fzerov;
  funitygainathf = unityhf;
  fa0 = a0;
  fa1 = a1;
  fb0 = b0;
  fb1 = b1;
}

void TRealFilterSection::set_FZero(double v) { design(fsf, ffpole, v, funitygainathf); }

void TRealFilterSection::set_FPole(double v) { design(fsf, v, ffzero, funitygainathf); }

void TRealFilterSection::set_SampFreq(double v) { design(v, ffpole, ffzero, funitygainathf); }

void TRealFilterSection::set_UnityGainAtHF(bool b) { design(fsf, ffpole, ffzero, b); }

double TRealFilterSection::failed_step(double p, double y) {
  if (!std::isfinite(p)) return 0.0;  // the pole part failed: nothing stored
  z0 = p;
  if (!std::isfinite(y)) return 0.0;  // the zero part failed: z1 keeps its value
  z1 = z0;
  return 0.0;  // the output gain failed
}

void TRealFilterSection::filter_arr(tsamplechunk& inarr, tsamplechunk& outarr, int32_t nsamps) {
  (void)inarr;
  (void)outarr;
  (void)nsamps;
}

double TRealFilterSection::response(double freq, double rate) const {
  const double w = 2.0 * std::numbers::pi * freq / rate;
  const std::complex<double> zinv = std::polar(1.0, -w);
  const std::complex<double> pole = fa0 / (1.0 - fa1 * zinv);
  const std::complex<double> zero = fb0 * (1.0 + fb1 * zinv);
  return std::abs(fgain * pole * zero);
}

}  // namespace murmelin
