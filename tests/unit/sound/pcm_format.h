// SPDX-License-Identifier: GPL-3.0-or-later
// The 16-bit PCM format record the wave output tests open devices with.
#pragma once

#include <cstdint>

#include "waveout.h"

namespace murmelin {

inline WAVEFORMATEX pcm(uint16_t channels, uint32_t rate) {
  WAVEFORMATEX f;
  f.wFormatTag = WAVE_FORMAT_PCM;
  f.nChannels = channels;
  f.nSamplesPerSec = rate;
  f.wBitsPerSample = 16;
  f.nBlockAlign = static_cast<uint16_t>(channels * 2);
  f.nAvgBytesPerSec = rate * channels * 2;
  return f;
}

}  // namespace murmelin
