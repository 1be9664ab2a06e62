// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "exceptions.h"
#include "sSMP.h"

using namespace murmelin;

namespace {

constexpr double pi = std::numbers::pi;

// A section designed the usual way: rate, then pole, then zero, then the normalisation.
void design(TRealFilterSection& s, double rate, double pole, double zero, bool hf = false) {
  s.set_SampFreq(rate);
  s.set_FPole(pole);
  s.set_FZero(zero);
  s.set_UnityGainAtHF(hf);
}

struct coeffs {
  double a0, a1, b0, b1;
};

coeffs coefficients(const TRealFilterSection& s) { return {s.a0(), s.a1(), s.b0(), s.b1()}; }

void expect_same_coefficients(const TRealFilterSection& a, const TRealFilterSection& b) {
  EXPECT_EQ(a.a0(), b.a0());
  EXPECT_EQ(a.a1(), b.a1());
  EXPECT_EQ(a.b0(), b.b0());
  EXPECT_EQ(a.b1(), b.b1());
}

std::vector<double> run(TRealFilterSection& s, const std::vector<double>& in) {
  std::vector<double> out;
  for (double x : in) out.push_back(s.filter(x));
  return out;
}

std::vector<double> test_signal() {
  std::vector<double> in;
  for (int i = 0; i < 200; ++i) in.push_back(std::sin(0.37 * i) * 1000.0 + (i % 7) - 3.0);
  return in;
}

}  // namespace

TEST(TRealFilterSection, FreshSectionHasItsDefaultsAndOutputsZero) {
  TRealFilterSection s;
  EXPECT_EQ(s.Gain(), 1.0);
  EXPECT_EQ(s.SampFreq(), 16000.0);
  EXPECT_EQ(s.FPole(), 1000.0);
  EXPECT_EQ(s.FZero(), 1000.0);
  EXPECT_FALSE(s.UnityGainAtHF());
  EXPECT_EQ(s.a0(), 0.0);
  EXPECT_EQ(s.a1(), 0.0);
  EXPECT_EQ(s.b0(), 0.0);
  EXPECT_EQ(s.b1(), 0.0);
  for (double x : {1.0, -5.0, 32767.0, 1e10}) EXPECT_EQ(s.filter(x), 0.0);
  EXPECT_EQ(s.state_z0(), 0.0);
  EXPECT_EQ(s.state_z1(), 0.0);
}

TEST(TRealFilterSection, EqualPoleAndZeroPassTheSignalScaledByTheGain) {
  const std::vector<double> in = test_signal();

  // Only the rate assigned: pole and zero both stay at 1000 Hz.
  TRealFilterSection fresh;
  fresh.set_SampFreq(44100);
  fresh.set_Gain(2.5);
  std::vector<double> out = run(fresh, in);
  for (std::size_t i = 0; i < in.size(); ++i) ASSERT_NEAR(out[i], 2.5 * in[i], 1e-9) << i;

  for (bool hf : {false, true}) {
    for (double f : {0.5, 20.0, 1000.0, 10000.0, 22000.0}) {
      TRealFilterSection s;
      design(s, 44100, f, f, hf);
      s.set_Gain(-0.75);
      out = run(s, in);
      for (std::size_t i = 0; i < in.size(); ++i)
        ASSERT_NEAR(out[i], -0.75 * in[i], 1e-8 * 1000.0) << "hf " << hf << " f " << f << " i " << i;
    }
  }
}

TEST(TRealFilterSection, PinkSectionCoefficientsAt44100) {
  TRealFilterSection s;
  design(s, 44100, 20, 20 * std::numbers::sqrt2);
  EXPECT_NEAR(s.a1(), 0.997154535, 1e-9);
  EXPECT_NEAR(s.a0(), 0.002845465, 1e-9);
  EXPECT_NEAR(s.b1(), -0.995978272, 1e-9);
  EXPECT_NEAR(s.b0(), 248.649348822, 1e-7);
  // Unity gain at 0 Hz, from the coefficients and from a long constant input.
  EXPECT_NEAR(s.a0() / (1 - s.a1()) * s.b0() * (1 + s.b1()), 1.0, 1e-12);
  EXPECT_NEAR(s.response(0, 44100), 1.0, 1e-12);
  double y = 0;
  for (int i = 0; i < 44100 * 2; ++i) y = s.filter(1.0);
  EXPECT_NEAR(y, 1.0, 1e-6);
}

