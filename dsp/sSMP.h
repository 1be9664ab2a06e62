// SPDX-License-Identifier: GPL-3.0-or-later
// One first-order recursive filter section with a real pole and a real zero.
//
// The section is designed from a pole and a zero frequency in Hz and a sample rate by the
// bilinear transform with frequency prewarping, and normalised to unity gain either at 0 Hz
// or at half the sample rate.
#pragma once

#include <cmath>
#include <cstdint>

#include "TComponent.h"

namespace murmelin {

enum class tfiltertype { ftnone, ftpole, ftzero, ftboth };

// The arithmetic of one filter step from the state z1: the pole part p (the next state), the
// zero part y and the output out = g * y. T is double, or a vector of doubles for code that
// runs several sections side by side on copies of their coefficients and states; every lane
// is plain IEEE double arithmetic, so each gives exactly what TRealFilterSection::filter does.
template <typename T>
struct section_step_result {
  T p, y, out;
};

template <typename T>
inline section_step_result<T> section_step(T a0, T a1, T b0, T b1, T g, T x, T z1) {
  const T p = a0 * x + a1 * z1;
  const T y = b0 * (p + b1 * z1);
  return {p, y, g * y};
}

// Parameter record of filter_arr: a count followed by a data area of 32768 bytes.
struct tsamplechunk {
  static constexpr int32_t capacity = 32768 / static_cast<int32_t>(sizeof(double));
  int32_t used = 0;
  double data[capacity] = {};
};
static_assert(sizeof(tsamplechunk::data) == 32768);

class TRealFilterSection : public TComponent {
public:
  explicit TRealFilterSection(TComponent* aowner = nullptr);
  ~TRealFilterSection() override;

  // Coefficients; assigning them has no effect.
  double a0() const { return fa0; }
  void set_a0(double) {}
  double a1() const { return fa1; }
  void set_a1(double) {}
  double b0() const { return fb0; }
  void set_b0(double) {}
  double b1() const { return fb1; }
  void set_b1(double) {}

  // Output gain; assigning stores the value and recomputes nothing.
  double Gain() const { return fgain; }
  void set_Gain(double v) { fgain = v; }

  // Zero frequency in Hz as assigned; assigning runs the zero design.
  double FZero() const { return ffzero; }
  void set_FZero(double v);

  // Pole frequency in Hz as assigned; assigning runs the pole design.
  double FPole() const { return ffpole; }
  void set_FPole(double v);

  // Sample rate in Hz; assigning runs the pole design, then the zero design.
  double SampFreq() const { return fsf; }
  void set_SampFreq(double v);

  // false: unity gain at 0 Hz; true: unity gain at half the sample rate. Assigning runs the
  // zero design, then the pole design.
  bool UnityGainAtHF() const { return funitygainathf; }
  void set_UnityGainAtHF(bool b);

  // A design whose arithmetic fails (a vanishing divisor, a sample rate of 0, an infinite or
  // undefined frequency) raises EZeroDivide, EOverflow or EInvalidOp and leaves the section
  // exactly as it was.

  // Clears the state; coefficients, frequencies, rate, gain and flag stay.
  void reset() {
    z0 = 0.0;
    z1 = 0.0;
  }

  // One filter step. When the arithmetic of the step fails (overflow or an invalid
  // operation), the step yields 0.0 and the state keeps what was stored before the failure.
  double filter(double insample) {
    const auto s = section_step(fa0, fa1, fb0, fb1, fgain, insample, z1);
    // A non-finite value at any point carries through to out, so one test covers the step.
    if (std::isfinite(s.out)) [[likely]] {
      z0 = s.p;
      z1 = s.p;
      return s.out;
    }
    return failed_step(s.p, s.y);
  }

  // Performs no processing; outarr is left unchanged.
  void filter_arr(tsamplechunk& inarr, tsamplechunk& outarr, int32_t nsamps);

  // Magnitude of this section's response at freq (Hz) when it runs at rate (Hz), computed
  // from the current coefficients and gain.
  double response(double freq, double rate) const;

  // The two state values, for inspection, and for code that runs the section's steps
  // (section_step) on a copy of its coefficients and hands the state back afterwards.
  double state_z0() const { return z0; }
  double state_z1() const { return z1; }
  void restore_state(double az0, double az1) {
    z0 = az0;
    z1 = az1;
  }

private:
  double failed_step(double p, double y);
  void design(double fsfv, double fpolev, double fzerov, bool unityhf);

  double fgain;
  double fa0;
  double fa1;
  double fb0;
  double fb1;
  double fsf;
  double ffzero;
  double ffpole;
  double z0;
  double z1;
  tfiltertype ffiltertype;
  bool funitygainathf;
};

}  // namespace murmelin
