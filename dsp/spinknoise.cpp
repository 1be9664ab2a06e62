// SPDX-License-Identifier: GPL-3.0-or-later
#include "spinknoise.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <limits>
#include <numbers>
#include <string>

#include "checked_int.h"
#include "exceptions.h"
#include "sdbra.h"

namespace murmelin {

void tpinknoise::build_filter_bank(int32_t fs) {
  if (fs <= 0) throw ERangeError("Sample rate out of range: " + std::to_string(fs));
  // Designed in full before the bank is replaced, so a failure leaves the old bank as it was.
  std::unique_ptr<TRealFilterSection> sections[nsections];
  for (int32_t i = 0; i < nsections; ++i) {
    auto& section = sections[i];
    section = std::make_unique<TRealFilterSection>();
    section->set_SampFreq(fs);
    section->set_FPole(20.0 * std::pow(2.0, i));
    section->set_FZero(20.0 * std::pow(2.0, i + 0.5));
    section->set_UnityGainAtHF(false);
    section->set_Gain(1.0);
    section->reset();
  }
  if (pinkfilters.size() < static_cast<std::size_t>(nsections)) pinkfilters.resize(nsections);
  for (int32_t i = 0; i < nsections; ++i) pinkfilters[static_cast<std::size_t>(i)] = std::move(sections[i]);
}

void tpinknoise::start_onset(int32_t fs) {
  noiseonsetnsamples = checked_mul(2, fs);
  noiseonsetcount = 0;
}

void tpinknoise::start_fade(int32_t fs, int32_t minutes) {
  noisefadecount = 0;
  noisefadebegin = 0;
  noisefadeend = 0;
  if (minutes <= 0 || fs <= 0) return;
  noisefadeend = int64_t{minutes} * 60 * fs;
  noisefadebegin = noisefadeend - std::min<int64_t>(int64_t{60} * fs, noisefadeend / 2);
}

namespace {

constexpr int32_t nsec = tpinknoise::nsections;
using bank_t = std::array<TRealFilterSection*, nsec>;

// The first ten sections; ERangeError when the bank has not been built.
bank_t bank_of(const tpinknoise& g) {
  if (g.pinkfilters.size() < static_cast<std::size_t>(nsec)) throw ERangeError();
  bank_t bank;
  for (int32_t i = 0; i < nsec; ++i) {
    bank[i] = g.pinkfilters[static_cast<std::size_t>(i)].get();
    if (bank[i] == nullptr) throw ERangeError();
  }
  return bank;
}

// The level factor L = 10 * 10^(level / 20), computed once per block.
double level_factor(double noiselevel) {
  const double level = 10.0 * std::pow(10.0, noiselevel / 20.0);
  if (std::isnan(level)) throw EInvalidOp();
  if (!std::isfinite(level * 32768.0)) throw EOverflow();
  return level;
}

// The onset gain of the next frame. While the onset runs (count <= nsamples) the gain follows
// a raised cosine and the count goes up by one (EIntOverflow past 2^31 - 1, the gain already
// set); an onset of length 0 is complete at once.
inline void next_onset_gain(bool soft, int32_t nsamples, int32_t& count, double& gain) {
  if (soft && count <= nsamples) [[unlikely]] {
    gain = nsamples == 0 ? 1.0 : 0.5 * (1.0 - std::cos(std::numbers::pi * count / nsamples));
    count = checked_add(count, 1);
  } else {
    gain = 1.0;
  }
}

// The gain of the next frame: its onset gain, or the fade-out's where that is smaller; the
// frame count goes up by one.
inline double next_frame_gain(double onset_gain, int64_t& count, int64_t begin, int64_t end) {
  const int64_t k = count++;
  if (end == 0 || k < begin) [[likely]] return onset_gain;
  const double fade =
      k >= end ? 0.0 : 0.5 * (1.0 + std::cos(std::numbers::pi * double(k - begin) / double(end - begin)));
  return std::min(onset_gain, fade);
}

// Overload test and conversion of a frame's filtered value.
inline int16_t frame_sample(double x, bool& overload) {
  if (std::fabs(x) > 32766.0) overload = true;
  return double_to_smallint_nodither(x);
}

}  // namespace

bool tpinknoise::fill_block_reference(TWaveChunk& arr, int32_t used, double noiselevel,
                                      bool softnoiseonset, bool noiseplayleft,
                                      bool noiseplayright) {
  const bank_t bank = bank_of(*this);
  const double level = level_factor(noiselevel);
  bool overload = false;
  double x = 0.0;
  for (int32_t n = 0; n < used; ++n) {
    const bool left = n % 2 == 0;
    if (left) {
      next_onset_gain(softnoiseonset, noiseonsetnsamples, noiseonsetcount, noiseonsetgain);
      noisefadegain = next_frame_gain(noiseonsetgain, noisefadecount, noisefadebegin, noisefadeend);
      const double r1 = random_value();
      const double r2 = random_value();
      x = (r1 - r2) * (level * noisefadegain * 32768.0);
      for (TRealFilterSection* section : bank) x = section->filter(x);
    }
    if (static_cast<std::size_t>(n) >= arr.size()) throw ERangeError();
    const int16_t sample = left ? frame_sample(x, overload) : double_to_smallint_nodither(x);
    arr[static_cast<std::size_t>(n)] = (left ? noiseplayleft : noiseplayright) ? sample : int16_t{0};
  }
  return overload;
}

namespace {

constexpr int32_t npairs = nsec / 2;
constexpr int64_t chunk = 256;  // frames of white noise drawn ahead of the filters
static_assert(nsec % 2 == 0, "the sections run in pairs");

// The random state two draws on: s * m^2 + (m + 1) (mod 2^32), m the multiplier.
constexpr uint32_t random_two_states(uint32_t s) {
  constexpr uint32_t m = 134775813u;
  return s * (m * m) + (m + 1u);
}
static_assert(random_two_states(0) == random_next_state(random_next_state(0)));
static_assert(random_two_states(0xFFFFFFFFu) == random_next_state(random_next_state(0xFFFFFFFFu)));
static_assert(random_two_states(2024u) == random_next_state(random_next_state(2024u)));

// Two doubles side by side; each lane is plain IEEE double arithmetic.
using v2d = double __attribute__((vector_size(16)));

inline bool finite(double x) { return std::fabs(x) <= DBL_MAX; }

// The fill on copies of the states. The bank runs as a pipeline: in iteration t section i
// filters frame t - i, so the ten steps of one iteration do not wait for each other, while
// each section still takes its inputs in frame order and computes exactly the values of the
// plain fill. A failed step shows as a frame value that is not finite, because a value that
// is not finite stays so through every later step; the lane then gives up, having changed
// nothing but entries of the block.
class fast_lane {
public:
  fast_lane(const tpinknoise& g, const bank_t& bank)
      : rnd(random_state()), count(g.noiseonsetcount), gain(g.noiseonsetgain),
        fade_count(g.noisefadecount), fade_begin(g.noisefadebegin), fade_end(g.noisefadeend),
        fade_gain(g.noisefadegain) {
    for (int32_t i = 0; i < nsec; ++i) {
      a0[i] = bank[i]->a0();
      a1[i] = bank[i]->a1();
      b0[i] = bank[i]->b0();
      b1[i] = bank[i]->b1();
      g_[i] = bank[i]->Gain();
      z[i] = bank[i]->state_z1();  // a step reads z1 only and stores both
      v[i] = 0.0;
    }
  }

