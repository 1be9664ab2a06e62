// SPDX-License-Identifier: GPL-3.0-or-later
// Plays a known pattern through the player and the sound-server backend on a PulseAudio null
// sink ("play"), and checks the sink monitor's recording afterwards ("analyze"). Driven by
// pulse_check.sh, which starts the sound server and the recorder.
//
//   mpc_pulse_check play <summary-file> <recording.raw>
//   mpc_pulse_check analyze <recording.raw> <summary-file> <server underruns while playing>
//   mpc_pulse_check rate <rate> <seconds>          plays part A's pattern on Rate_Sink with
//                                                  the program's own buffers (4 x 2048 frames)
//   mpc_pulse_check gapless <recording.raw> <rate> <seconds>   checks that recording
//
// "play" also adds a second sink with a long name after the player has started and checks
// that the device list, read again, names it whole. The summary holds the frames of part C
// handed out and the recording's length when Stop was called: the sink must fall silent
// within kStopFrames of it (Stop flushes what the server holds).
//
// The stream: a lead-in of silence (the sound server may cut the first milliseconds of a new
// stream off the monitor while it mixes the stream in); part A, a counting pattern of kFramesA
// frames; part B, kFramesB frames of silence; part C, a second counting pattern that runs
// until the owner calls Stop.
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QDeadlineTimer>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <string>
#include <vector>

#include "cMPC.h"
#include "error_boundary.h"
#include "waveout_backend.h"

