// SPDX-License-Identifier: GPL-3.0-or-later
// Writes N stereo frames of our pink noise at 44100 Hz to standard output as raw signed 16-bit
// little-endian samples, in the player's block size, with the soft onset on.
//   pinknoise_raw FRAMES [LEVEL_DB]
#include <bit>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "exceptions.h"
#include "sdbra.h"
#include "spinknoise.h"

using namespace murmelin;

namespace {

bool parse_frames(std::string_view s, long long& v) {
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  return r.ec == std::errc() && r.ptr == s.data() + s.size() && v >= 0;
}

bool parse_level(std::string_view s, double& v) {
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

}  // namespace

int main(int argc, char** argv) {
  long long frames = 0;
  double level = -10.0;
  if (argc < 2 || argc > 3 || !parse_frames(argv[1], frames) ||
      (argc == 3 && !parse_level(argv[2], level))) {
    std::fprintf(stderr, "usage: %s FRAMES [LEVEL_DB]\n", argv[0]);
    return 2;
  }
  static_assert(std::endian::native == std::endian::little, "samples are written in host order");
  static char outbuf[1 << 20];  // few large writes
  std::setvbuf(stdout, outbuf, _IOFBF, sizeof outbuf);
  try {
    seed_random_source();
    tpinknoise g;
    g.build_filter_bank(44100);
    g.start_onset(44100);
    constexpr int32_t entries = 4096;
    TWaveChunk block(entries);
    bool overloaded = false;
    while (frames > 0) {
      const int32_t n = frames >= entries / 2 ? entries : static_cast<int32_t>(2 * frames);
      overloaded |= g.fill_block(block, n, level, true, true, true);
      if (std::fwrite(block.data(), sizeof(int16_t), static_cast<std::size_t>(n), stdout) !=
          static_cast<std::size_t>(n)) {
        std::fprintf(stderr, "pinknoise_raw: write failed: %s\n", std::strerror(errno));
        return 1;
      }
      frames -= n / 2;
    }
    if (std::fflush(stdout) != 0) {
      std::fprintf(stderr, "pinknoise_raw: write failed: %s\n", std::strerror(errno));
      return 1;
    }
    if (overloaded) std::fprintf(stderr, "pinknoise_raw: overload, reduce level\n");
  } catch (const Exception& e) {
    std::fprintf(stderr, "pinknoise_raw: %s\n", e.what());
    return 1;
  }
  return 0;
}
