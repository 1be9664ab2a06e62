#include "spinknoise.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <exception>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
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

namespace {

constexpr int32_t nsec = tpinknoise::nsections;
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

inline bool all_finite(v2d o) {
#if defined(__SSE2__)
  const __m128d abs = _mm_and_pd(o, _mm_castsi128_pd(_mm_set1_epi64x(0x7FFFFFFFFFFFFFFF)));
  return _mm_movemask_pd(_mm_cmple_pd(abs, _mm_set1_pd(std::numeric_limits<double>::max()))) == 3;
#else
  return std::isfinite(o[0]) && std::isfinite(o[1]);
#endif
}

// The filter bank run as a pipeline. Each section is a state machine of its own that takes
// its inputs in frame order, so the sections may work on different frames at the same time:
// in iteration t, section i filters frame t - i. Each section sees exactly the inputs it would
// see frame by frame, so the results are identical, while the ten steps of one iteration do
// not wait for each other.
//
// The coefficients and states are copied here for the block. A step is exactly that of
// TRealFilterSection::filter; the bookkeeping of failed steps lets the sections get back the
// very state values they would hold had they run each step themselves.
struct pipeline {
  double a0[nsec], a1[nsec], b0[nsec], b1[nsec], g[nsec];
  double z[nsec];  // each section's z1
  double v[nsec];  // each section's last output, the next section's next input
  bool unitgain = true;  // every gain is exactly 1.0, so the gain product changes nothing

  // Failed steps, by frame. A failed zero part leaves z0 apart from z1 until the section's
  // next step that stores both; failed pole parts in between store nothing.
  int64_t zerofail_frame[nsec];  // last frame whose zero part failed; -1: apart at the start
  double zerofail_z0[nsec];
  int64_t polerun_from[nsec], polerun_to[nsec];  // latest run of frames whose pole part failed

  // Output: the block, how many entries fit, channel switches and the overload flag.
  int16_t* out = nullptr;
  int64_t fit = 0;
  bool left = true, right = true;
  bool overload = false;

  explicit pipeline(TRealFilterSection* const* bank) {
    for (int32_t i = 0; i < nsec; ++i) {
      const TRealFilterSection& s = *bank[i];
      a0[i] = s.a0();
      a1[i] = s.a1();
      b0[i] = s.b0();
      b1[i] = s.b1();
      g[i] = s.Gain();
      z[i] = s.state_z1();
      v[i] = 0.0;
      unitgain = unitgain && g[i] == 1.0;
      const bool apart = std::bit_cast<uint64_t>(s.state_z0()) != std::bit_cast<uint64_t>(s.state_z1());
      zerofail_frame[i] = apart ? -1 : -2;
      zerofail_z0[i] = s.state_z0();
      polerun_from[i] = polerun_to[i] = -10;
    }
  }

  // Hands the states back after frames 0 .. frames - 1 have been filtered.
  void hand_back(TRealFilterSection* const* bank, int64_t frames) const {
    const int64_t last = frames - 1;
    for (int32_t i = 0; i < nsec; ++i) {
      const int64_t f0 = zerofail_frame[i];
      const bool apart = f0 >= -1 && (f0 == last || (polerun_from[i] == f0 + 1 && polerun_to[i] == last));
      bank[i]->restore_state(apart ? zerofail_z0[i] : z[i], z[i]);
    }
  }

  struct step_result {
    double x, z;
  };

  // A step of section i on frame f whose arithmetic failed: it yields 0.0.
  [[gnu::cold, gnu::noinline]] step_result failed(int32_t i, int64_t f, double p, double y, double zi) {
    if (!std::isfinite(p)) {  // the pole part: nothing stored
      if (polerun_to[i] == f - 1) {
        polerun_to[i] = f;
      } else {
        polerun_from[i] = polerun_to[i] = f;
      }
      return {0.0, zi};
    }
    if (!std::isfinite(y)) {  // the zero part: z0 := p, z1 stays
      zerofail_frame[i] = f;
      zerofail_z0[i] = p;
      return {0.0, zi};
    }
    return {0.0, p};  // the output gain: both states hold p
  }

  template <bool unit>
  [[gnu::always_inline]] inline double step(int32_t i, int64_t f, double x, double& zi) {
    const double p = a0[i] * x + a1[i] * zi;
    const double y = b0[i] * (p + b1[i] * zi);
    const double o = unit ? y : g[i] * y;
    if (std::isfinite(o)) [[likely]] {
      zi = p;
      return o;
    }
    const step_result r = failed(i, f, p, y, zi);
    zi = r.z;
    return r.x;
  }

