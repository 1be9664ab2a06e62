// SPDX-License-Identifier: GPL-3.0-or-later
#include "e2e_analysis.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <numbers>
#include <sstream>
#include <stdexcept>

namespace murmelin::e2e {

namespace {

std::string fmt(const char* format, double a, double b = 0.0, double c = 0.0, double d = 0.0) {
  char buf[256];
  std::snprintf(buf, sizeof buf, format, a, b, c, d);
  return buf;
}

std::size_t clip_index(std::size_t i, const stereo_recording& rec) {
  return std::min(i, rec.frames());
}

}  // namespace

stereo_recording from_interleaved(const std::vector<int16_t>& samples) {
  stereo_recording rec;
  const std::size_t n = samples.size() / 2;
  rec.left.resize(n);
  rec.right.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    rec.left[i] = samples[2 * i];
    rec.right[i] = samples[2 * i + 1];
  }
  return rec;
}

stereo_recording read_raw_s16_stereo(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open recording '" + path + "'");
  std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
  if (in.bad()) throw std::runtime_error("cannot read recording '" + path + "'");
  std::vector<int16_t> samples(bytes.size() / 2);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const auto u = static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    samples[i] = static_cast<int16_t>(u);
  }
  return from_interleaved(samples);
}

std::size_t first_nonzero_frame(const stereo_recording& rec) {
  for (std::size_t i = 0; i < rec.frames(); ++i)
    if (rec.left[i] != 0 || rec.right[i] != 0) return i;
  return rec.frames();
}

std::size_t end_of_sound(const stereo_recording& rec) {
  for (std::size_t i = rec.frames(); i > 0; --i)
    if (rec.left[i - 1] != 0 || rec.right[i - 1] != 0) return i;
  return 0;
}

std::size_t first_channel_mismatch(const stereo_recording& rec) {
  for (std::size_t i = 0; i < rec.frames(); ++i)
    if (rec.left[i] != rec.right[i]) return i;
  return rec.frames();
}

double rms(const stereo_recording& rec, std::size_t from, std::size_t to) {
  from = clip_index(from, rec);
  to = clip_index(to, rec);
  if (to <= from) return 0.0;
  double sum = 0.0;
  for (std::size_t i = from; i < to; ++i) sum += double(rec.left[i]) * rec.left[i];
  return std::sqrt(sum / double(to - from));
}

double rms_of_difference(const stereo_recording& rec, std::size_t from, std::size_t to) {
  from = clip_index(from, rec);
  to = clip_index(to, rec);
  if (to <= from + 1) return 0.0;
  double sum = 0.0;
  for (std::size_t i = from + 1; i < to; ++i) {
    const double d = double(rec.left[i]) - double(rec.left[i - 1]);
    sum += d * d;
  }
  return std::sqrt(sum / double(to - from - 1));
}

std::vector<frame_range> zero_runs(const stereo_recording& rec, std::size_t from, std::size_t to,
                                   std::size_t min_frames) {
  from = clip_index(from, rec);
  to = clip_index(to, rec);
  std::vector<frame_range> runs;
  std::size_t start = from;
  bool in_run = false;
  for (std::size_t i = from; i <= to; ++i) {
    const bool zero = i < to && rec.left[i] == 0 && rec.right[i] == 0;
    if (zero && !in_run) {
      in_run = true;
      start = i;
    } else if (!zero && in_run) {
      in_run = false;
      if (i - start >= min_frames) runs.push_back({start, i});
    }
  }
  return runs;
}