  // Fills entries 0 .. used - 1 (used >= 1, all inside out); false when it gave up.
  bool run(int16_t* out, int64_t used, double level, bool soft, int32_t nsamples, bool left,
           bool right) {
    fout = out;
    fused = used;
    fleft = left;
    fright = right;
    const int64_t frames = (used + 1) / 2;
    const int64_t whole = used / 2;  // frames with both of their entries in the block
    double noise[chunk];
    int64_t first = 0, have = 0;  // noise[0 .. have - 1] holds frames first ..
    for (int64_t t = 0; t < frames + (nsec - 1);) {
      if (t < frames && t == first + have) {
        first = t;
        have = std::min(chunk, frames - t);
        for (int64_t k = 0; k < have; ++k) {
          next_onset_gain(soft, nsamples, count, gain);
          fade_gain = next_frame_gain(gain, fade_count, fade_begin, fade_end);
          // Both draws from the frame's starting state, so the next frame need not wait.
          const double r1 = random_state_value(random_next_state(rnd));
          rnd = random_two_states(rnd);
          const double r2 = random_state_value(rnd);
          noise[k] = (r1 - r2) * (level * fade_gain * 32768.0);
        }
      }
      const int64_t full_end = std::min(first + have, whole + (nsec - 1));
      if (t >= nsec - 1 && t < full_end) {
        if (!full(t, noise + (t - first), full_end - t)) return false;
        t = full_end;
      } else {
        if (!partial(t, frames, t < frames ? noise[t - first] : 0.0)) return false;
        ++t;
      }
    }
    return true;
  }

  // Hands the states back after a run that went through.
  void commit(tpinknoise& g, const bank_t& bank) const {
    for (int32_t i = 0; i < nsec; ++i) bank[i]->restore_state(z[i], z[i]);
    set_random_state(rnd);
    g.noiseonsetcount = count;
    g.noiseonsetgain = gain;
    g.noisefadecount = fade_count;
    g.noisefadegain = fade_gain;
  }

  bool overload = false;

private:
  // The writes of frame k, those of its entries that lie in the block.
  bool put(int64_t k, double x) {
    if (!finite(x)) return false;
    const int16_t s = frame_sample(x, overload);
    if (2 * k < fused) fout[2 * k] = fleft ? s : int16_t{0};
    if (2 * k + 1 < fused) fout[2 * k + 1] = fright ? s : int16_t{0};
    return true;
  }

