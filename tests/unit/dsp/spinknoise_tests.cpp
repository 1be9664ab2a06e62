// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <numbers>
#include <optional>
#include <random>
#include <string>
#include <typeinfo>
#include <vector>

#include "exceptions.h"
#include "sSMP.h"
#include "sdbra.h"
#include "spinknoise.h"

using namespace murmelin;

namespace murmelin {

// Reaches the fast lane, which fill_block otherwise keeps to itself.
class tpinknoise_lanes {
public:
  static std::optional<bool> fast(tpinknoise& g, TWaveChunk& arr, int32_t used, double level,
                                  bool soft, bool left, bool right) {
    return g.fill_block_fast(arr, used, level, soft, left, right);
  }
};

}  // namespace murmelin

namespace {

// Everything a fill may change besides the block, as bits.
struct fill_state {
  std::vector<uint64_t> z;  // z0 and z1 of each section
  uint32_t random;
  int32_t count;
  uint64_t gain;
  int64_t fade_count;
  uint64_t fade_gain;
  bool operator==(const fill_state&) const = default;
};

fill_state state_of(const tpinknoise& g) {
  fill_state st{{}, random_state(), g.noiseonsetcount, std::bit_cast<uint64_t>(g.noiseonsetgain),
                g.noisefadecount, std::bit_cast<uint64_t>(g.noisefadegain)};
  for (const auto& s : g.pinkfilters) {
    st.z.push_back(std::bit_cast<uint64_t>(s->state_z0()));
    st.z.push_back(std::bit_cast<uint64_t>(s->state_z1()));
  }
  return st;
}

// What a fill gave: its overload flag or the name of what it raised.
template <typename F>
std::string outcome(F fill) {
  try {
    return fill() ? "overload" : "no overload";
  } catch (const std::exception& e) {
    return typeid(e).name();
  }
}

struct block_args {
  std::size_t size;
  int32_t used;
  double level;
  bool soft = false, left = true, right = true;
};

// Two generators built alike: one filled by fill_block, the other by fill_block_reference.
struct lanes {
  tpinknoise fast, ref;
  std::string last_outcome;

  explicit lanes(int32_t fs = 44100) {
    fast.build_filter_bank(fs);
    ref.build_filter_bank(fs);
  }

  template <typename F>
  void both(F change) {
    change(fast);
    change(ref);
  }

