// SPDX-License-Identifier: GPL-3.0-or-later
// Loading the settings file as the program does (open_file, then its run of reads) for files of
// growing node counts up to the 16 MiB limit, side by side with merely reading the file's
// bytes. The reads cost the same for any node count.
#include <benchmark/benchmark.h>

#include <QFile>
#include <QTemporaryDir>
#include <cstdint>
#include <map>
#include <string>

#include "cQOBFile.h"
#include "settingsfile_io.h"

using namespace murmelin;

namespace {

void append_i32(QByteArray& b, int32_t v) {
  for (int i = 0; i < 4; ++i) b.append(static_cast<char>(static_cast<uint32_t>(v) >> (8 * i)));
}

void append_counted(QByteArray& b, const QByteArray& s) {
  append_i32(b, static_cast<int32_t>(s.size()));
  b.append(s);
}

// The program's own values, read on every start.
const char* const kProgramReads[][2] = {
    {"Soundcard", "fs"},       {"Soundcard", "Device"},  {"Noise", "Level"},
    {"Noise", "PlayLeft"},     {"Noise", "PlayRight"},   {"Noise", "SoftOnset"},
    {"MainWindow", "Left"},    {"MainWindow", "Top"},    {"MainWindow", "Width"},
    {"MainWindow", "Height"},  {"SettingsDialog", "Left"}, {"SettingsDialog", "Top"},
};

// A settings file of n integer nodes in 50 sections, the program's values last; kept for the
// whole run.
const std::string& file_with(int64_t n) {
  static QTemporaryDir dir;
  static std::map<int64_t, std::string> files;
  auto& name = files[n];
  if (!name.empty()) return name;
  QByteArray b("QOB1");
  for (const char* s : {"MurmelinSettings", "0.0", "Murmelin", "0.1"}) append_counted(b, s);
  append_i32(b, static_cast<int32_t>(n));
  const int64_t own = std::size(kProgramReads);
  for (int64_t i = 0; i < n; ++i) {
    const bool program = i >= n - own;
    append_counted(b, program ? QByteArray(kProgramReads[i - (n - own)][0]) : "Section" + QByteArray::number(i % 50));
    append_counted(b, program ? QByteArray(kProgramReads[i - (n - own)][1]) : "Key" + QByteArray::number(i));
    append_i32(b, tag_integer);
    append_i32(b, 4);
    append_i32(b, static_cast<int32_t>(i));
  }
  name = dir.filePath(QStringLiteral("n%1.qobfile").arg(n)).toStdString();
  QFile f(QString::fromStdString(name));
  if (!f.open(QIODevice::WriteOnly) || f.write(b) != b.size() || b.size() > kMaxSettingsFileSize) {
    name.clear();
    throw std::runtime_error("cannot make the benchmark file");
  }
  return name;
}

void BM_read_bytes(benchmark::State& state) {
  const QString name = QString::fromStdString(file_with(state.range(0)));
  for (auto _ : state) {
    auto bytes = read_regular_file(name, kMaxSettingsFileSize, kMaxSettingsFileSize);
    benchmark::DoNotOptimize(bytes);
  }
}

void BM_open_file(benchmark::State& state) {
  const std::string name = file_with(state.range(0));
  TQOBFile s;
  for (auto _ : state) {
    s.open_file(name);
    if (s.nnodes() != state.range(0)) state.SkipWithError("file not read");
    s.clear();
  }
}

// The program's run of reads on the loaded file: what lookups add to the load.
void BM_program_reads(benchmark::State& state) {
  TQOBFile s;
  s.open_file(file_with(state.range(0)));
  if (s.nnodes() != state.range(0)) state.SkipWithError("file not read");
  for (auto _ : state) {
    int64_t sum = 0;
    for (const auto& r : kProgramReads) sum += s.readinteger(r[0], r[1], 0);
    benchmark::DoNotOptimize(sum);
  }
}

// A read of a name the file does not hold, which finds nothing to stop at early.
void BM_missing_read(benchmark::State& state) {
  TQOBFile s;
  s.open_file(file_with(state.range(0)));
  if (s.nnodes() != state.range(0)) state.SkipWithError("file not read");
  for (auto _ : state) benchmark::DoNotOptimize(s.readinteger("Noise", "Missing", 0));
}

// 400000 nodes come near the 16 MiB limit.
#define NODE_COUNTS ->Arg(20)->Arg(10000)->Arg(100000)->Arg(400000)->Unit(benchmark::kMillisecond)
BENCHMARK(BM_read_bytes) NODE_COUNTS;
BENCHMARK(BM_open_file) NODE_COUNTS;
BENCHMARK(BM_program_reads)->Arg(20)->Arg(400000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_missing_read)->Arg(20)->Arg(10000)->Arg(400000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
