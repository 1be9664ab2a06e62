#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <numbers>
#include <vector>

#include "exceptions.h"
#include "sSMP.h"
#include "sdbra.h"
#include "spinknoise.h"

using namespace murmelin;

namespace {

// The block fill written out step by step, frame by frame, on a bank of its own.
struct reference_fill {
  std::vector<std::unique_ptr<TRealFilterSection>> bank;
  int32_t count = 0;
  int32_t nsamples = 0;
  double gain = 0.0;

  explicit reference_fill(int32_t fs) {
    for (int i = 0; i < 10; ++i) {
      auto s = std::make_unique<TRealFilterSection>();
      s->set_SampFreq(fs);
      s->set_FPole(20 * std::pow(2.0, i));
      s->set_FZero(20 * std::pow(2.0, i + 0.5));
      bank.push_back(std::move(s));
    }
  }

  // Failed steps seen so far: pole part, zero part, output gain.
  int failures[3] = {0, 0, 0};
  void count_failure(const TRealFilterSection& s, double x) {
    const double p = s.a0() * x + s.a1() * s.state_z1();
    const double y = s.b0() * (p + s.b1() * s.state_z1());
    if (!std::isfinite(p)) {
      ++failures[0];
    } else if (!std::isfinite(y)) {
      ++failures[1];
    } else if (!std::isfinite(s.Gain() * y)) {
      ++failures[2];
    }
  }

  // Fills used entries; the overload flag is returned through ovl.
  TWaveChunk block(int32_t used, double level, bool soft, bool left, bool right, bool& ovl) {
    TWaveChunk out(static_cast<std::size_t>(used));
    const double l = 10 * std::pow(10, level / 20);
    ovl = false;
    double x = 0;
    for (int32_t n = 0; n < used; ++n) {
      if (n % 2 == 0) {
        if (soft && count <= nsamples) {
          gain = 0.5 * (1 - std::cos(std::numbers::pi * count / nsamples));
          ++count;
        } else {
          gain = 1.0;
        }
        const double r1 = random_value();
        const double r2 = random_value();
        x = (r1 - r2) * (l * gain * 32768);
        for (auto& s : bank) {
          count_failure(*s, x);
          x = s->filter(x);
        }
        if (std::fabs(x) > 32766) ovl = true;
        out[n] = left ? double_to_smallint(false, x) : 0;
      } else {
        out[n] = right ? double_to_smallint(false, x) : 0;
      }
    }
    return out;
  }
};

tpinknoise built_generator(int32_t fs = 44100) {
  tpinknoise g;
  g.build_filter_bank(fs);
  return g;
}

double rms_db(const TWaveChunk& a, std::size_t first, std::size_t step) {
  double sum = 0;
  std::size_t n = 0;
  for (std::size_t i = first; i < a.size(); i += step, ++n) sum += double(a[i]) * a[i];
  return 20 * std::log10(std::sqrt(sum / n) / 32768);
}

}  // namespace

TEST(PinkFilterBank, BuildsTenSectionsForTheRate) {
  tpinknoise g;
  g.pinkfilters.resize(3);
  g.build_filter_bank(44100);
  ASSERT_EQ(g.pinkfilters.size(), 10u);
  for (int i = 0; i < 10; ++i) {
    const TRealFilterSection& s = *g.pinkfilters[i];
    EXPECT_EQ(s.SampFreq(), 44100.0);
    EXPECT_DOUBLE_EQ(s.FPole(), 20 * std::pow(2.0, i));
    EXPECT_DOUBLE_EQ(s.FZero(), 20 * std::pow(2.0, i + 0.5));
    EXPECT_FALSE(s.UnityGainAtHF());
    EXPECT_EQ(s.Gain(), 1.0);
    EXPECT_EQ(s.Owner(), nullptr);
  }
  EXPECT_NEAR(g.pinkfilters[9]->FZero(), 14481.55, 0.01);

  // Rebuilding resets the states; a longer list keeps its extra entries.
  TWaveChunk block(64);
  g.fill_block(block, 64, -10, false, true, true);
  ASSERT_NE(g.pinkfilters[0]->state_z1(), 0.0);
  g.pinkfilters.push_back(std::make_unique<TRealFilterSection>());
  TRealFilterSection* extra = g.pinkfilters[10].get();
  g.build_filter_bank(48000);
  ASSERT_EQ(g.pinkfilters.size(), 11u);
  EXPECT_EQ(g.pinkfilters[10].get(), extra);
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(g.pinkfilters[i]->state_z0(), 0.0);
    EXPECT_EQ(g.pinkfilters[i]->state_z1(), 0.0);
    EXPECT_EQ(g.pinkfilters[i]->SampFreq(), 48000.0);
  }

  // A rate that cannot be designed raises and keeps the bank.
  TRealFilterSection* first = g.pinkfilters[0].get();
  EXPECT_THROW(g.build_filter_bank(0), ERangeError);
  EXPECT_THROW(g.build_filter_bank(-44100), ERangeError);
  EXPECT_EQ(g.pinkfilters[0].get(), first);
}

