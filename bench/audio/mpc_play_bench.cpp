// SPDX-License-Identifier: GPL-3.0-or-later
// Plays noise through the player and the default backend (the sound server) for a while (60 s
// unless MPC_BENCH_SECONDS says otherwise) with an idle UI thread, and reports the process CPU
// time used (all threads), the underruns (the output found the queue short), the refills per
// second (buffers refilled; the UI thread serves several in one wake-up) and the
// allocations made while playing (all threads, and the UI thread alone; the sound library's
// own threads are outside our control). Run it through run_pulse_bench.sh.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <sys/resource.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <thread>

#include "cMPC.h"
#include "waveout_backend.h"

namespace {
std::atomic<long> allocations{0};     // on every thread
std::atomic<long> ui_allocations{0};  // on the UI thread
const std::thread::id ui_thread = std::this_thread::get_id();
}

void* operator new(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (std::this_thread::get_id() == ui_thread) ui_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

using namespace murmelin;

double cpu_seconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

int seconds_to_play() {
  const char* s = std::getenv("MPC_BENCH_SECONDS");
  const int v = s ? std::atoi(s) : 60;
  return v > 0 ? v : 60;
}

void BM_PlayNoise(benchmark::State& state) {
  for (auto _ : state) {
    TMPCPlay p;  // as the main window configures it
    p.set_nChunkSamples(4096);
    p.set_nBuffers(4);
    p.set_nChans(2);
    p.set_sfTot(88200);
    const auto sink = p.Devicenames().indexOf("Test_Sink");
    p.set_DeviceID(sink >= 0 ? static_cast<int32_t>(sink) : -1);
    uint32_t seed = 12345;
    long refills = 0;
    p.set_OnStash([&](TWaveChunk& arr, int32_t&, bool&) {
      ++refills;
      for (auto& s : arr) {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        s = static_cast<int16_t>(seed >> 20);  // quiet noise
      }
    });
    // Both timers exist before the measurement starts: after one settling second the
    // baseline is taken, seconds_to_play() later the loop ends.
    double cpu0 = 0;
    uint64_t under0 = 0;
    long alloc0 = 0, ui_alloc0 = 0, refills0 = 0;
    QElapsedTimer wall;
    QTimer begin, end;
    begin.setSingleShot(true);
    end.setSingleShot(true);
    QObject::connect(&begin, &QTimer::timeout, [&] {
      cpu0 = cpu_seconds();
      under0 = waveout_underruns();
      alloc0 = allocations.load();
      ui_alloc0 = ui_allocations.load();
      refills0 = refills;
      wall.start();
    });
    QObject::connect(&end, &QTimer::timeout, [] { qApp->quit(); });
    begin.start(1000);
    end.start(1000 + seconds_to_play() * 1000);
    p.Run();
    qApp->exec();  // idle UI thread: it wakes only for the device's notifications
    const double elapsed = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    const double cpu = cpu_seconds() - cpu0;
    const uint64_t underruns = waveout_underruns() - under0;
    const long allocs = allocations.load() - alloc0;
    const long ui_allocs = ui_allocations.load() - ui_alloc0;
    const long refilled = refills - refills0;
    p.Stop();

    state.SetIterationTime(elapsed);
    state.counters["cpu_percent"] = 100.0 * cpu / elapsed;
    state.counters["underruns"] = static_cast<double>(underruns);
    state.counters["refills_per_s"] = static_cast<double>(refilled) / elapsed;
    state.counters["allocations"] = static_cast<double>(allocs);
    state.counters["ui_allocations"] = static_cast<double>(ui_allocs);
    state.counters["device"] = static_cast<double>(sink);
  }
}
BENCHMARK(BM_PlayNoise)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
