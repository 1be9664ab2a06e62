// SPDX-License-Identifier: GPL-3.0-or-later
// The analysis the e2e tests rely on must pass faithful playback and catch faulty playback;
// otherwise an e2e pass says nothing.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>

#include "e2e_analysis.h"
#include "e2e_reference.h"
#include "e2e_synth.h"

using namespace murmelin::e2e;

namespace {

playback_expectation default_expectation() {
  playback_expectation exp;
  exp.response_db = [](double f) { return pink_bank_response_db(f, 44100.0); };
  return exp;
}

// 20 s of reference noise after half a second of silence, built once.
const std::vector<int16_t>& reference_noise() {
  static const std::vector<int16_t> samples = [] {
    synth_options opt;
    opt.seconds = 20.0;
    return synth_pink_noise(opt);
  }();
  return samples;
}

bool has_failure(const playback_result& r, const std::string& needle) {
  for (const auto& f : r.failures)
    if (f.find(needle) != std::string::npos) return true;
  return false;
}

std::string all_failures(const playback_result& r) {
  std::string s;
  for (const auto& f : r.failures) s += f + "\n";
  return s;
}

}  // namespace

TEST(E2eAnalysis, PrimitivesOnSmallRecordings) {
  const auto rec = from_interleaved({0, 0, 0, 0, 5, 5, 0, 0, 0, 0, 0, 0, -3, -4, 0, 0, 7});
  EXPECT_EQ(rec.frames(), 8u);  // the odd trailing sample is dropped
  EXPECT_EQ(first_nonzero_frame(rec), 2u);
  EXPECT_EQ(end_of_sound(rec), 7u);
  EXPECT_EQ(first_channel_mismatch(rec), 6u);
  const auto runs = zero_runs(rec, 0, rec.frames(), 2);
  ASSERT_EQ(runs.size(), 2u);  // the single zero frame at the end is too short
  EXPECT_EQ(runs[0].from, 0u);
  EXPECT_EQ(runs[0].to, 2u);
  EXPECT_EQ(runs[1].from, 3u);
  EXPECT_EQ(runs[1].to, 6u);
  ASSERT_EQ(zero_runs(rec, 4, rec.frames(), 1).size(), 2u);
  EXPECT_EQ(zero_runs(rec, 4, rec.frames(), 1)[1].from, 7u);
  EXPECT_DOUBLE_EQ(rms(rec, 2, 4), std::sqrt(25.0 / 2.0));
  EXPECT_DOUBLE_EQ(rms(rec, 6, 100), std::sqrt(9.0 / 2.0));  // clipped to the recording
  EXPECT_EQ(rms(rec, 5, 5), 0.0);
  EXPECT_DOUBLE_EQ(rms_of_difference(rec, 1, 4), std::sqrt((25.0 + 25.0) / 2.0));
  EXPECT_EQ(rms_of_difference(rec, 3, 4), 0.0);

  const auto empty = from_interleaved({});
  EXPECT_EQ(first_nonzero_frame(empty), 0u);
  EXPECT_EQ(end_of_sound(empty), 0u);
}

TEST(E2eAnalysis, FftFindsASineAndBandsTileTheRange) {
  const std::size_t n = 1024;
  std::vector<cplx> a(n);
  for (std::size_t i = 0; i < n; ++i) a[i] = {std::cos(2.0 * std::numbers::pi * 37.0 * i / n), 0.0};
  fft(a);
  for (std::size_t k = 0; k < n / 2; ++k) {
    const double mag = std::hypot(a[k].re, a[k].im);
    if (k == 37) EXPECT_NEAR(mag, n / 2.0, 1e-6);
    else EXPECT_NEAR(mag, 0.0, 1e-6) << "bin " << k;
  }
  std::vector<cplx> odd(6);
  EXPECT_THROW(fft(odd), std::invalid_argument);

  const auto bands = third_octave_bands(100.0, 10000.0);
  ASSERT_EQ(bands.size(), 21u);
  EXPECT_NEAR(bands.front().centre_hz, 99.2, 0.1);
  EXPECT_NEAR(bands.back().centre_hz, 10079.4, 0.1);
  for (std::size_t i = 1; i < bands.size(); ++i) EXPECT_NEAR(bands[i].lo_hz, bands[i - 1].hi_hz, 1e-9);
}

TEST(E2eAnalysis, OnsetGainIsARaisedCosine) {
  EXPECT_EQ(onset_gain(0, 88200), 0.0);
  EXPECT_NEAR(onset_gain(44100, 88200), 0.5, 1e-12);
  EXPECT_EQ(onset_gain(88200, 88200), 1.0);
  EXPECT_EQ(onset_gain(100000, 88200), 1.0);
  // Mean square over the whole onset: the integral of sin^4 over a quarter period.
  EXPECT_NEAR(mean_square_onset_gain(0, 88200, 88200), 3.0 / 8.0, 1e-4);
}

