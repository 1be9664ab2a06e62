// SPDX-License-Identifier: GPL-3.0-or-later
// The pink noise generator: a bank of ten first-order sections shaping triangular white noise
// into pink noise, and the fill of one interleaved 16-bit stereo block.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "sSMP.h"
#include "sdbra_types.h"

namespace murmelin {

class tpinknoise {
public:
  static constexpr int32_t nsections = 10;

  // Soft-onset progress in frames, onset length in frames and the current frame's onset gain.
  int32_t noiseonsetcount = 0;
  int32_t noiseonsetnsamples = 0;
  double noiseonsetgain = 0.0;

  // The fade-out of a timed playback, in frames since its start: the frame count, the frame
  // at which the fade begins and the frame at which the noise has faded to silence (0: no
  // fade-out). The gain of frame k from the fade's begin b to its end e is
  // 0.5 * (1 + cos(pi * (k - b) / (e - b))), the soft onset's raised cosine in reverse: 1 at
  // b, 0 from e on. Where the onset runs too, the smaller of the two gains applies: that is
  // the gain of the last frame filled, noisefadegain.
  int64_t noisefadecount = 0;
  int64_t noisefadebegin = 0;
  int64_t noisefadeend = 0;
  double noisefadegain = 1.0;

  // The pink filter bank; the sections have no owner and live with the generator.
  std::vector<std::unique_ptr<TRealFilterSection>> pinkfilters;

  // Creates and designs the ten sections for sample rate fs (giving pinkfilters ten entries
  // first when it has fewer) and resets them. Section i has its pole at 20 * 2^i Hz and its
  // zero at 20 * 2^(i + 0.5) Hz, with unity gain at 0 Hz.
  void build_filter_bank(int32_t fs);

  // Begins a new soft onset: noiseonsetcount 0, noiseonsetnsamples 2 * fs (EIntOverflow when
  // that does not fit in 32 bits).
  void start_onset(int32_t fs);

  // Begins the count of a timed playback that ends after MINUTES minutes at rate FS: the last
  // 60 s fade out, or the last half of a time shorter than 2 min. MINUTES 0 or less: no
  // fade-out and no end.
  void start_fade(int32_t fs, int32_t minutes);
  // True once a timed playback has reached its end: every frame from here on is silent.
  bool fade_done() const { return noisefadeend > 0 && noisefadecount >= noisefadeend; }

  // Fills entries 0 .. used - 1 of arr (interleaved stereo: left at even, right at odd
  // indexes); returns true when the block overloaded (a filtered value above 32766 in
  // magnitude). When used exceeds arr.size(), writes what fits, then raises ERangeError
  // without the overload test. Raises ERangeError when the bank has not been built, and
  // EOverflow (EInvalidOp for a NaN level) when the level factor is not a finite number.
  // Raises EIntOverflow, after the frames before it have been written, when the onset count
  // would pass 2^31 - 1. Allocates nothing.
  // The common case (a block that fits, an onset count far from its limit, no failed filter
  // step) runs on copies of the states, which are committed when the whole block went
  // through; anything else is done by fill_block_reference, with exactly its results.
  bool fill_block(TWaveChunk& arr, int32_t used, double noiselevel, bool softnoiseonset,
                  bool noiseplayleft, bool noiseplayright);

  // The same fill written plainly, entry by entry, each frame through the sections' own
  // filter; the contract is that of fill_block.
  bool fill_block_reference(TWaveChunk& arr, int32_t used, double noiselevel,
                            bool softnoiseonset, bool noiseplayleft, bool noiseplayright);

  // Gain in dB of the whole bank at freq (Hz) when its samples are played at play_rate (Hz),
  // computed from the sections' coefficients.
  double response_db(double freq, double play_rate) const;

private:
  friend class tpinknoise_lanes;  // the tests, which compare the two lanes

  // The fast lane of fill_block, for a block that fits in arr with the onset count far from
  // its limit: raises what fill_block raises; gives the overload flag, or nothing when it did
  // not handle the block (then it has changed nothing but entries of arr).
  std::optional<bool> fill_block_fast(TWaveChunk& arr, int32_t used, double noiselevel,
                                      bool softnoiseonset, bool noiseplayleft,
                                      bool noiseplayright);
};

}  // namespace murmelin
