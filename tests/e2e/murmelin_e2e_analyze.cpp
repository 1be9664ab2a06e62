// SPDX-License-Identifier: GPL-3.0-or-later
// Command-line checks of recordings made by the end-to-end rig.
//   murmelin_e2e_analyze silence FILE MIN_SECONDS   all frames zero, at least MIN_SECONDS long
//   murmelin_e2e_analyze playback FILE              onset, level, spectrum and channels of
//                                                   one playback at the default options
//   murmelin_e2e_analyze synth FILE SECONDS         writes reference noise (raw s16le stereo)
// Exit code 0: passed; 1: a check failed; 2: bad arguments or unreadable file.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <string>

#include "e2e_analysis.h"
#include "e2e_reference.h"
#include "e2e_synth.h"

using namespace murmelin::e2e;

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: murmelin_e2e_analyze silence FILE MIN_SECONDS\n"
               "       murmelin_e2e_analyze playback FILE\n"
               "       murmelin_e2e_analyze synth FILE SECONDS\n");
  return 2;
}

bool parse_seconds(const char* text, double& out) {
  char* end = nullptr;
  out = std::strtod(text, &end);
  return end != text && *end == '\0' && out >= 0.0 && out < 1e6;
}

int print(const playback_result& r) {
  for (const auto& line : r.report) std::printf("  %s\n", line.c_str());
  for (const auto& line : r.failures) std::printf("FAIL: %s\n", line.c_str());
  std::printf("%s\n", r.ok() ? "PASS" : "FAILED");
  return r.ok() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc < 3) return usage();
    const std::string mode = argv[1];
    const std::string file = argv[2];
    if (mode == "silence" && argc == 4) {
      double seconds = 0.0;
      if (!parse_seconds(argv[3], seconds)) return usage();
      return print(check_silence(read_raw_s16_stereo(file), std::size_t(seconds * 44100.0)));
    }
    if (mode == "playback" && argc == 3) {
      playback_expectation exp;
      exp.response_db = [](double f) { return pink_bank_response_db(f, 44100.0); };
      return print(check_playback(read_raw_s16_stereo(file), exp));
    }
    if (mode == "synth" && argc == 4) {
      synth_options opt;
      if (!parse_seconds(argv[3], opt.seconds)) return usage();
      const auto samples = synth_pink_noise(opt);
      std::ofstream out(file, std::ios::binary | std::ios::trunc);
      for (int16_t s : samples) {
        const auto u = static_cast<uint16_t>(s);
        const char b[2] = {char(u & 0xff), char(u >> 8)};
        out.write(b, 2);
      }
      out.close();
      if (!out) {
        std::fprintf(stderr, "cannot write '%s'\n", file.c_str());
        return 2;
      }
      return 0;
    }
    return usage();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "murmelin_e2e_analyze: %s\n", e.what());
    return 2;
  }
}