TEST(E2eAnalysis, ExpectedPowerOfWhiteNoiseIsItsShareOfTheBand) {
  const double var = white_variance_at_level(-10.0);
  EXPECT_NEAR(std::sqrt(var), 3.16227766 * 32768.0 / std::sqrt(6.0), 1e-3);
  const band b{1000.0, 2000.0, 1414.0};
  const double p = expected_band_power(b, var, 44100.0, [](double) { return 0.0; });
  EXPECT_NEAR(p / var, 1000.0 / 22050.0, 1e-9);
  const double p6 = expected_band_power(b, var, 44100.0, [](double) { return -6.0; });
  EXPECT_NEAR(10.0 * std::log10(p6 / p), -6.0, 1e-9);
  // Over the whole band the pink bank's steep low end must be integrated finely enough:
  // the level at -10 dB is an RMS of about 3200.
  const double whole = expected_band_power({0.0, 22050.0, 11025.0}, var, 44100.0,
                                           [](double f) { return pink_bank_response_db(f, 44100.0); });
  EXPECT_NEAR(std::sqrt(whole), 3216.0, 5.0);
}

TEST(E2eAnalysis, ReferenceBankResponseHasThePinkShape) {
  EXPECT_NEAR(pink_bank_response_db(1e-3, 44100.0), 0.0, 0.01);
  EXPECT_NEAR(pink_bank_response_db(100.0, 44100.0), -7.8, 0.1);
  EXPECT_NEAR(pink_bank_response_db(1000.0, 44100.0), -17.7, 0.1);
  EXPECT_NEAR(pink_bank_response_db(10000.0, 44100.0), -28.4, 0.1);
  EXPECT_NEAR(pink_bank_response_db(22050.0, 44100.0), -33.1, 0.1);
  // The same bank evaluated independently from the section designs, also at another rate.
  for (double f = 20.0; f < 22000.0; f *= 1.25) {
    EXPECT_NEAR(pink_bank_response_db(f, 44100.0), synth_bank_response_db(f, 44100.0, 44100.0), 1e-6) << f;
    EXPECT_NEAR(pink_bank_response_db(f, 48000.0), synth_bank_response_db(f, 44100.0, 48000.0), 1e-6) << f;
  }
}

TEST(E2eAnalysis, FaithfulPlaybackPasses) {
  const auto r = check_playback(from_interleaved(reference_noise()), default_expectation());
  EXPECT_TRUE(r.ok()) << all_failures(r);
}

TEST(E2eAnalysis, FaultyPlaybackIsCaught) {
  const auto exp = default_expectation();

  {  // 1.5 dB too loud: level and spectrum
    auto s = reference_noise();
    for (auto& v : s) v = int16_t(std::lround(v * 1.1885));
    const auto r = check_playback(from_interleaved(s), exp);
    EXPECT_TRUE(has_failure(r, "steady RMS")) << all_failures(r);
    EXPECT_TRUE(has_failure(r, "from the computed response")) << all_failures(r);
  }
  {  // treble lost: an extra low-pass at 5 kHz changes the spectrum but barely the level
    auto s = reference_noise();
    const double a = std::exp(-2.0 * std::numbers::pi * 5000.0 / 44100.0);
    double y = 0.0;
    for (std::size_t i = 0; i < s.size(); i += 2) {
      y = (1.0 - a) * s[i] + a * y;
      s[i] = s[i + 1] = int16_t(std::lround(y));
    }
    const auto r = check_playback(from_interleaved(s), exp);
    EXPECT_TRUE(has_failure(r, "band 10079.4 Hz")) << all_failures(r);
    EXPECT_FALSE(has_failure(r, "band 99.2 Hz")) << all_failures(r);
  }
  {  // one right sample differs
    auto s = reference_noise();
    s[2 * 300000 + 1] = int16_t(s[2 * 300000 + 1] + 1);
    const auto r = check_playback(from_interleaved(s), exp);
    EXPECT_TRUE(has_failure(r, "left and right differ first at frame 300000")) << all_failures(r);
    EXPECT_EQ(r.failures.size(), 1u) << all_failures(r);
  }
  {  // no soft onset
    synth_options opt;
    opt.seconds = 20.0;
    opt.onset_seconds = 0.0;
    const auto r = check_playback(from_interleaved(synth_pink_noise(opt)), exp);
    EXPECT_TRUE(has_failure(r, "no soft onset")) << all_failures(r);
  }
  {  // an onset of half a second instead of two
    synth_options opt;
    opt.seconds = 20.0;
    opt.onset_seconds = 0.5;
    const auto r = check_playback(from_interleaved(synth_pink_noise(opt)), exp);
    EXPECT_TRUE(has_failure(r, "does not begin as a raised cosine")) << all_failures(r);
  }
  {  // an onset 10 % too short
    synth_options opt;
    opt.seconds = 20.0;
    opt.onset_seconds = 1.8;
    const auto r = check_playback(from_interleaved(synth_pink_noise(opt)), exp);
    EXPECT_TRUE(has_failure(r, "onset at")) << all_failures(r);
  }
  {  // an onset 10 % too long
    synth_options opt;
    opt.seconds = 20.0;
    opt.onset_seconds = 2.2;
    const auto r = check_playback(from_interleaved(synth_pink_noise(opt)), exp);
    EXPECT_TRUE(has_failure(r, "onset at")) << all_failures(r);
  }
  {  // the start of the sound was not recorded
    synth_options opt;
    opt.seconds = 20.0;
    opt.leading_silence_seconds = 0.0;
    const auto r = check_playback(from_interleaved(synth_pink_noise(opt)), exp);
    EXPECT_TRUE(has_failure(r, "its start was not recorded")) << all_failures(r);
  }
  {  // too short for a meaningful comparison
    synth_options opt;
    opt.seconds = 10.0;
    const auto r = check_playback(from_interleaved(synth_pink_noise(opt)), exp);
    EXPECT_TRUE(has_failure(r, "of steady sound after the onset")) << all_failures(r);
  }
  {  // nothing played
    const auto r = check_playback(from_interleaved(std::vector<int16_t>(44100 * 2, 0)), exp);
    EXPECT_TRUE(has_failure(r, "no sound at all")) << all_failures(r);
  }
}

