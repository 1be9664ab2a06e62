#include "spinknoise.h"

#include <cmath>
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

// Keeps the block's working copies of the random state and the onset fields and writes them
// back however the fill ends.
struct fill_state {
  tpinknoise& gen;
  uint32_t rnd;
  int32_t count;
  double gain;

  explicit fill_state(tpinknoise& g)
      : gen(g), rnd(random_state()), count(g.noiseonsetcount), gain(g.noiseonsetgain) {}
  ~fill_state() {
    set_random_state(rnd);
    gen.noiseonsetcount = count;
    gen.noiseonsetgain = gain;
  }
  fill_state(const fill_state&) = delete;
  fill_state& operator=(const fill_state&) = delete;
};

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

  const int32_t onsetlength = noiseonsetnsamples;
  fill_state st(*this);
  bool overload = false;
  double x = 0.0;

  // Computes the next frame's value into x.
  auto next_frame = [&] {
    if (softnoiseonset && st.count <= onsetlength) {
      // An onset of length 0 is complete at once.
      st.gain = onsetlength == 0
                    ? 1.0
                    : 0.5 * (1.0 - std::cos(std::numbers::pi * st.count / onsetlength));
      st.count = checked_add(st.count, 1);
    } else {
      st.gain = 1.0;
    }
    st.rnd = random_next_state(st.rnd);
    const double r1 = random_state_value(st.rnd);
    st.rnd = random_next_state(st.rnd);
    const double r2 = random_state_value(st.rnd);
    x = (r1 - r2) * (level * st.gain * 32768.0);
    for (int32_t i = 0; i < nsections; ++i) x = bank[i]->filter(x);
  };

  const int64_t size = static_cast<int64_t>(arr.size());
  const int64_t fit = used < size ? used : size;
  int16_t* out = arr.data();
  int64_t n = 0;
  for (; n + 1 < fit; n += 2) {
    next_frame();
    if (std::fabs(x) > 32766.0) overload = true;
    const int16_t v = double_to_smallint_nodither(x);
    out[n] = noiseplayleft ? v : int16_t{0};
    out[n + 1] = noiseplayright ? v : int16_t{0};
  }
  if (n < fit) {  // an odd count ends with a left sample
    next_frame();
    if (std::fabs(x) > 32766.0) overload = true;
    out[n] = noiseplayleft ? double_to_smallint_nodither(x) : int16_t{0};
    ++n;
  }
  if (used > size) {
    // The write at the first index beyond the block fails; a left sample's frame has been
    // computed by then.
    if (n % 2 == 0) next_frame();
    throw ERangeError();
  }
  return overload;
}

double tpinknoise::response_db(double freq, double play_rate) const {
  double db = 0.0;
  for (const auto& section : pinkfilters) {
    if (section) db += 20.0 * std::log10(section->response(freq, play_rate));
  }
  return db;
}

}  // namespace murmelin