TEST(PinkFilterBank, ResponseFallsThreeDecibelsPerOctave) {
  const tpinknoise g = built_generator();
  EXPECT_NEAR(g.response_db(0, 44100), 0.0, 1e-9);
  EXPECT_NEAR(g.response_db(100, 44100), -7.8, 0.05);
  EXPECT_NEAR(g.response_db(1000, 44100), -17.7, 0.06);
  EXPECT_NEAR(g.response_db(10000, 44100), -28.4, 0.05);
  EXPECT_NEAR(g.response_db(22050, 44100), -33.1, 0.05);
  // Within the band, about 3 dB per octave.
  for (double f = 100; f <= 3200; f *= 2)
    EXPECT_NEAR(g.response_db(f, 44100) - g.response_db(2 * f, 44100), 3.0, 0.4) << f;
  // Played at another rate, the corners scale with the rate.
  EXPECT_NEAR(g.response_db(1000.0 * 48000 / 44100, 48000), g.response_db(1000, 44100), 1e-9);
}

TEST(PinkFilterBank, ResponseMatchesTheBankRunningASine) {
  tpinknoise g = built_generator();
  for (double f : {100.0, 1000.0, 10000.0}) {
    for (auto& s : g.pinkfilters) s->reset();
    double peak = 0;
    for (int i = 0; i < 44100 + 4410; ++i) {
      double x = std::sin(2 * std::numbers::pi * f * i / 44100);
      for (auto& s : g.pinkfilters) x = s->filter(x);
      if (i >= 44100) peak = std::max(peak, std::fabs(x));
    }
    EXPECT_NEAR(20 * std::log10(peak), g.response_db(f, 44100), 0.01) << f;
  }
}

TEST(PinkNoiseFill, BlocksFollowTheFillStepByStep) {
  struct setting {
    double level;
    bool soft, left, right;
    int32_t used;
  };
  const setting settings[] = {
      {-10, true, true, true, 64},  {-10, true, true, true, 62},  {-3.5, true, false, true, 40},
      {-20, false, true, false, 64}, {-10, true, true, true, 4096}, {-10, true, true, true, 7},
  };
  tpinknoise g = built_generator();
  reference_fill ref(44100);
  g.start_onset(30);  // a short onset of 60 frames that spans several blocks
  ref.nsamples = 60;
  set_random_state(2024);
  for (int round = 0; round < 2; ++round) {
    for (const setting& s : settings) {
      const uint32_t state = random_state();
      bool ref_ovl;
      const TWaveChunk want = ref.block(s.used, s.level, s.soft, s.left, s.right, ref_ovl);
      const uint32_t state_after = random_state();
      set_random_state(state);
      TWaveChunk got(static_cast<std::size_t>(s.used) + 3, int16_t{12345});
      EXPECT_EQ(g.fill_block(got, s.used, s.level, s.soft, s.left, s.right), ref_ovl);
      EXPECT_EQ(random_state(), state_after);
      EXPECT_EQ(TWaveChunk(got.begin(), got.begin() + s.used), want) << "used " << s.used;
      for (std::size_t i = s.used; i < got.size(); ++i) EXPECT_EQ(got[i], 12345);  // beyond used
      EXPECT_EQ(g.noiseonsetcount, ref.count);
      EXPECT_EQ(g.noiseonsetgain, ref.gain);
    }
  }
  EXPECT_EQ(g.noiseonsetcount, 61);
}