  // Overload test and the writes of frame k, for any k.
  void put(int64_t k, double x) {
    if (std::fabs(x) > 32766.0) overload = true;
    const int16_t s = double_to_smallint_nodither(x);
    if (2 * k < fit) out[2 * k] = left ? s : int16_t{0};
    if (2 * k + 1 < fit) out[2 * k + 1] = right ? s : int16_t{0};
  }

  // Iteration t where the pipeline is not full: frames 0 .. frames - 1 exist; x is the input
  // of frame t when t < frames.
  template <bool unit>
  void partial(int64_t t, int64_t frames, double x) {
    for (int32_t i = nsec - 1; i >= 1; --i) {
      const int64_t f = t - i;
      if (f >= 0 && f < frames) v[i] = step<unit>(i, f, v[i - 1], z[i]);
    }
    if (t < frames) v[0] = step<unit>(0, t, x, z[0]);
    const int64_t k = t - (nsec - 1);
    if (k >= 0 && k < frames) put(k, v[nsec - 1]);
  }

  // n full iterations from t: inputs in[0 .. n - 1] (frames t .. t + n - 1), outputs frames
  // t - 9 .. t - 9 + n - 1, each of which fits in the block with both of its entries.
  // Sections 2k and 2k + 1 run side by side as one pair of lanes; a pair whose output is not
  // finite is stepped again one section at a time, with the failure rule.
  template <bool unit>
  void full(int64_t t, const double* in, int64_t n) {
    constexpr int32_t np = nsec / 2;
    v2d ca0[np], ca1[np], cb0[np], cb1[np], cg[np], zz[np], vv[np];
    for (int32_t k = 0; k < np; ++k) {
      ca0[k] = v2d{a0[2 * k], a0[2 * k + 1]};
      ca1[k] = v2d{a1[2 * k], a1[2 * k + 1]};
      cb0[k] = v2d{b0[2 * k], b0[2 * k + 1]};
      cb1[k] = v2d{b1[2 * k], b1[2 * k + 1]};
      cg[k] = v2d{g[2 * k], g[2 * k + 1]};
      zz[k] = v2d{z[2 * k], z[2 * k + 1]};
      vv[k] = v2d{v[2 * k], v[2 * k + 1]};
    }
    bool ovl = false;
    int16_t* o = out;
    const bool l = left, r = right;
    for (int64_t m = 0; m < n; ++m, ++t) {
#pragma GCC unroll 5
      for (int32_t k = np - 1; k >= 0; --k) {
        // Inputs: the outputs of sections 2k - 1 and 2k from the previous iteration.
        const v2d x = k > 0 ? __builtin_shufflevector(vv[k - 1], vv[k], 1, 2) : v2d{in[m], vv[0][0]};
        const v2d p = ca0[k] * x + ca1[k] * zz[k];
        const v2d y = cb0[k] * (p + cb1[k] * zz[k]);
        const v2d out2 = unit ? y : cg[k] * y;
        if (all_finite(out2)) [[likely]] {
          zz[k] = p;
          vv[k] = out2;
        } else {
          double zlo = zz[k][0], zhi = zz[k][1];
          const double olo = step<unit>(2 * k, t - 2 * k, x[0], zlo);
          const double ohi = step<unit>(2 * k + 1, t - 2 * k - 1, x[1], zhi);
          zz[k] = v2d{zlo, zhi};
          vv[k] = v2d{olo, ohi};
        }
      }
      const double x = vv[np - 1][1];
      ovl |= std::fabs(x) > 32766.0;
      const int16_t s = double_to_smallint_nodither(x);
      const int64_t e = 2 * (t - (nsec - 1));
      o[e] = l ? s : int16_t{0};
      o[e + 1] = r ? s : int16_t{0};
    }
    overload = overload || ovl;
    for (int32_t k = 0; k < np; ++k) {
      z[2 * k] = zz[k][0];
      z[2 * k + 1] = zz[k][1];
      v[2 * k] = vv[k][0];
      v[2 * k + 1] = vv[k][1];
    }
  }
};

// Keeps the block's working copies of the random state and the onset fields and writes them
// back however the fill ends.
struct onset_state {
  tpinknoise& gen;
  uint32_t rnd;
  int32_t count;
  double gain;