// Inserts `frames` zero frames before frame `at`, as a starved stream does.
std::vector<int16_t> with_silence(std::vector<int16_t> s, std::size_t at, std::size_t frames) {
  s.insert(s.begin() + std::ptrdiff_t(2 * at), 2 * frames, int16_t{0});
  return s;
}

TEST(E2eAnalysis, StarvedStretchesAreCutOutOfTheTimeline) {
  const std::size_t lead = 22050;  // the reference noise's leading silence
  // Gaps in the middle of the onset, in the middle of its measuring window and in the
  // steady part: none of them may change the verdict.
  auto s = with_silence(reference_noise(), lead + 44100 * 12, 3840);
  s = with_silence(s, lead + 44100, 4096);
  s = with_silence(s, lead + 44100 / 2, 8192);
  const auto r = check_playback(from_interleaved(s), default_expectation());
  EXPECT_TRUE(r.ok()) << all_failures(r);
  bool noted = false;
  for (const auto& line : r.report)
    noted = noted || line.find("3 stretch(es) of silence inside the sound") != std::string::npos;
  EXPECT_TRUE(noted);

  // A stream that starves a third of the time is a fault, not a hiccup.
  auto starved = reference_noise();
  for (std::size_t f = lead + 44100 * 19; f > lead + 44100; f -= 44100)
    starved = with_silence(starved, f, 22050);
  const auto bad = check_playback(from_interleaved(starved), default_expectation());
  EXPECT_TRUE(has_failure(bad, "interrupted by silence")) << all_failures(bad);
}

TEST(E2eAnalysis, SilenceCheck) {
  EXPECT_TRUE(check_silence(from_interleaved(std::vector<int16_t>(2 * 44100, 0)), 44100).ok());
  const auto short_rec = check_silence(from_interleaved(std::vector<int16_t>(2 * 100, 0)), 44100);
  EXPECT_TRUE(has_failure(short_rec, "expected at least 44100")) << all_failures(short_rec);
  std::vector<int16_t> s(2 * 44100, 0);
  s[2 * 40000 + 1] = -1;
  const auto noisy = check_silence(from_interleaved(s), 44100);
  EXPECT_TRUE(has_failure(noisy, "frame 40000 holds 0 / -1")) << all_failures(noisy);
}

TEST(E2eAnalysis, ReadsLittleEndianFramesAndReportsMissingFiles) {
  const std::string path = testing::TempDir() + "e2e_analysis_read.raw";
  {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    const unsigned char bytes[] = {0x01, 0x00, 0xff, 0xff, 0x00, 0x80, 0xff, 0x7f, 0x12};
    std::fwrite(bytes, 1, sizeof bytes, f);
    std::fclose(f);
  }
  const auto rec = read_raw_s16_stereo(path);
  ASSERT_EQ(rec.frames(), 2u);
  EXPECT_EQ(rec.left[0], 1);
  EXPECT_EQ(rec.right[0], -1);
  EXPECT_EQ(rec.left[1], -32768);
  EXPECT_EQ(rec.right[1], 32767);
  std::remove(path.c_str());
  EXPECT_THROW(read_raw_s16_stereo(path), std::runtime_error);
}