void fft(std::vector<cplx>& a) {
  const std::size_t n = a.size();
  if (n == 0 || (n & (n - 1)) != 0) throw std::invalid_argument("fft size must be a power of two");
  for (std::size_t i = 1, j = 0; i < n; ++i) {
    std::size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  for (std::size_t len = 2; len <= n; len <<= 1) {
    const double ang = -2.0 * std::numbers::pi / double(len);
    for (std::size_t i = 0; i < n; i += len) {
      for (std::size_t k = 0; k < len / 2; ++k) {
        const double wr = std::cos(ang * double(k)), wi = std::sin(ang * double(k));
        cplx& u = a[i + k];
        cplx& v = a[i + k + len / 2];
        const double vr = v.re * wr - v.im * wi;
        const double vi = v.re * wi + v.im * wr;
        v = {u.re - vr, u.im - vi};
        u = {u.re + vr, u.im + vi};
      }
    }
  }
}

std::vector<band> third_octave_bands(double from_hz, double to_hz) {
  std::vector<band> bands;
  const int k0 = int(std::lround(3.0 * std::log2(from_hz / 1000.0)));
  const int k1 = int(std::lround(3.0 * std::log2(to_hz / 1000.0)));
  for (int k = k0; k <= k1; ++k) {
    const double c = 1000.0 * std::exp2(k / 3.0);
    bands.push_back({c * std::exp2(-1.0 / 6.0), c * std::exp2(1.0 / 6.0), c});
  }
  return bands;
}

std::vector<band_measurement> measure_bands(const stereo_recording& rec,
                                            const std::vector<frame_range>& stretches,
                                            double sample_rate, std::size_t seg_len,
                                            const std::vector<band>& bands) {
  const double df = sample_rate / double(seg_len);
  std::vector<double> window(seg_len);
  double u = 0.0;
  for (std::size_t n = 0; n < seg_len; ++n) {
    window[n] = 0.5 * (1.0 - std::cos(2.0 * std::numbers::pi * double(n) / double(seg_len)));
    u += window[n] * window[n];
  }
  // Weight of bin k in each band: the share of the bin's width that lies in the band.
  std::vector<std::vector<std::pair<std::size_t, double>>> weights(bands.size());
  for (std::size_t b = 0; b < bands.size(); ++b) {
    const auto k_lo = std::size_t(std::max(1.0, std::floor(bands[b].lo_hz / df)));
    const auto k_hi = std::min(seg_len / 2 - 1, std::size_t(std::ceil(bands[b].hi_hz / df)) + 1);
    for (std::size_t k = k_lo; k <= k_hi; ++k) {
      const double lo = std::max(bands[b].lo_hz, (double(k) - 0.5) * df);
      const double hi = std::min(bands[b].hi_hz, (double(k) + 0.5) * df);
      if (hi > lo) weights[b].push_back({k, (hi - lo) / df});
    }
  }

  std::vector<std::vector<double>> per_segment(bands.size());
  std::vector<cplx> buf(seg_len);
  for (const frame_range& s : stretches) {
    const std::size_t to = clip_index(s.to, rec);
    for (std::size_t start = s.from; start + seg_len <= to; start += seg_len / 2) {
      for (std::size_t n = 0; n < seg_len; ++n) buf[n] = {window[n] * rec.left[start + n], 0.0};
      fft(buf);
      for (std::size_t b = 0; b < bands.size(); ++b) {
        double p = 0.0;
        for (auto [k, w] : weights[b]) {
          const double psd = 2.0 * (buf[k].re * buf[k].re + buf[k].im * buf[k].im) /
                             (sample_rate * u);
          p += psd * df * w;
        }
        per_segment[b].push_back(p);
      }
    }
  }

  std::vector<band_measurement> out;
  for (std::size_t b = 0; b < bands.size(); ++b) {
    band_measurement m;
    m.b = bands[b];
    const auto& v = per_segment[b];
    m.segments = v.size();
    if (!v.empty()) {
      double mean = 0.0;
      for (double x : v) mean += x;
      mean /= double(v.size());
      m.power = mean;
      if (v.size() >= 3 && mean > 0.0) {
        double var = 0.0, cov = 0.0;
        for (std::size_t i = 0; i < v.size(); ++i) {
          var += (v[i] - mean) * (v[i] - mean);
          if (i + 1 < v.size()) cov += (v[i] - mean) * (v[i + 1] - mean);
        }
        var /= double(v.size() - 1);
        // Overlapping segments are correlated; widen the error by the lag-one correlation.
        const double rho = var > 0.0 ? std::clamp(cov / double(v.size() - 1) / var, 0.0, 1.0) : 0.0;
        m.rel_std_error = std::sqrt(var / double(v.size()) * (1.0 + 2.0 * rho)) / mean;
      } else {
        m.rel_std_error = 1.0;
      }
    } else {
      m.rel_std_error = 1.0;
    }
    out.push_back(m);
  }
  return out;
}

double expected_band_power(const band& b, double white_variance, double sample_rate,
                           const std::function<double(double)>& response_db) {
  // Simpson's rule over the band in steps of at most 1 Hz; the response is smooth on
  // that scale (its steepest part lies between 0 and 100 Hz).
  const int n = std::max(200, 2 * int(std::ceil((b.hi_hz - b.lo_hz) / 2.0)));
  const double h = (b.hi_hz - b.lo_hz) / n;
  double sum = 0.0;
  for (int i = 0; i <= n; ++i) {
    const double f = b.lo_hz + h * i;
    const double g2 = std::pow(10.0, response_db(f) / 10.0);
    const double w = (i == 0 || i == n) ? 1.0 : (i % 2 ? 4.0 : 2.0);
    sum += w * g2;
  }
  const double integral = sum * h / 3.0;
  return white_variance * 2.0 / sample_rate * integral;
}

double white_variance_at_level(double level_db) {
  const double l = 10.0 * std::pow(10.0, level_db / 20.0);
  const double a = l * 32768.0;
  return a * a / 6.0;
}

double onset_gain(double n, double n_total) {
  if (n <= 0.0) return 0.0;
  if (n >= n_total) return 1.0;
  return 0.5 * (1.0 - std::cos(std::numbers::pi * n / n_total));
}

double mean_square_onset_gain(double from, double to, double n_total) {
  const int steps = 1000;
  double sum = 0.0;
  for (int i = 0; i < steps; ++i) {
    const double g = onset_gain(from + (to - from) * (i + 0.5) / steps, n_total);
    sum += g * g;
  }
  return sum / steps;
}

playback_result check_silence(const stereo_recording& rec, std::size_t min_frames) {
  playback_result r;
  r.report.push_back(fmt("recorded %.0f frames", double(rec.frames())));
  if (rec.frames() < min_frames)
    r.failures.push_back(fmt("recording holds %.0f frames, expected at least %.0f",
                             double(rec.frames()), double(min_frames)));
  const std::size_t nz = first_nonzero_frame(rec);
  if (nz < rec.frames())
    r.failures.push_back(fmt("expected silence, but frame %.0f holds %.0f / %.0f", double(nz),
                             rec.left[nz], rec.right[nz]));
  return r;
}

playback_result check_playback(const stereo_recording& rec, const playback_expectation& exp) {
  playback_result r;
  const double fs = exp.sample_rate;
  const auto sec = [fs](double s) { return std::size_t(std::llround(s * fs)); };

  const std::size_t t0 = first_nonzero_frame(rec);
  const std::size_t t_end = end_of_sound(rec);
  r.report.push_back(fmt("recorded %.0f frames; sound from frame %.0f to %.0f (%.2f s)",
                         double(rec.frames()), double(t0), double(t_end),
                         t_end > t0 ? double(t_end - t0) / fs : 0.0));
  if (t0 >= rec.frames()) {
    r.failures.push_back("the recording holds no sound at all");
    return r;
  }
  // The recording starts before Play is pressed, so the sound must begin after a stretch of
  // silence; sound from (nearly) the first frame means its start was not recorded.
  if (t0 < sec(0.02))
    r.failures.push_back(fmt("sound begins at frame %.0f: its start was not recorded", double(t0)));

  const std::size_t mismatch = first_channel_mismatch(rec);
  if (mismatch < rec.frames())
    r.failures.push_back(fmt("left and right differ first at frame %.0f (%.0f / %.0f)",
                             double(mismatch), rec.left[mismatch], rec.right[mismatch]));

  // Where the stream starved, the sound server played zeros in between; the program's
  // samples resume afterwards. Cut those stretches out so the figures below see the
  // program's own timeline (t0 at 0), and never let a window or segment straddle a cut.
  const auto gaps = zero_runs(rec, t0 + sec(0.05), t_end, 32);
  stereo_recording snd;
  std::vector<frame_range> pieces;  // in the cut-out timeline
  std::size_t gap_frames = 0;
  {
    const auto append = [&](std::size_t from, std::size_t to) {
      if (to <= from) return;
      pieces.push_back({snd.frames(), snd.frames() + (to - from)});
      snd.left.insert(snd.left.end(), rec.left.begin() + from, rec.left.begin() + to);
      snd.right.insert(snd.right.end(), rec.right.begin() + from, rec.right.begin() + to);
    };
    std::size_t pos = t0;
    for (const frame_range& g : gaps) {
      append(pos, g.from);
      gap_frames += g.to - g.from;
      pos = g.to;
    }
    append(pos, t_end);
  }
  if (!gaps.empty())
    r.report.push_back(fmt("note: %.0f stretch(es) of silence inside the sound (starved stream), "
                           "%.0f frames in all", double(gaps.size()), double(gap_frames)));
  for (std::size_t i = 0; i < gaps.size() && i < 10; ++i)
    r.report.push_back(fmt("note: silence at %.3f s for %.0f frames", double(gaps[i].from - t0) / fs,
                           double(gaps[i].to - gaps[i].from)));
  if (double(gap_frames) > 0.25 * double(t_end - t0))
    r.failures.push_back(fmt("the sound is interrupted by silence for %.1f %% of its time",
                             100.0 * double(gap_frames) / double(t_end - t0)));

  const std::size_t steady_from = sec(exp.onset_seconds + 0.5);
  const std::size_t steady_to = snd.frames() > sec(0.05) ? snd.frames() - sec(0.05) : 0;
  std::vector<frame_range> stretches;
  for (const frame_range& p : pieces) {
    const std::size_t a = std::max(p.from, steady_from), b = std::min(p.to, steady_to);
    if (b > a) stretches.push_back({a, b});
  }
  std::size_t steady_frames = 0;
  double steady_sum = 0.0;
  for (const frame_range& st : stretches) {
    steady_frames += st.to - st.from;
    const double x = rms(snd, st.from, st.to);
    steady_sum += x * x * double(st.to - st.from);
  }
  const double steady_rms = steady_frames ? std::sqrt(steady_sum / double(steady_frames)) : 0.0;
  r.report.push_back(fmt("steady part: %.2f s, RMS %.1f (nominal %.0f)",
                         double(steady_frames) / fs, steady_rms, exp.rms_nominal));
  if (double(steady_frames) < exp.min_steady_seconds * fs) {
    r.failures.push_back(fmt("only %.2f s of steady sound after the onset, expected at least %.2f s",
                             double(steady_frames) / fs, exp.min_steady_seconds));
    return r;
  }

  // Level.
  if (std::abs(steady_rms / exp.rms_nominal - 1.0) > exp.rms_tolerance)
    r.failures.push_back(fmt("steady RMS %.1f is not within %.0f %% of %.0f", steady_rms,
                             exp.rms_tolerance * 100.0, exp.rms_nominal));

  // Soft onset: the first quarter second far quieter than 2.5 s to 3 s, and the middle of
  // the onset following the raised cosine.
  const double rms_first = rms(snd, 0, sec(0.25));
  const double rms_late = rms(snd, sec(2.5), sec(3.0));
  r.report.push_back(fmt("onset: RMS %.1f over the first 0.25 s, %.1f over 2.5 s to 3 s",
                         rms_first, rms_late));
  if (!(rms_first < 0.1 * rms_late))
    r.failures.push_back(fmt("no soft onset: the first 0.25 s has RMS %.1f against %.1f at 2.5 s to 3 s",
                             rms_first, rms_late));
  // The onset's course, measured on the first difference: its power lies at high
  // frequencies, so a 0.2 s window gives a steady figure, unlike the plain RMS, which
  // the noise's strong low end makes wander by 10 % and more.
  double steady_diff_sum = 0.0;
  std::size_t steady_diff_n = 0;
  for (const frame_range& st : stretches) {
    const double x = rms_of_difference(snd, st.from, st.to);
    steady_diff_sum += x * x * double(st.to - st.from - 1);
    steady_diff_n += st.to - st.from - 1;
  }
  const double steady_diff = std::sqrt(steady_diff_sum / double(steady_diff_n));
  const double n_onset = exp.onset_seconds * fs;
  // The first frames of the onset round to zero, so the sound seems to begin a little
  // after the onset really began. Estimate that lag from the level between 0.1 s and
  // 0.3 s, by inverting the raised cosine, and check the course further on with it.
  std::vector<double> lags;
  for (int k = 0; k < 8; ++k) {
    const double t = 0.1 + 0.025 * k;
    const double m = rms_of_difference(snd, sec(t), sec(t + 0.025)) / steady_diff;
    const double u = n_onset / std::numbers::pi * std::acos(std::clamp(1.0 - 2.0 * m, -1.0, 1.0));
    lags.push_back(u - (t + 0.0125) * fs);
  }
  std::sort(lags.begin(), lags.end());
  const double lag = 0.5 * (lags[3] + lags[4]);
  r.report.push_back(fmt("onset: the sound seems to start %.1f ms after the onset began", 1000.0 * lag / fs));
  const bool lag_ok = lag >= -0.01 * fs && lag <= 0.05 * fs;
  if (!lag_ok)
    r.failures.push_back(fmt("the onset does not begin as a raised cosine from silence "
                             "(apparent lag %.1f ms)", 1000.0 * lag / fs));
  for (double share : {0.25, 0.5, 0.75}) {
    if (!lag_ok) break;
    const double centre = share * exp.onset_seconds;
    const double a = (centre - 0.1) * fs, b = (centre + 0.1) * fs;
    const double want = std::sqrt(mean_square_onset_gain(a + lag, b + lag, n_onset));
    const double got = rms_of_difference(snd, std::size_t(a), std::size_t(b)) / steady_diff;
    r.report.push_back(fmt("onset at %.2f s: level %.3f of the steady level, raised cosine gives %.3f",
                           centre, got, want));
    if (std::abs(got / want - 1.0) > 0.1)
      r.failures.push_back(fmt("onset at %.2f s: level %.3f is not within 10 %% of %.3f", centre, got,
                               want));
  }

  // Spectrum against the filter bank's computed response.
  if (exp.response_db) {
    const double var = white_variance_at_level(exp.level_db);
    const auto bands = third_octave_bands(exp.band_from_hz, exp.band_to_hz);
    const auto measured = measure_bands(snd, stretches, fs, 16384, bands);
    double worst = 0.0;
    for (const band_measurement& m : measured) {
      const double want = expected_band_power(m.b, var, fs, exp.response_db);
      const double dev = 10.0 * std::log10(m.power / want);
      const double sigma_db = 10.0 / std::log(10.0) * m.rel_std_error;
      worst = std::max(worst, std::abs(dev));
      r.report.push_back(fmt("band %7.1f Hz: %+6.2f dB from the computed response (sigma %.2f dB)",
                             m.b.centre_hz, dev, sigma_db));
      if (!(std::abs(dev) <= exp.spectrum_tolerance_db))
        r.failures.push_back(fmt("band %.1f Hz lies %+.2f dB from the computed response (limit %.1f dB)",
                                 m.b.centre_hz, dev, exp.spectrum_tolerance_db));
      if (3.0 * sigma_db > exp.spectrum_tolerance_db)
        r.failures.push_back(fmt("band %.1f Hz: too little steady sound for a meaningful comparison "
                                 "(sigma %.2f dB)", m.b.centre_hz, sigma_db));
    }
    r.report.push_back(fmt("spectrum: largest deviation %.2f dB", worst));
    const double whole = expected_band_power({0.0, fs / 2.0, fs / 4.0}, var, fs, exp.response_db);
    r.report.push_back(fmt("RMS computed from the response: %.1f", std::sqrt(whole)));
  }
  return r;
}

}  // namespace murmelin::e2e