  // Fills one block in each from the same random state and checks that the blocks, every
  // section state, the random state, the onset state and the outcome agree bit for bit.
  // Returns whether the fast lane handled the block itself.
  bool block(const block_args& a) {
    const uint32_t start = random_state();
    TWaveChunk want(a.size, int16_t{12345});
    const std::string want_outcome =
        outcome([&] { return ref.fill_block_reference(want, a.used, a.level, a.soft, a.left, a.right); });
    const fill_state want_state = state_of(ref);

    set_random_state(start);
    TWaveChunk got(a.size, int16_t{12345});
    const fill_state before = state_of(fast);
    std::optional<bool> handled;
    std::string got_outcome = outcome([&] {
      handled = tpinknoise_lanes::fast(fast, got, a.used, a.level, a.soft, a.left, a.right);
      return handled.value_or(false);
    });
    if (!handled) {
      // Not handled: nothing changed but entries of the block, and fill_block runs the reference.
      EXPECT_EQ(state_of(fast), before);
      got_outcome = outcome([&] { return fast.fill_block(got, a.used, a.level, a.soft, a.left, a.right); });
    }
    EXPECT_EQ(got_outcome, want_outcome) << "used " << a.used << " level " << a.level;
    last_outcome = want_outcome;
    EXPECT_EQ(got, want) << "used " << a.used << " level " << a.level;
    EXPECT_EQ(state_of(fast), want_state) << "used " << a.used << " level " << a.level;
    return handled.has_value();
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

TEST(PinkNoiseLanes, AgreeOnManyRandomBlocks) {
  // Player-sized, odd, tiny and in-between blocks, some with room to spare, at levels up to
  // overload, with onsets of many lengths starting now and then, channels on and off.
  std::mt19937 rng(20261209);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  lanes l;
  set_random_state(2024);
  int handled = 0, overloads = 0;
  constexpr int blocks = 400;
  for (int b = 0; b < blocks; ++b) {
    if (pick(0, 9) == 0) {
      const int32_t fs = std::array{0, 1, 7, 100, 2048, 22050}[pick(0, 5)];
      l.both([&](tpinknoise& g) { g.start_onset(fs); });
    }
    // Now and then a fade-out that begins and ends within the next blocks.
    if (pick(0, 14) == 0) {
      const int32_t fs = pick(1, 40), minutes = pick(0, 3);
      l.both([&](tpinknoise& g) { g.start_fade(fs, minutes); });
    }
    if (pick(0, 19) == 0) set_random_state(static_cast<uint32_t>(rng()));
    const int kind = pick(0, 3);
    const int32_t used = kind == 0 ? 4096 : kind == 1 ? pick(1, 20) : pick(1, 4096);
    const std::size_t size = static_cast<std::size_t>(used) + (pick(0, 3) == 0 ? pick(1, 9) : 0);
    const double level = pick(0, 9) == 0 ? 10.0 : -60.0 + pick(0, 600) / 10.0;
    block_args a{size, used, level, pick(0, 1) == 1, pick(0, 3) != 0, pick(0, 3) != 0};
    handled += l.block(a);
    overloads += l.last_outcome == "overload";
    if (::testing::Test::HasFailure()) break;
  }
  // Every one of these blocks is the common case: the fast lane did them all.
  EXPECT_EQ(handled, blocks);
  EXPECT_GT(overloads, 0);
}

TEST(PinkNoiseLanes, RareCasesGoThroughTheReference) {
  constexpr int32_t max = std::numeric_limits<int32_t>::max();
  struct scenario {
    const char* what;
    std::function<void(tpinknoise&)> change;
    block_args block;
    bool handled;
  };
  const auto high_shelf = [](tpinknoise& g) {  // its zero part overflows long before its pole part
    g.pinkfilters[0]->set_FPole(20000);
    g.pinkfilters[0]->set_FZero(20);
  };
  const scenario scenarios[] = {
      {"a gain overflows", [](tpinknoise& g) { g.pinkfilters[3]->set_Gain(1e305); },
       {4096, 4096, -10}, false},
      {"gains of all kinds, no failure",
       [](tpinknoise& g) {
         g.pinkfilters[3]->set_Gain(1.0);
         g.pinkfilters[1]->set_Gain(0.5);
         g.pinkfilters[8]->set_Gain(-3.0);
         g.pinkfilters[4]->set_UnityGainAtHF(true);
       },
       {4096, 4095, -10}, true},
      {"a zero part overflows", high_shelf, {4096, 4096, 6020}, false},
      {"states apart, then a quiet block",
       [](tpinknoise& g) {
         for (auto& section : g.pinkfilters) section->reset();  // no huge values left over
         g.pinkfilters[0]->restore_state(5.0, 1.0);
       },
       {64, 64, -10}, true},
      {"pole parts overflow", [](tpinknoise& g) { g.pinkfilters[0]->set_FPole(-11000); },
       {4096, 4096, -10}, false},
      {"a short block with failures", [](tpinknoise&) {}, {7, 7, 6020}, false},
      {"a gain that is not a number", [](tpinknoise& g) { g.pinkfilters[9]->set_Gain(std::nan("")); },
       {4096, 30, -10}, false},
      {"a state that is not finite",
       [](tpinknoise& g) {
         g.build_filter_bank(44100);
         g.pinkfilters[5]->restore_state(0.0, INFINITY);
       },
       {100, 100, -10}, false},
      {"a fresh bank again", [](tpinknoise& g) { g.build_filter_bank(48000); }, {4096, 4096, -10}, true},
      {"onset count near its limit",
       [&](tpinknoise& g) {
         g.noiseonsetnsamples = max;
         g.noiseonsetcount = max - 3;
       },
       {4096, 4096, -10, true}, false},
      {"onset count past its limit but onset off", [](tpinknoise&) {}, {4096, 4096, -10, false}, true},
      {"count beyond the block", [](tpinknoise&) {}, {10, 20, -10}, false},
      {"odd count beyond an odd block", [](tpinknoise&) {}, {9, 11, -10}, false},
      {"nothing to fill", [](tpinknoise&) {}, {4, 0, 40}, false},
      {"a negative count", [](tpinknoise&) {}, {4, -4, 40}, false},
      {"a level too high", [](tpinknoise&) {}, {8, 8, 1e6}, false},
  };
  lanes l;
  set_random_state(77);
  for (const scenario& sc : scenarios) {
    SCOPED_TRACE(sc.what);
    l.both(sc.change);
    EXPECT_EQ(l.block(sc.block), sc.handled);
    if (std::string(sc.what) == "a zero part overflows") {
      // The zero part failed on the last frame: z0 moved, z1 did not.
      EXPECT_NE(l.ref.pinkfilters[0]->state_z0(), l.ref.pinkfilters[0]->state_z1());
    }
  }
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

TEST(PinkNoiseFill, FadeOutEndsInSilenceAfterTheTimeSet) {
  const auto raised = [](double k, double n) { return 0.5 * (1.0 - std::cos(std::numbers::pi * k / n)); };
  TWaveChunk frame(2);
  for (const int32_t fs : {8000, 384000}) {
    SCOPED_TRACE(fs);
    tpinknoise g = built_generator(fs);
    // Five minutes: full level, then the last 60 s a raised cosine down to silence.
    g.start_fade(fs, 5);
    const int64_t begin = 240 * int64_t{fs}, end = 300 * int64_t{fs};
    const auto gain_at = [&](int64_t k) {
      g.noisefadecount = k;
      g.fill_block(frame, 2, -10, false, true, true);
      return g.noisefadegain;
    };
    EXPECT_EQ(gain_at(begin - 1), 1.0);
    EXPECT_EQ(gain_at(begin), 1.0);
    EXPECT_LT(gain_at(begin + 1), 1.0);
    EXPECT_NEAR(gain_at(begin + 30 * int64_t{fs}), 0.5, 1e-12);
    EXPECT_GT(gain_at(end - 1), 0.0);
    EXPECT_LT(gain_at(end - 1), 1e-9);
    EXPECT_EQ(gain_at(end), 0.0);
    EXPECT_TRUE(g.fade_done());
  }
  // A minute fades over its second half. Played from the start in blocks of odd sizes, the
  // count runs on across blocks: the last frame of each block has the smaller of the onset's
  // and the fade's gains, the end comes with the frame the time gives, and then only zeros.
  tpinknoise g = built_generator(8000);
  g.start_onset(8000);
  g.start_fade(8000, 1);
  EXPECT_EQ(g.noisefadebegin, 30 * 8000);
  TWaveChunk block(2 * 997, int16_t{1});
  for (int32_t used = 1; !g.fade_done(); used = used % 995 + 3) {
    const int64_t before = g.noisefadecount;
    g.fill_block(block, 2 * used, -10, true, true, true);
    const double k = static_cast<double>(g.noisefadecount - 1);
    const double fade = k < 240000 ? 1.0 : k >= 480000 ? 0.0 : 1.0 - raised(k - 240000, 240000);
    ASSERT_NEAR(g.noisefadegain, std::min(k <= 16000 ? raised(k, 16000) : 1.0, fade), 1e-12) << k;
    ASSERT_EQ(g.fade_done(), before + used >= 480000) << k;
  }
  for (int k = 0; k < 20; ++k) g.fill_block(block, 2 * 997, -10, true, true, true);
  EXPECT_EQ(block, TWaveChunk(2 * 997, int16_t{0}));

  // Onset and fade overlap when the fade is very short: the smaller gain wins.
  tpinknoise h = built_generator(100);
  h.start_onset(100);
  h.start_fade(100, 1);
  h.noisefadebegin = 5990;  // the last 10 frames, inside an onset as long as the time
  h.noiseonsetnsamples = 6000;
  for (int64_t k = 0; k < 6010; ++k) {
    h.fill_block(frame, 2, -10, true, true, true);
    const double fade = k < 5990 ? 1.0 : k >= 6000 ? 0.0 : 1.0 - raised(k - 5990.0, 10);
    ASSERT_NEAR(h.noisefadegain, std::min(raised(std::min<double>(k, 6000), 6000), fade), 1e-12) << k;
  }
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
  g.noiseonsetnsamples = max;
  g.noiseonsetcount = max - 3;
  set_random_state(21);
  TWaveChunk block(4096, int16_t{9});
  EXPECT_THROW(g.fill_block(block, 4096, -10, true, true, true), EIntOverflow);
  // Three frames written; the fourth raised after its onset gain, before its draws.
  for (int i = 0; i < 6; ++i) EXPECT_NE(block[i], 9) << i;
  EXPECT_EQ(block[6], 9);
  EXPECT_EQ(random_state(), [] {
    uint32_t s = 21;
    for (int i = 0; i < 6; ++i) s = random_next_state(s);
    return s;
  }());
  EXPECT_EQ(g.noiseonsetcount, max);
  EXPECT_EQ(g.noiseonsetgain, 1.0);
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
  lanes l;
  set_random_state(31337);
  TWaveChunk got(4096);
  EXPECT_TRUE(l.block({4096, 4096, 20}));
  EXPECT_EQ(l.last_outcome, "overload");
  set_random_state(31337);
  EXPECT_TRUE(built_generator().fill_block(got, 4096, 20, false, true, true));
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
    tpinknoise raw = built_generator();
    set_random_state(8);
    const double l = 10 * std::pow(10, -10.0 / 20);
    double x = (random_value() - random_value()) * (l * 1.0 * 32768);
    for (auto& s : raw.pinkfilters) x = s->filter(x);

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
  TWaveChunk want(12);
  set_random_state(11);
  built_generator().fill_block_reference(want, 12, -10, false, true, true);
  tpinknoise g = built_generator();
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