  // Iteration t while the pipeline fills or drains, one section at a time; x is the input of
  // frame t when t < frames.
  bool partial(int64_t t, int64_t frames, double x) {
    for (int32_t i = nsec - 1; i >= 0; --i) {
      const int64_t f = t - i;
      if (f < 0 || f >= frames) continue;
      const auto s = section_step(a0[i], a1[i], b0[i], b1[i], g_[i], i == 0 ? x : v[i - 1], z[i]);
      z[i] = s.p;
      v[i] = s.out;
    }
    const int64_t k = t - (nsec - 1);
    return k < 0 || k >= frames || put(k, v[nsec - 1]);
  }

  // n iterations from t with every section at work: inputs in[0 .. n - 1] (frames t ..), the
  // outputs frames t - 9 .. t - 9 + n - 1, each with both of its entries in the block.
  // Sections 2k and 2k + 1 run side by side as one pair of lanes.
  bool full(int64_t t, const double* in, int64_t n) {
    v2d ca0[npairs], ca1[npairs], cb0[npairs], cb1[npairs], cg[npairs], zz[npairs], vv[npairs];
    for (int32_t k = 0; k < npairs; ++k) {
      ca0[k] = v2d{a0[2 * k], a0[2 * k + 1]};
      ca1[k] = v2d{a1[2 * k], a1[2 * k + 1]};
      cb0[k] = v2d{b0[2 * k], b0[2 * k + 1]};
      cb1[k] = v2d{b1[2 * k], b1[2 * k + 1]};
      cg[k] = v2d{g_[2 * k], g_[2 * k + 1]};
      zz[k] = v2d{z[2 * k], z[2 * k + 1]};
      vv[k] = v2d{v[2 * k], v[2 * k + 1]};
    }
    bool ovl = false;
    int16_t* o = fout + 2 * (t - (nsec - 1));
    const bool l = fleft, r = fright;
    for (int64_t m = 0; m < n; ++m, o += 2) {
#pragma GCC unroll 5
      for (int32_t k = npairs - 1; k >= 0; --k) {
        // Inputs: the outputs of sections 2k - 1 and 2k from the previous iteration.
        const v2d x = k > 0 ? __builtin_shufflevector(vv[k - 1], vv[k], 1, 2) : v2d{in[m], vv[0][0]};
        const auto s = section_step(ca0[k], ca1[k], cb0[k], cb1[k], cg[k], x, zz[k]);
        zz[k] = s.p;
        vv[k] = s.out;
      }
      const double x = vv[npairs - 1][1];
      if (!finite(x)) [[unlikely]] return false;
      const int16_t s = frame_sample(x, ovl);
      o[0] = l ? s : int16_t{0};
      o[1] = r ? s : int16_t{0};
    }
    overload = overload || ovl;
    for (int32_t k = 0; k < npairs; ++k) {
      z[2 * k] = zz[k][0];
      z[2 * k + 1] = zz[k][1];
      v[2 * k] = vv[k][0];
      v[2 * k + 1] = vv[k][1];
    }
    return true;
  }

  double a0[nsec], a1[nsec], b0[nsec], b1[nsec], g_[nsec];
  double z[nsec];  // each section's z1
  double v[nsec];  // each section's last output, the next section's next input
  uint32_t rnd;
  int32_t count;
  double gain;
  int64_t fade_count, fade_begin, fade_end;
  double fade_gain;
  int16_t* fout = nullptr;
  int64_t fused = 0;
  bool fleft = true, fright = true;
};

}  // namespace

std::optional<bool> tpinknoise::fill_block_fast(TWaveChunk& arr, int32_t used, double noiselevel,
                                                bool softnoiseonset, bool noiseplayleft,
                                                bool noiseplayright) {
  const int64_t frames = (int64_t{used} + 1) / 2;
  if (used <= 0 || static_cast<std::size_t>(used) > arr.size()) return std::nullopt;
  if (softnoiseonset && noiseonsetcount > std::numeric_limits<int32_t>::max() - frames)
    return std::nullopt;
  const bank_t bank = bank_of(*this);
  const double level = level_factor(noiselevel);
  fast_lane lane(*this, bank);
  if (!lane.run(arr.data(), used, level, softnoiseonset, noiseonsetnsamples, noiseplayleft,
                noiseplayright))
    return std::nullopt;
  lane.commit(*this, bank);
  return lane.overload;
}

bool tpinknoise::fill_block(TWaveChunk& arr, int32_t used, double noiselevel, bool softnoiseonset,
                            bool noiseplayleft, bool noiseplayright) {
  if (const auto overload = fill_block_fast(arr, used, noiselevel, softnoiseonset, noiseplayleft,
                                            noiseplayright))
    return *overload;
  return fill_block_reference(arr, used, noiselevel, softnoiseonset, noiseplayleft, noiseplayright);
}

double tpinknoise::response_db(double freq, double play_rate) const {
  double db = 0.0;
  for (const auto& section : pinkfilters) {
    if (section) db += 20.0 * std::log10(section->response(freq, play_rate));
  }
  return db;
}

}  // namespace murmelin
