// SPDX-License-Identifier: GPL-3.0-or-later
// Nanoseconds per stereo frame for filling player-sized blocks of pink noise at 44100 Hz.
#include <benchmark/benchmark.h>

#include "sdbra.h"
#include "spinknoise.h"

using namespace murmelin;

namespace {

constexpr int32_t fs = 44100;
constexpr int32_t entries = 4096;  // the player's block: 2048 stereo frames

void report(benchmark::State& state) {
  const double frames = static_cast<double>(entries / 2);
  // Time per stereo frame (shown with an SI prefix: 9.1n is 9.1 ns), and seconds of sound made
  // per second of processor time.
  state.counters["per_frame"] = benchmark::Counter(
      frames, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["x_realtime"] =
      benchmark::Counter(frames / fs, benchmark::Counter::kIsIterationInvariantRate);
}

// Steady playback: both channels, the soft onset already over.
void BM_fill_block(benchmark::State& state) {
  set_random_state(1);
  tpinknoise g;
  g.build_filter_bank(fs);
  g.start_onset(fs);
  TWaveChunk block(entries);
  while (g.noiseonsetcount <= g.noiseonsetnsamples) g.fill_block(block, entries, -10, true, true, true);
  for (auto _ : state) {
    benchmark::DoNotOptimize(g.fill_block(block, entries, -10, true, true, true));
    benchmark::ClobberMemory();
  }
  report(state);
}
BENCHMARK(BM_fill_block);

// The first block of a soft onset, which computes the onset gain for every frame.
void BM_fill_block_onset(benchmark::State& state) {
  set_random_state(1);
  tpinknoise g;
  g.build_filter_bank(fs);
  TWaveChunk block(entries);
  for (auto _ : state) {
    g.start_onset(fs);
    benchmark::DoNotOptimize(g.fill_block(block, entries, -10, true, true, true));
    benchmark::ClobberMemory();
  }
  report(state);
}
BENCHMARK(BM_fill_block_onset);

}  // namespace

BENCHMARK_MAIN();