TEST(TRealFilterSection, NormalisationSelectsWhereTheGainIsUnity) {
  for (bool hf : {false, true}) {
    TRealFilterSection s;
    design(s, 48000, 300, 3000, hf);
    s.set_Gain(1.0);
    if (hf) {
      EXPECT_NEAR(s.a0() / (1 + s.a1()), 1.0, 1e-12);
      EXPECT_NEAR(s.b0() * (1 - s.b1()), 1.0, 1e-12);
      EXPECT_NEAR(s.response(24000, 48000), 1.0, 1e-12);
      // An alternating input settles at the same amplitude.
      double y = 0;
      for (int i = 0; i < 48000; ++i) y = s.filter(i % 2 ? -1.0 : 1.0);
      EXPECT_NEAR(std::fabs(y), 1.0, 1e-6);
      // The low end lies as far above as it would lie below with unity gain at 0 Hz.
      const double ratio = std::tan(pi * 300 / 48000) / std::tan(pi * 3000 / 48000);
      EXPECT_NEAR(s.response(0, 48000), 1 / ratio, 1e-9);
    } else {
      EXPECT_NEAR(s.response(0, 48000), 1.0, 1e-12);
      EXPECT_NEAR(s.response(24000, 48000),
                  std::tan(pi * 300 / 48000) / std::tan(pi * 3000 / 48000), 1e-9);
    }
  }
  // Switching the flag redesigns both parts from the stored frequencies.
  TRealFilterSection a, b;
  design(a, 48000, 300, 3000, false);
  a.set_UnityGainAtHF(true);
  design(b, 48000, 300, 3000, true);
  expect_same_coefficients(a, b);
}

TEST(TRealFilterSection, StepFollowsTheDirectFormAndTheImpulseResponse) {
  TRealFilterSection s;
  design(s, 44100, 500, 2000);
  s.set_Gain(3.0);
  const coeffs c = coefficients(s);
  // Impulse response of g*a0/(1 - a1 z^-1) * b0*(1 + b1 z^-1).
  EXPECT_NEAR(s.filter(1.0), 3.0 * c.a0 * c.b0, 1e-15);
  double p = c.a0;
  for (int n = 1; n < 50; ++n) {
    const double expected = 3.0 * c.b0 * c.a0 * std::pow(c.a1, n - 1) * (c.a1 + c.b1);
    ASSERT_NEAR(s.filter(0.0), expected, 1e-12) << n;
    p *= c.a1;
    ASSERT_NEAR(s.state_z0(), p, 1e-15);
    ASSERT_EQ(s.state_z0(), s.state_z1());
  }
}

TEST(TRealFilterSection, ClampLimitsTheCoefficientsButKeepsTheAssignedValue) {
  const double limit = 44100 / 2.0001;
  TRealFilterSection s, ref;
  design(s, 44100, 30000, 30000);
  design(ref, 44100, limit, limit);
  EXPECT_EQ(s.FPole(), 30000.0);
  EXPECT_EQ(s.FZero(), 30000.0);
  expect_same_coefficients(s, ref);
  const double t = std::tan(pi / 2.0001);
  EXPECT_NEAR(t, 12733, 1);
  EXPECT_NEAR(s.a1(), (1 - t) / (1 + t), 1e-12);

  // A higher rate brings the assigned frequencies back into effect.
  s.set_SampFreq(96000);
  TRealFilterSection direct;
  design(direct, 96000, 30000, 30000);
  expect_same_coefficients(s, direct);
  EXPECT_NE(s.a1(), ref.a1());

  // The zero is limited from below as well; the pole is not.
  TRealFilterSection z, zref;
  design(z, 44100, 1000, -30000);
  design(zref, 44100, 1000, -limit);
  EXPECT_EQ(z.FZero(), -30000.0);
  expect_same_coefficients(z, zref);

  TRealFilterSection p;
  design(p, 44100, -100, 1000);
  EXPECT_GT(p.a1(), 1.0);
  EXPECT_EQ(p.FPole(), -100.0);
}

TEST(TRealFilterSection, StateSurvivesRedesignAndResetReproducesTheOutput) {
  const std::vector<double> in = test_signal();
  TRealFilterSection s;
  design(s, 44100, 80, 113);
  const std::vector<double> first = run(s, in);
  s.reset();
  EXPECT_EQ(s.state_z0(), 0.0);
  EXPECT_EQ(s.state_z1(), 0.0);
  EXPECT_EQ(run(s, in), first);

  const double z0 = s.state_z0(), z1 = s.state_z1();
  ASSERT_NE(z1, 0.0);
  s.set_FPole(200);
  s.set_FZero(300);
  s.set_SampFreq(48000);
  s.set_UnityGainAtHF(true);
  s.set_Gain(4);
  EXPECT_EQ(s.state_z0(), z0);
  EXPECT_EQ(s.state_z1(), z1);
  EXPECT_EQ(s.FPole(), 200.0);
  EXPECT_EQ(s.SampFreq(), 48000.0);
  EXPECT_EQ(s.Gain(), 4.0);
}

