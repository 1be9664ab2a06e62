// SPDX-License-Identifier: GPL-3.0-or-later
// A reference generator for checking the rig itself: triangular white noise through a
// bank of ten first-order pole/zero sections (poles at 20 * 2^i Hz, zeros half an octave
// above), with a raised-cosine onset, as interleaved 16-bit stereo. It stands in for the
// program when the rig is tried on its own and feeds the analysis tests.
#pragma once

#include <cstdint>
#include <vector>

namespace murmelin::e2e {

struct synth_options {
  double sample_rate = 44100.0;
  double level_db = -10.0;
  double onset_seconds = 2.0;  // 0: no onset
  double seconds = 10.0;
  double leading_silence_seconds = 0.5;
  uint32_t seed = 12345;
};

std::vector<int16_t> synth_pink_noise(const synth_options& opt);

// Magnitude response in dB of the generator's section bank, designed for `design_rate`
// and run at `play_rate`.
double synth_bank_response_db(double freq, double design_rate, double play_rate);

}  // namespace murmelin::e2e