TEST(PinkNoiseFill, FailedStepsInsideTheBankMatchTheSectionsOwnSteps) {
  // Banks redesigned so that steps overflow in all three places, some sections with a gain,
  // some without (the bank then has unity gain throughout).
  struct scenario {
    double level;
    std::vector<std::pair<int, double>> gains;  // section, gain
    std::vector<int> hf;                        // sections with unity gain at half the rate
    std::vector<std::pair<int, std::pair<double, double>>> poles_zeros = {};
  };
  const scenario scenarios[] = {
      {-10, {{1, 1e300}}, {2, 5}},
      {20, {{0, 1e290}, {4, 1e10}}, {1, 2, 3, 6}},
      {6013, {}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
      {6000, {}, {1, 3, 5, 7, 9}},
      {-10, {{3, 1e305}, {8, 0.5}}, {4, 9}},
      // A high shelf in front: its zero part overflows while its pole part does not.
      {6020, {}, {}, {{0, {20000, 20}}}},
      {6010, {{5, 2.0}}, {7}, {{0, {20000, 20}}, {6, {15000, 100}}}},
  };
  int failures[3] = {0, 0, 0};
  int apart = 0;
  for (const scenario& sc : scenarios) {
    tpinknoise g = built_generator();
    reference_fill ref(44100);
    for (auto [i, gain] : sc.gains) {
      g.pinkfilters[i]->set_Gain(gain);
      ref.bank[i]->set_Gain(gain);
    }
    for (int i : sc.hf) {
      g.pinkfilters[i]->set_UnityGainAtHF(true);
      ref.bank[i]->set_UnityGainAtHF(true);
    }
    for (auto [i, pz] : sc.poles_zeros) {
      for (TRealFilterSection* s : {g.pinkfilters[i].get(), ref.bank[i].get()}) {
        s->set_FPole(pz.first);
        s->set_FZero(pz.second);
      }
    }
    set_random_state(77);
    for (int32_t used : {4096, 4095, 30, 4096}) {
      const uint32_t state = random_state();
      bool ref_ovl;
      const TWaveChunk want = ref.block(used, sc.level, false, true, true, ref_ovl);
      set_random_state(state);
      TWaveChunk got(static_cast<std::size_t>(used));
      EXPECT_EQ(g.fill_block(got, used, sc.level, false, true, true), ref_ovl);
      ASSERT_EQ(got, want) << sc.level << " used " << used;
      for (int i = 0; i < 10; ++i) {
        ASSERT_EQ(g.pinkfilters[i]->state_z0(), ref.bank[i]->state_z0()) << i;
        ASSERT_EQ(g.pinkfilters[i]->state_z1(), ref.bank[i]->state_z1()) << i;
        apart += ref.bank[i]->state_z0() != ref.bank[i]->state_z1();
      }
    }
    for (int k = 0; k < 3; ++k) failures[k] += ref.failures[k];
  }
  // Every kind of failure occurred, and some section ended a block with its states apart.
  EXPECT_GT(failures[0], 0);
  EXPECT_GT(failures[1], 0);
  EXPECT_GT(failures[2], 0);
  EXPECT_GT(apart, 0);
}

TEST(PinkNoiseFill, StatesStayApartThroughFailedPoleParts) {
  // Section 0 as a high shelf: at a huge level its zero part overflows. Then its pole moves
  // so far that every pole part overflows: its z0 must stay where the zero failure left it.
  tpinknoise g = built_generator();
  reference_fill ref(44100);
  auto both = [&](auto&& change) {
    change(*g.pinkfilters[0]);
    change(*ref.bank[0]);
  };
  both([](TRealFilterSection& s) {
    s.set_FPole(20000);
    s.set_FZero(20);
  });
  auto block = [&](int32_t used, double level) {
    const uint32_t state = random_state();
    bool ref_ovl;
    const TWaveChunk want = ref.block(used, level, false, true, true, ref_ovl);
    set_random_state(state);
    TWaveChunk got(static_cast<std::size_t>(used));
    EXPECT_EQ(g.fill_block(got, used, level, false, true, true), ref_ovl);
    EXPECT_EQ(got, want);
    for (int i = 0; i < 10; ++i) {
      EXPECT_EQ(g.pinkfilters[i]->state_z0(), ref.bank[i]->state_z0()) << i;
      EXPECT_EQ(g.pinkfilters[i]->state_z1(), ref.bank[i]->state_z1()) << i;
    }
  };
  set_random_state(5);
  block(64, -10);
  block(64, 6020);
  ASSERT_NE(ref.bank[0]->state_z0(), ref.bank[0]->state_z1());
  ASSERT_GT(ref.failures[1], 0);
  both([](TRealFilterSection& s) { s.set_FPole(-11000); });  // a1 about 900
  const int pole_failures = ref.failures[0];
  block(64, 6020);
  block(7, 6020);
  EXPECT_EQ(ref.failures[0], pole_failures + 32 + 4);
  EXPECT_NE(ref.bank[0]->state_z0(), ref.bank[0]->state_z1());
}

TEST(PinkNoiseFill, SoftOnsetStartsSilentAndReachesExactlyOne) {
  tpinknoise g = built_generator();
  g.start_onset(44100);
  EXPECT_EQ(g.noiseonsetnsamples, 88200);
  EXPECT_EQ(g.noiseonsetcount, 0);
  set_random_state(99);
  TWaveChunk block(4096);
  g.fill_block(block, 4096, -10, true, true, true);
  EXPECT_EQ(block[0], 0);
  EXPECT_EQ(block[1], 0);
  EXPECT_EQ(g.noiseonsetcount, 2048);

  // Frame by frame over a short onset: a raised cosine from 0 to exactly 1.
  g.start_onset(25);
  std::vector<double> gains;
  TWaveChunk frame(2);
  for (int k = 0; k < 60; ++k) {
    g.fill_block(frame, 2, -10, true, true, true);
    gains.push_back(g.noiseonsetgain);
  }
  EXPECT_EQ(gains[0], 0.0);
  EXPECT_NEAR(gains[25], 0.5, 1e-15);
  EXPECT_EQ(gains[50], 1.0);
  EXPECT_LT(gains[49], 1.0);
  for (int k = 1; k <= 50; ++k) EXPECT_GT(gains[k], gains[k - 1]) << k;
  for (int k = 51; k < 60; ++k) EXPECT_EQ(gains[k], 1.0);
  EXPECT_EQ(g.noiseonsetcount, 51);

  // The last onset frame gives exactly 1 for the lengths the sample rates give.
  for (int32_t fs : {8000, 11025, 22050, 32000, 44100, 48000, 88200, 96000, 192000}) {
    g.start_onset(fs);
    g.noiseonsetcount = g.noiseonsetnsamples;
    g.fill_block(frame, 2, -10, true, true, true);
    EXPECT_EQ(g.noiseonsetgain, 1.0) << fs;
    EXPECT_EQ(g.noiseonsetcount, 2 * fs + 1);
  }

  // A full two-second onset at 44100 Hz in player-sized blocks.
  g.start_onset(44100);
  for (int frames = 0; frames <= 88200; frames += 2048) g.fill_block(block, 4096, -10, true, true, true);
  EXPECT_EQ(g.noiseonsetgain, 1.0);
  EXPECT_EQ(g.noiseonsetcount, 88201);
}

TEST(PinkNoiseFill, OnsetOffAndOnsetEdgeCases) {
  tpinknoise g = built_generator();
  g.start_onset(44100);
  TWaveChunk block(4096);
  g.fill_block(block, 4096, -10, false, true, true);
  EXPECT_EQ(g.noiseonsetcount, 0);
  EXPECT_EQ(g.noiseonsetgain, 1.0);

  // An onset of no length is complete at once.
  g.start_onset(0);
  g.fill_block(block, 2, -10, true, true, true);
  EXPECT_EQ(g.noiseonsetgain, 1.0);
  EXPECT_EQ(g.noiseonsetcount, 1);

  // Twice a rate beyond 32 bits overflows and changes nothing.
  g.start_onset(1000);
  EXPECT_THROW(g.start_onset(1 << 30), EIntOverflow);
  EXPECT_EQ(g.noiseonsetnsamples, 2000);
  EXPECT_EQ(g.noiseonsetcount, 0);
}

TEST(PinkNoiseFill, OnsetCountOverflowEndsTheBlockAfterTheFramesBefore) {
  constexpr int32_t max = std::numeric_limits<int32_t>::max();
  tpinknoise g = built_generator();
  reference_fill ref(44100);
  g.noiseonsetnsamples = ref.nsamples = max;
  g.noiseonsetcount = ref.count = max - 3;
  set_random_state(21);
  bool ovl;
  const TWaveChunk want = ref.block(6, -10, true, true, true, ovl);  // three frames
  const uint32_t after = random_state();
  set_random_state(21);
  TWaveChunk block(4096, int16_t{9});
  EXPECT_THROW(g.fill_block(block, 4096, -10, true, true, true), EIntOverflow);
  EXPECT_EQ(TWaveChunk(block.begin(), block.begin() + 6), want);
  EXPECT_EQ(block[6], 9);
  EXPECT_EQ(random_state(), after);
  EXPECT_EQ(g.noiseonsetcount, max);
  EXPECT_EQ(g.noiseonsetgain, 1.0);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(g.pinkfilters[i]->state_z1(), ref.bank[i]->state_z1()) << i;
}

TEST(PinkNoiseFill, LevelSetsTheRms) {
  for (double level : {-10.0, -30.0}) {
    tpinknoise g = built_generator();
    set_random_state(424242);
    const int blocks = 5 * 44100 / 2048;  // about five seconds
    TWaveChunk all;
    TWaveChunk block(4096);
    for (int b = 0; b < blocks; ++b) {
      EXPECT_FALSE(g.fill_block(block, 4096, level, false, true, true));
      all.insert(all.end(), block.begin(), block.end());
    }
    const double left = rms_db(all, 0, 2);
    EXPECT_NEAR(left - level, -10.2, 0.3) << level;
    EXPECT_EQ(rms_db(all, 1, 2), left);
    if (level == -10.0) {
      EXPECT_NEAR(std::pow(10, left / 20) * 32768, 3200, 150);
    }
  }
}

TEST(PinkNoiseFill, BothChannelsOffGiveSilenceButStillReportOverload) {
  tpinknoise g = built_generator();
  TWaveChunk block(4096, int16_t{7});
  EXPECT_TRUE(g.fill_block(block, 4096, 20, false, false, false));
  for (int16_t v : block) ASSERT_EQ(v, 0);
}

TEST(PinkNoiseFill, OverloadIsReportedAfterTheWholeClippedBlock) {
  tpinknoise g = built_generator();
  reference_fill ref(44100);
  set_random_state(31337);
  bool ref_ovl;
  const TWaveChunk want = ref.block(4096, 20, false, true, true, ref_ovl);
  set_random_state(31337);
  TWaveChunk got(4096);
  EXPECT_TRUE(g.fill_block(got, 4096, 20, false, true, true));
  EXPECT_TRUE(ref_ovl);
  EXPECT_EQ(got, want);
  int clipped_high = 0, clipped_low = 0;
  for (int16_t v : got) {
    clipped_high += v == 32767;
    clipped_low += v == -32768;
  }
  EXPECT_GT(clipped_high, 0);
  EXPECT_GT(clipped_low, 0);
  EXPECT_NE(got[4094], 0);  // written to the end
}

TEST(PinkNoiseFill, OverloadThresholdLiesOneBelowTheLargestSample) {
  // Scale the last section so that the first frame lands on a chosen value.
  auto first_frame = [](double target, TWaveChunk& out) {
    // The unscaled value: the same draws through a bank of its own.
    reference_fill raw(44100);
    set_random_state(8);
    const double l = 10 * std::pow(10, -10.0 / 20);
    double x = (random_value() - random_value()) * (l * 1.0 * 32768);
    for (auto& s : raw.bank) x = s->filter(x);

    tpinknoise g = built_generator();
    g.pinkfilters[9]->set_Gain(target / x);
    set_random_state(8);
    return g.fill_block(out, 2, -10, false, true, true);
  };
  TWaveChunk out(2);
  EXPECT_TRUE(first_frame(32766.6, out));
  EXPECT_EQ(out[0], 32767);
  EXPECT_EQ(out[1], 32767);
  EXPECT_TRUE(first_frame(-32766.2, out));
  EXPECT_EQ(out[0], -32766);
  EXPECT_FALSE(first_frame(32765.9, out));
  EXPECT_EQ(out[0], 32766);
  EXPECT_FALSE(first_frame(-32765.9, out));
  EXPECT_EQ(out[1], -32766);
}

TEST(PinkNoiseFill, CountsBeyondTheBlockAndOddCounts) {
  // More entries asked for than the block holds: what fits is written, then a range error;
  // the frame whose left sample does not fit has been computed.
  tpinknoise g = built_generator();
  reference_fill ref(44100);
  set_random_state(11);
  bool ovl;
  const TWaveChunk want = ref.block(12, -10, false, true, true, ovl);
  set_random_state(11);
  TWaveChunk block(10);
  EXPECT_THROW(g.fill_block(block, 20, -10, false, true, true), ERangeError);
  EXPECT_EQ(block, TWaveChunk(want.begin(), want.begin() + 10));
  EXPECT_EQ(random_state(), [] {
    uint32_t s = 11;
    for (int i = 0; i < 12; ++i) s = random_next_state(s);
    return s;
  }());

  // An odd-sized block: the last left sample is written, the right one is not.
  tpinknoise h = built_generator();
  set_random_state(11);
  TWaveChunk odd(9);
  EXPECT_THROW(h.fill_block(odd, 11, -10, false, true, true), ERangeError);
  EXPECT_EQ(odd, TWaveChunk(want.begin(), want.begin() + 9));
  EXPECT_EQ(random_state(), [] {  // five frames; index 9 is a right sample
    uint32_t s = 11;
    for (int i = 0; i < 10; ++i) s = random_next_state(s);
    return s;
  }());

  // Nothing to fill: nothing changes.
  tpinknoise e = built_generator();
  set_random_state(11);
  TWaveChunk empty(4, int16_t{5});
  EXPECT_FALSE(e.fill_block(empty, 0, 40, false, true, true));
  EXPECT_FALSE(e.fill_block(empty, -4, 40, false, true, true));
  EXPECT_EQ(empty, TWaveChunk(4, int16_t{5}));
  EXPECT_EQ(random_state(), 11u);
}

TEST(PinkNoiseFill, BadStateOrLevelRaisesBeforeWriting) {
  TWaveChunk block(8, int16_t{3});
  tpinknoise unbuilt;
  EXPECT_THROW(unbuilt.fill_block(block, 8, -10, true, true, true), ERangeError);
  unbuilt.pinkfilters.resize(10);
  EXPECT_THROW(unbuilt.fill_block(block, 8, -10, true, true, true), ERangeError);

  tpinknoise g = built_generator();
  g.start_onset(100);
  set_random_state(3);
  EXPECT_THROW(g.fill_block(block, 8, std::nan(""), true, true, true), EInvalidOp);
  EXPECT_THROW(g.fill_block(block, 8, 1e6, true, true, true), EOverflow);
  EXPECT_EQ(block, TWaveChunk(8, int16_t{3}));
  EXPECT_EQ(random_state(), 3u);
  EXPECT_EQ(g.noiseonsetcount, 0);
  EXPECT_EQ(g.pinkfilters[0]->state_z1(), 0.0);

  // A very high but finite level overloads instead.
  EXPECT_TRUE(g.fill_block(block, 8, 3000, false, true, true));
}