TEST(TRealFilterSection, CoefficientSettersChangeNothing) {
  TRealFilterSection s;
  design(s, 44100, 20, 28);
  const coeffs before = coefficients(s);
  s.set_a0(5);
  s.set_a1(5);
  s.set_b0(5);
  s.set_b1(5);
  EXPECT_EQ(s.a0(), before.a0);
  EXPECT_EQ(s.a1(), before.a1);
  EXPECT_EQ(s.b0(), before.b0);
  EXPECT_EQ(s.b1(), before.b1);
}

TEST(TRealFilterSection, ArithmeticErrorYieldsZeroAndKeepsTheStoredState) {
  // Pole part overflows: nothing is stored.
  TRealFilterSection s;
  design(s, 44100, 20000, 20);  // a0 about 1.74, b0 about 350
  ASSERT_GT(s.a0(), 1.5);
  s.filter(1.0);
  const double z0 = s.state_z0(), z1 = s.state_z1();
  EXPECT_EQ(s.filter(1.5e308), 0.0);
  EXPECT_EQ(s.state_z0(), z0);
  EXPECT_EQ(s.state_z1(), z1);
  EXPECT_EQ(s.filter(std::nan("")), 0.0);
  EXPECT_EQ(s.state_z0(), z0);
  EXPECT_EQ(s.state_z1(), z1);

  // Zero part overflows: z0 holds the pole part's new value, z1 keeps the old one.
  const double p = s.a0() * 1e307 + s.a1() * z1;
  EXPECT_EQ(s.filter(1e307), 0.0);
  EXPECT_EQ(s.state_z0(), p);
  EXPECT_EQ(s.state_z1(), z1);

  // Output gain overflows: both states hold the new value.
  TRealFilterSection g;
  design(g, 44100, 1000, 1000);
  g.set_Gain(1e308);
  EXPECT_EQ(g.filter(100.0), 0.0);
  EXPECT_NEAR(g.state_z0(), g.a0() * 100.0, 1e-12);
  EXPECT_EQ(g.state_z1(), g.state_z0());

  // The section goes on normally afterwards.
  TRealFilterSection ref;
  design(ref, 44100, 1000, 1000);
  ref.filter(100.0);
  g.set_Gain(1.0);
  ref.set_Gain(1.0);
  for (double x : {1.0, -2.0, 3.0}) EXPECT_EQ(g.filter(x), ref.filter(x));
}

TEST(TRealFilterSection, FailedDesignRaisesAndLeavesTheSectionAsItWas) {
  TRealFilterSection s;
  design(s, 44100, 20, 28);
  s.filter(1.0);
  const coeffs c = coefficients(s);
  auto unchanged = [&] {
    EXPECT_EQ(s.SampFreq(), 44100.0);
    EXPECT_EQ(s.FPole(), 20.0);
    EXPECT_EQ(s.FZero(), 28.0);
    EXPECT_FALSE(s.UnityGainAtHF());
    EXPECT_EQ(s.a0(), c.a0);
    EXPECT_EQ(s.a1(), c.a1);
    EXPECT_EQ(s.b0(), c.b0);
    EXPECT_EQ(s.b1(), c.b1);
  };
  EXPECT_THROW(s.set_FZero(0.0), EZeroDivide);  // 1 + b1 vanishes
  unchanged();
  EXPECT_THROW(s.set_SampFreq(0.0), EMathError);
  unchanged();
  EXPECT_THROW(s.set_FPole(-INFINITY), EInvalidOp);
  unchanged();
  EXPECT_THROW(s.set_FPole(NAN), EMathError);
  unchanged();
  // A zero of 0 Hz is fine with unity gain at half the rate: a pure differentiator part.
  s.set_UnityGainAtHF(true);
  EXPECT_NO_THROW(s.set_FZero(0.0));
  EXPECT_NEAR(s.response(0, 44100), 0.0, 1e-12);
}

TEST(TRealFilterSection, OwnerDestroysTheSectionAndFilterArrLeavesTheOutputAlone) {
  auto* owner = new TComponent(nullptr);
  auto* s = new TRealFilterSection(owner);
  EXPECT_EQ(owner->ComponentCount(), 1);
  EXPECT_EQ(s->Owner(), owner);
  delete owner;  // the sanitizer build reports a leak or double free here

  TRealFilterSection f;
  design(f, 44100, 20, 28);
  tsamplechunk in, out;
  in.used = 4;
  for (int i = 0; i < 4; ++i) in.data[i] = i + 1.0;
  out.used = 7;
  out.data[0] = 42.0;
  f.filter_arr(in, out, 4);
  EXPECT_EQ(out.used, 7);
  EXPECT_EQ(out.data[0], 42.0);
  EXPECT_EQ(out.data[1], 0.0);
  EXPECT_EQ(f.state_z1(), 0.0);
}