  explicit onset_state(tpinknoise& g)
      : gen(g), rnd(random_state()), count(g.noiseonsetcount), gain(g.noiseonsetgain) {}
  ~onset_state() {
    set_random_state(rnd);
    gen.noiseonsetcount = count;
    gen.noiseonsetgain = gain;
  }
  onset_state(const onset_state&) = delete;
  onset_state& operator=(const onset_state&) = delete;
};

template <bool unit>
void run_pipeline(pipeline& pipe, onset_state& st, int64_t& frames, int64_t writable,
                  double level, bool soft, int32_t onsetlength, std::exception_ptr& error) {
  double noise[chunk];
  int64_t chunk_first = 0, chunk_count = 0;  // frames whose noise is in the buffer
  int64_t t = 0;
  while (t < frames + (nsec - 1)) {
    if (t < frames && t >= chunk_first + chunk_count) {
      // White noise for the next frames: soft-onset gain, then two draws, per frame.
      chunk_first = t;
      chunk_count = 0;
      const int64_t want = std::min(chunk, frames - t);
      try {
        for (; chunk_count < want; ++chunk_count) {
          if (soft && st.count <= onsetlength) [[unlikely]] {
            // An onset of length 0 is complete at once.
            st.gain = onsetlength == 0
                          ? 1.0
                          : 0.5 * (1.0 - std::cos(std::numbers::pi * st.count / onsetlength));
            st.count = checked_add(st.count, 1);
          } else {
            st.gain = 1.0;
          }
          // Both draws straight from the frame's starting state, so that the next frame need
          // not wait for the first draw.
          const uint32_t s1 = random_next_state(st.rnd);
          st.rnd = random_two_states(st.rnd);
          const double r1 = random_state_value(s1);
          const double r2 = random_state_value(st.rnd);
          noise[chunk_count] = (r1 - r2) * (level * st.gain * 32768.0);
        }
      } catch (...) {
        // The frames before the failing one are finished first, as they would have been.
        error = std::current_exception();
        frames = chunk_first + chunk_count;
      }
    }
    const int64_t avail = chunk_first + chunk_count - t;  // inputs at hand from t on
    const int64_t full_end = std::min(chunk_first + chunk_count, writable + (nsec - 1));
    if (t >= nsec - 1 && t < full_end) {
      pipe.full<unit>(t, noise + (t - chunk_first), full_end - t);
      t = full_end;
    } else {
      pipe.partial<unit>(t, frames, avail > 0 ? noise[t - chunk_first] : 0.0);
      ++t;
    }
  }
}

}  // namespace

bool tpinknoise::fill_block(TWaveChunk& arr, int32_t used, double noiselevel, bool softnoiseonset,
                            bool noiseplayleft, bool noiseplayright) {
  if (pinkfilters.size() < static_cast<std::size_t>(nsections)) throw ERangeError();
  TRealFilterSection* bank[nsections];
  for (int32_t i = 0; i < nsections; ++i) {
    bank[i] = pinkfilters[static_cast<std::size_t>(i)].get();
    if (bank[i] == nullptr) throw ERangeError();
  }

  // Level factor, once per block.
  const double level = 10.0 * std::pow(10.0, noiselevel / 20.0);
  if (std::isnan(level)) throw EInvalidOp();
  if (!std::isfinite(level * 32768.0)) throw EOverflow();

  // Entries that fit; frames to compute. When more entries are asked for than the block
  // holds, the write at the first index beyond it fails, and when that is a left sample its
  // frame has been computed by then.
  const int64_t size = static_cast<int64_t>(arr.size());
  const int64_t fit = std::max<int64_t>(0, std::min<int64_t>(used, size));
  const bool beyond = used > size;
  int64_t frames = (fit + 1) / 2 + (beyond && fit % 2 == 0 ? 1 : 0);

  pipeline pipe(bank);
  pipe.out = arr.data();
  pipe.fit = fit;
  pipe.left = noiseplayleft;
  pipe.right = noiseplayright;
  std::exception_ptr error;
  {
    onset_state st(*this);
    if (pipe.unitgain) {
      run_pipeline<true>(pipe, st, frames, fit / 2, level, softnoiseonset, noiseonsetnsamples, error);
    } else {
      run_pipeline<false>(pipe, st, frames, fit / 2, level, softnoiseonset, noiseonsetnsamples, error);
    }
  }
  pipe.hand_back(bank, frames);
  if (error) std::rethrow_exception(error);
  if (beyond) throw ERangeError();
  return pipe.overload;
}

double tpinknoise::response_db(double freq, double play_rate) const {
  double db = 0.0;
  for (const auto& section : pinkfilters) {
    if (section) db += 20.0 * std::log10(section->response(freq, play_rate));
  }
  return db;
}

}  // namespace murmelin