namespace {

using namespace murmelin;

constexpr int kChunkFrames = 4096;
constexpr int kBuffersLead = 2; // about 0.2 s
constexpr int kBuffersA = 32;   // about 3 s at 44100 Hz
constexpr int kBuffersB = 12;   // about 1.1 s
// Buffers of part C handed out before Stop: the player and the server together hold about
// 3.5 s, so the sink has played about 2 s of part C when Stop comes.
constexpr int kStopAfterC = 60;
constexpr int64_t kFramesA = int64_t{kBuffersA} * kChunkFrames;
constexpr int64_t kFramesB = int64_t{kBuffersB} * kChunkFrames;
constexpr int kRate = 44100;
constexpr int64_t kStopFrames = kRate * 100 / 1000;
// Two outputs that differ only far past the 32nd character.
const char* const kLongName =
    "Late_Sink_with_a_description_much_longer_than_thirty-two_characters_(HDMI_3)";

int16_t a_left(int64_t n) { return static_cast<int16_t>(n % 32000 + 1); }
int16_t a_right(int64_t n) { return static_cast<int16_t>(-((n * 7) % 32000 + 1)); }
int16_t c_left(int64_t n) { return static_cast<int16_t>(-(n % 20000 + 5000)); }
int16_t c_right(int64_t n) { return static_cast<int16_t>((n * 3) % 20000 + 5000); }

int fail(const std::string& why) {
  std::fprintf(stderr, "FAIL: %s\n", why.c_str());
  return 1;
}

// Runs pactl with the test's server; false when it fails or takes more than 10 s.
bool pactl(const QStringList& args, QString* out = nullptr) {
  QProcess p;
  p.start("pactl", args);
  if (!p.waitForFinished(10000)) {
    p.kill();
    p.waitForFinished(1000);
    return false;
  }
  if (out) *out = QString::fromUtf8(p.readAllStandardOutput());
  return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// Runs the event loop until pred holds or 10 s have passed (a bound on a hang only).
template <typename Pred>
bool run_until(Pred pred) {
  QDeadlineTimer deadline(10000);
  while (!pred()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    QThread::msleep(20);
  }
  return true;
}

// The sink that the only playback stream plays on ("" when there is not exactly one).
QString stream_sink() {
  QString inputs, sinks;
  if (!pactl({"list", "short", "sink-inputs"}, &inputs) || !pactl({"list", "short", "sinks"}, &sinks))
    return {};
  const QStringList lines = inputs.split('\n', Qt::SkipEmptyParts);
  if (lines.size() != 1) return {};
  const QString index = lines[0].split('\t').value(1);
  for (const QString& line : sinks.split('\n', Qt::SkipEmptyParts)) {
    const QStringList f = line.split('\t');
    if (f.value(0) == index) return f.value(1);
  }
  return {};
}

int play(const char* summary_path, const char* recording_path) {
  int argc = 1;
  char name[] = "mpc_pulse_check";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);

  TMPCPlay p;
  std::printf("devices:");
  for (const auto& n : p.Devicenames()) std::printf(" [%s]", n.toUtf8().constData());
  std::printf("\n");
  const auto sink = p.Devicenames().indexOf("Test_Sink");
  if (sink < 0) return fail("the device list does not name the null sink Test_Sink");
  p.set_DeviceID(static_cast<int32_t>(sink));
  p.set_nChunkSamples(2 * kChunkFrames);
  p.set_nBuffers(16);  // about 1.5 s queued: the UI thread may stall without a gap
  p.set_nChans(2);
  p.set_sfTot(2 * kRate);

  int64_t stop_at = -1;   // frames recorded when Stop was called
  int buffers = 0;        // buffers handed out so far
  int64_t frames_c = 0;   // frames of part C handed out
  bool stopping = false;
  bool closed_early = false;
  p.set_OnClosed([&] {
    if (!stopping) closed_early = true;
  });
  p.set_OnStash([&](TWaveChunk& arr, int32_t& used, bool&) {
    const int b = buffers++ - kBuffersLead;  // negative in the lead-in
    for (int f = 0; f < kChunkFrames; ++f) {
      const int64_t n = int64_t{b} * kChunkFrames + f;
      int16_t l = 0, r = 0;
      if (b < 0) {
        l = r = 0;
      } else if (b < kBuffersA) {
        l = a_left(n);
        r = a_right(n);
      } else if (b >= kBuffersA + kBuffersB) {
        const int64_t c = n - kFramesA - kFramesB;
        l = c_left(c);
        r = c_right(c);
      }
      arr[2 * f] = l;
      arr[2 * f + 1] = r;
    }
    used = 2 * kChunkFrames;
    if (b >= kBuffersA + kBuffersB) frames_c += kChunkFrames;
    if (b == kBuffersA + kBuffersB + kStopAfterC - 1 && !stopping) {
      // The owner stops the player from its own handler, after this buffer is queued.
      stopping = true;
      QTimer::singleShot(0, &app, [&] {
        const uint64_t underruns = waveout_underruns();
        // parec writes behind the sink by its latency, so this is if anything early.
        stop_at = QFileInfo(QString::fromLocal8Bit(recording_path)).size() / 4;
        p.Stop();
        std::printf("stopped after %d buffers, %llu underruns while playing\n", buffers,
                    static_cast<unsigned long long>(underruns));
        // Stay alive with the device closed while the recorder goes on.
        QTimer::singleShot(1000, &app, [&] { app.quit(); });
      });
    }
  });
  // Bounds a hang only: the whole playback takes about 9 s.
  QTimer::singleShot(30000, &app, [&] {
    std::fprintf(stderr, "FAIL: playback did not finish in 30 s\n");
    app.exit(2);
  });
  try {
    p.Run();
  } catch (const std::exception& e) {
    return fail(std::string("Run: ") + e.what());
  }
  const int rc = app.exec();
  if (rc != 0) return rc;
  if (closed_early) return fail("the device closed before Stop");
  if (p.OwnBoard()) return fail("the player still owns the device after Stop");

  // A sink that appears after the player started is listed, with its whole name.
  QString late_module;
  if (!pactl({"load-module", "module-null-sink", "sink_name=latesink",
              QString("sink_properties=device.description=%1").arg(kLongName)},
             &late_module))
    return fail("pactl could not add a second sink");
  p.read_devicenames();
  std::printf("devices after adding a sink:");
  for (const auto& n : p.Devicenames()) std::printf(" [%s]", n.toUtf8().constData());
  std::printf("\n");
  if (p.Devicenames() != QStringList{"Test_Sink", kLongName})
    return fail("the device list read again does not name both sinks whole");
  if (p.nDevices() != 2) return fail("nDevices does not count the added sink");

  // The default device follows the user's default sink while playing.
  p.set_DeviceID(-1);
  p.set_OnStash([](TWaveChunk& arr, int32_t&, bool&) { std::fill(arr.begin(), arr.end(), 0); });
  try {
    p.Run();
  } catch (const std::exception& e) {
    return fail(std::string("Run on the default device: ") + e.what());
  }
  if (!run_until([] { return stream_sink() == "testsink"; }))
    return fail("the default device does not play on the default sink");
  if (!pactl({"set-default-sink", "latesink"})) return fail("pactl set-default-sink failed");
  if (!run_until([] { return stream_sink() == "latesink"; }))
    return fail("the stream on the default device did not follow the new default sink");
  p.Stop();
  std::printf("the default device followed the default sink\n");

  // The chosen sink goes away while playing: the owner hears of it once, and Stop works.
  std::vector<std::string> errors;
  set_exception_reporter([&](const std::exception& e) { errors.push_back(e.what()); });
  p.set_DeviceID(static_cast<int32_t>(p.Devicenames().indexOf(kLongName)));
  try {
    p.Run();
  } catch (const std::exception& e) {
    return fail(std::string("Run on the late sink: ") + e.what());
  }
  if (!run_until([] { return stream_sink() == "latesink"; }))
    return fail("the chosen device does not play on its sink");
  if (!pactl({"unload-module", late_module.trimmed()})) return fail("pactl unload-module failed");
  if (!run_until([&] { return !errors.empty(); }))
    return fail("no error after the sink went away while playing");
  // Two seconds in which no second error may come.
  for (QDeadlineTimer quiet(2000); !quiet.hasExpired(); QThread::msleep(20))
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  set_exception_reporter(nullptr);
  const std::string lost =
      "WaveOutWrite:" + p.ErrorText(static_cast<int32_t>(WAVERR_LOST)).toStdString();
  if (errors != std::vector<std::string>{lost})
    return fail("expected one error \"" + lost + "\", got " + std::to_string(errors.size()) +
                (errors.empty() ? "" : ": " + errors[0]));
  try {
    p.Stop();
  } catch (const std::exception& e) {
    return fail(std::string("Stop after the sink went away: ") + e.what());
  }
  if (p.OwnBoard()) return fail("the player still owns the lost device after Stop");
  std::printf("a sink that went away while playing: %s\n", errors[0].c_str());

  // A rate the server cannot take is a format error, not a busy device.
  p.set_sfTot(2 * 1000000);
  try {
    p.Run();
    return fail("1000000 Hz was accepted");
  } catch (const EMPCError& e) {
    const std::string want =
        "WaveOutOpen:" + p.ErrorText(static_cast<int32_t>(WAVERR_BADFORMAT)).toStdString();
    if (e.what() != want) return fail(std::string("1000000 Hz: ") + e.what());
    std::printf("1000000 Hz refused: %s\n", e.what());
  }

  QFile summary(QString::fromLocal8Bit(summary_path));
  if (!summary.open(QIODevice::WriteOnly)) return fail("cannot write the summary");
  summary.write(QByteArray::number(static_cast<qlonglong>(frames_c)) + " " +
                QByteArray::number(static_cast<qlonglong>(stop_at)));
  return 0;
}

// starved: how often the sound server ran dry while playing (the machine did not give the
// audio thread the processor in time). With 0 the recording must be exact: no frame of
// silence inside the parts. Otherwise the server's silences are skipped, and the sound must
// still be complete, in order and stop at Stop.
int analyze(const char* recording_path, const char* summary_path, int starved) {
  QFile summary(QString::fromLocal8Bit(summary_path));
  if (!summary.open(QIODevice::ReadOnly)) return fail("no summary: the playback did not finish");
  const QList<QByteArray> fields = summary.readAll().split(' ');
  if (fields.size() != 2) return fail("the summary is incomplete");
  const int64_t max_frames_c = fields[0].toLongLong();
  const int64_t stop_at = fields[1].toLongLong();
  QFile rec(QString::fromLocal8Bit(recording_path));
  if (!rec.open(QIODevice::ReadOnly)) return fail("no recording");
  const QByteArray bytes = rec.readAll();
  const int64_t frames = bytes.size() / 4;
  const auto* raw = reinterpret_cast<const uint8_t*>(bytes.constData());
  auto sample = [raw](int64_t at) {
    return static_cast<int16_t>(static_cast<uint16_t>(raw[at] | (raw[at + 1] << 8)));
  };
  auto left = [&](int64_t i) { return sample(i * 4); };
  auto right = [&](int64_t i) { return sample(i * 4 + 2); };
  auto silent = [&](int64_t i) { return left(i) == 0 && right(i) == 0; };
  const bool exact = starved == 0;
  std::printf("recording: %lld frames (%.2f s)\n", static_cast<long long>(frames),
              static_cast<double>(frames) / kRate);
  if (!exact) {
    std::printf("note: the sound server ran dry %d times while playing (the machine was too "
                "busy); its silences are skipped\n", starved);
  }

  int64_t i = 0;
  auto skip_silence = [&] {
    const int64_t from = i;
    while (i < frames && silent(i)) ++i;
    return i - from;
  };
  skip_silence();
  if (i == frames) return fail("the recording is silent");
  const int64_t start = i;
  for (int64_t n = 0; n < kFramesA; ++n, ++i) {
    if (!exact) skip_silence();
    if (i >= frames) return fail("the recording ends inside part A");
    if (left(i) != a_left(n) || right(i) != a_right(n)) {
      return fail("part A differs at frame " + std::to_string(n) + ": got " +
                  std::to_string(left(i)) + "/" + std::to_string(right(i)) + ", expected " +
                  std::to_string(a_left(n)) + "/" + std::to_string(a_right(n)));
    }
  }
  const int64_t silence_b = skip_silence();
  if (exact ? silence_b != kFramesB : silence_b < kFramesB) {
    return fail("part B has " + std::to_string(silence_b) + " frames of silence, expected " +
                std::to_string(kFramesB));
  }
  int64_t c = 0;
  int64_t silence_start = i;
  for (;;) {
    if (!exact && c > 0) skip_silence();
    if (i >= frames || left(i) != c_left(c) || right(i) != c_right(c)) break;
    ++i;
    ++c;
    silence_start = i;
  }
  if (c == 0) return fail("part C does not follow part B");
  if (c > max_frames_c) return fail("more of part C was played than was handed to the device");
  for (i = silence_start; i < frames; ++i) {
    if (!silent(i)) {
      return fail("unexpected sound " + std::to_string(i - silence_start) +
                  " frames after the end of part C (a gap, a wrong frame, or sound after Stop)");
    }
  }
  const int64_t trailing = frames - silence_start;
  std::printf("pattern starts at frame %lld; part C: %lld of %lld frames; %.2f s of silence "
              "after Stop\n",
              static_cast<long long>(start), static_cast<long long>(c),
              static_cast<long long>(max_frames_c), static_cast<double>(trailing) / kRate);
  if (trailing < kRate / 4) return fail("less than 0.25 s recorded after Stop");
  std::printf("silent %lld frames (%.0f ms) after the recording's length at Stop\n",
              static_cast<long long>(silence_start - stop_at),
              1000.0 * static_cast<double>(silence_start - stop_at) / kRate);
  if (stop_at <= 0 || silence_start - stop_at > kStopFrames)
    return fail("the sink was not silent within 100 ms of Stop (the server's buffer was "
                "played out instead of dropped)");
  std::printf("OK\n");
  return 0;
}

// Plays part A's pattern at `rate` for `seconds` with the buffers the program plays with, on
// the sink described as Rate_Sink, while the thread is busy now and then.
int play_rate(int rate, int seconds) {
  int argc = 1;
  char name[] = "mpc_pulse_check";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  TMPCPlay p;
  const auto sink = p.Devicenames().indexOf("Rate_Sink");
  if (sink < 0) return fail("the device list does not name the null sink Rate_Sink");
  p.set_DeviceID(static_cast<int32_t>(sink));
  p.set_nChunkSamples(4096);
  p.set_nBuffers(4);
  p.set_nChans(2);
  p.set_sfTot(2 * rate);
  int64_t n = -rate / 5;  // a lead-in of silence, as in play()
  p.set_OnStash([&](TWaveChunk& arr, int32_t& used, bool&) {
    for (int32_t f = 0; 2 * f < used; ++f, ++n) {
      arr[2 * f] = n < 0 ? int16_t{0} : a_left(n);
      arr[2 * f + 1] = n < 0 ? int16_t{0} : a_right(n);
    }
  });
  // The window's thread is busy now and then (a dialog opening, a slow disk): 300 ms each
  // second, which the server's buffer must ride out.
  QTimer busy;
  QObject::connect(&busy, &QTimer::timeout, [] { QThread::msleep(300); });
  busy.start(1000);
  QTimer::singleShot(seconds * 1000, &app, [&] {
    busy.stop();
    p.Stop();
    app.quit();
  });
  QTimer::singleShot(seconds * 1000 + 20000, &app, [&] { app.exit(2); });  // bounds a hang
  try {
    p.Run();
  } catch (const std::exception& e) {
    return fail(std::string("Run: ") + e.what());
  }
  if (const int rc = app.exec(); rc != 0) return fail("playback did not end");
  std::printf("%d Hz: %lld frames handed out\n", rate, static_cast<long long>(n));
  return 0;
}

// The recording of play_rate holds one unbroken run of the pattern, from its first frame,
// at least `seconds` long less the time that Stop cuts off (the server's 2 s at most).
int analyze_gapless(const char* recording_path, int rate, int seconds) {
  QFile rec(QString::fromLocal8Bit(recording_path));
  if (!rec.open(QIODevice::ReadOnly)) return fail("no recording");
  const QByteArray bytes = rec.readAll();
  const auto* s = reinterpret_cast<const int16_t*>(bytes.constData());
  const int64_t frames = bytes.size() / 4;
  int64_t i = 0;
  while (i < frames && s[2 * i] == 0 && s[2 * i + 1] == 0) ++i;
  if (i == frames) return fail("the recording is silent");
  // The server may cut the first milliseconds off the monitor: the pattern is taken up where
  // the recording begins (it repeats every 32000 frames).
  const int64_t first = (s[2 * i] + 31999) % 32000;
  int64_t n = 0;
  for (; i < frames && (s[2 * i] != 0 || s[2 * i + 1] != 0); ++i, ++n) {
    if (s[2 * i] != a_left(first + n) || s[2 * i + 1] != a_right(first + n))
      return fail(std::to_string(rate) + " Hz: a gap or a wrong frame at frame " +
                  std::to_string(n) + " (" + std::to_string(1000 * n / rate) + " ms)");
  }
  for (; i < frames; ++i)
    if (s[2 * i] != 0 || s[2 * i + 1] != 0)
      return fail(std::to_string(rate) + " Hz: a gap of silence after " +
                  std::to_string(1000 * n / rate) + " ms of sound");
  std::printf("%d Hz: %.2f s of the pattern without a gap\n", rate,
              static_cast<double>(n) / rate);
  if (n < int64_t{seconds - 3} * rate) return fail("the recording is too short");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "play") return play(argv[2], argv[3]);
  if (argc == 5 && std::string(argv[1]) == "analyze")
    return analyze(argv[2], argv[3], std::atoi(argv[4]));
  if (argc == 4 && std::string(argv[1]) == "rate") return play_rate(std::atoi(argv[2]), std::atoi(argv[3]));
  if (argc == 5 && std::string(argv[1]) == "gapless")
    return analyze_gapless(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
  std::fprintf(stderr, "usage: %s play <summary> <recording> | analyze <recording> <summary> <starved>\n",
               argv[0]);
  return 2;
}
