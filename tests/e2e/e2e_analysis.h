// SPDX-License-Identifier: GPL-3.0-or-later
// Analysis of what the end-to-end rig recorded from the sound server: 16-bit stereo
// frames as the null sink's monitor delivered them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace murmelin::e2e {

struct stereo_recording {
  std::vector<int16_t> left;
  std::vector<int16_t> right;
  std::size_t frames() const { return left.size(); }
};

// Reads raw interleaved s16le stereo. A trailing partial frame is ignored.
// Throws std::runtime_error when the file cannot be read.
stereo_recording read_raw_s16_stereo(const std::string& path);
stereo_recording from_interleaved(const std::vector<int16_t>& samples);

// Index of the first frame with a nonzero sample in either channel; frames() when none.
std::size_t first_nonzero_frame(const stereo_recording& rec);
// Index one past the last frame with a nonzero sample; 0 when none.
std::size_t end_of_sound(const stereo_recording& rec);
// Index of the first frame where left and right differ; frames() when none.
std::size_t first_channel_mismatch(const stereo_recording& rec);

// RMS of the left channel over [from, to), clipped to the recording.
double rms(const stereo_recording& rec, std::size_t from, std::size_t to);

// RMS of the first difference of the left channel over [from, to): its power lies at high
// frequencies, so even short windows give a steady measure of the level.
double rms_of_difference(const stereo_recording& rec, std::size_t from, std::size_t to);

// A stretch of at least min_frames consecutive all-zero frames: where the stream starved.
struct frame_range {
  std::size_t from;
  std::size_t to;
};
std::vector<frame_range> zero_runs(const stereo_recording& rec, std::size_t from, std::size_t to,
                                   std::size_t min_frames);

// In-place radix-2 FFT; the size must be a power of two.
struct cplx {
  double re;
  double im;
};
void fft(std::vector<cplx>& a);

// Band powers from Welch's method: Hann windows of seg_len frames, half overlap,
// over the given stretches of the left channel (segments never cross a stretch border).
struct band {
  double lo_hz;
  double hi_hz;
  double centre_hz;
};
std::vector<band> third_octave_bands(double from_hz, double to_hz);

struct band_measurement {
  band b;
  double power = 0.0;         // mean band power (sample units squared)
  double rel_std_error = 0.0; // estimated relative standard error of `power`
  std::size_t segments = 0;
};
std::vector<band_measurement> measure_bands(const stereo_recording& rec,
                                            const std::vector<frame_range>& stretches,
                                            double sample_rate, std::size_t seg_len,
                                            const std::vector<band>& bands);

// Expected band power of white noise with the given variance shaped by a filter whose
// magnitude response in dB is response_db(f), at the given sample rate.
double expected_band_power(const band& b, double white_variance, double sample_rate,
                           const std::function<double(double)>& response_db);

// Variance of the triangular white noise (r1 - r2) * L * 32768 at a level in dB.
double white_variance_at_level(double level_db);

// Raised-cosine onset gain at frame count n of an onset n_total frames long.
double onset_gain(double n, double n_total);
// Mean of the squared onset gain over frames [from, to).
double mean_square_onset_gain(double from, double to, double n_total);

// The whole check of one playback recording. Every failed check adds a line to
// `failures`; `report` collects the measured figures for the log.
struct playback_expectation {
  double sample_rate = 44100.0;
  double level_db = -10.0;
  double onset_seconds = 2.0;
  double rms_nominal = 3200.0;  // steady RMS expected at the level above
  double rms_tolerance = 0.10;  // relative
  double spectrum_tolerance_db = 1.0;
  double band_from_hz = 100.0;
  double band_to_hz = 10000.0;
  double min_steady_seconds = 15.0;
  std::function<double(double)> response_db;  // the filter bank's computed response
};

struct playback_result {
  std::vector<std::string> failures;
  std::vector<std::string> report;
  bool ok() const { return failures.empty(); }
};

playback_result check_playback(const stereo_recording& rec, const playback_expectation& exp);

// Checks that a recording has at least min_frames frames and all of them are zero.
playback_result check_silence(const stereo_recording& rec, std::size_t min_frames);

}  // namespace murmelin::e2e
