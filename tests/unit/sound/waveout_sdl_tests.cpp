// SPDX-License-Identifier: GPL-3.0-or-later
// The SDL2 backend, through SDL's disk driver: SDL's own audio thread pulls from the queue
// and writes what it would play to a file that the tests read back.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <iterator>
#include <memory>
#include <vector>

#include "hidden_window.h"
#include "pcm_format.h"
#include "waveout_backend.h"

namespace murmelin {
namespace {

// Runs the event loop until pred holds or 20 s have passed; the limit only bounds a hang.
template <typename Pred>
bool wait_for(Pred pred) {
  QDeadlineTimer deadline(20000);
  while (!pred()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QThread::msleep(1);
  }
  return true;
}

class SdlBackend : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    out_path = dir.filePath("played.raw");
    qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(out_path));
    qputenv("SDL_DISKAUDIODELAY", "2");
    waveout_use_backend(make_sdl_waveout_backend());
  }
  void TearDown() override {
    if (h) {
      waveOutReset(h);
      waveOutClose(h);
    }
    QCoreApplication::sendPostedEvents();
    waveout_use_backend(nullptr);
  }

  void open(uint16_t channels, uint32_t rate) {
    WAVEFORMATEX f = pcm(channels, rate);
    ASSERT_EQ(waveOutOpen(&h, WAVE_MAPPER, &f, window.handle(), 0, CALLBACK_WINDOW),
              MMSYSERR_NOERROR);
  }

  void queue(std::vector<int16_t>& buf, WAVEHDR& hd, uintptr_t user) {
    hd = WAVEHDR();
    hd.lpData = reinterpret_cast<char*>(buf.data());
    hd.dwBufferLength = static_cast<uint32_t>(buf.size() * 2);
    hd.dwUser = user;
    ASSERT_EQ(waveOutPrepareHeader(h, &hd, sizeof hd), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(h, &hd, sizeof hd), MMSYSERR_NOERROR);
  }

  // Everything SDL has written so far.
  std::vector<int16_t> read_played() const {
    QFile f(out_path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    QByteArray bytes = f.readAll();
    std::vector<int16_t> s(static_cast<std::size_t>(bytes.size()) / 2);
    std::copy_n(bytes.constData(), s.size() * 2, reinterpret_cast<char*>(s.data()));
    return s;
  }

  // Closes the device and returns what SDL wrote, once the file holds at least `sound`
  // non-zero samples (SDL's thread writes the last callback's data after the close returned:
  // closing no longer waits for that thread).
  std::vector<int16_t> close_and_read(std::size_t sound) {
    EXPECT_EQ(waveOutReset(h), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
    h = 0;
    std::vector<int16_t> played;
    wait_for([&] {
      played = read_played();
      return static_cast<std::size_t>(std::count_if(played.begin(), played.end(),
                                                    [](int16_t v) { return v != 0; })) >= sound;
    });
    return played;
  }

  int done_count() const {
    return static_cast<int>(
        std::count_if(messages.begin(), messages.end(),
                      [](const TMessage& m) { return m.Msg == MM_WOM_DONE; }));
  }

  QTemporaryDir dir;
  QString out_path;
  std::vector<TMessage> messages;
  hidden_window window{[this](TMessage& m) { messages.push_back(m); }};
  HWAVEOUT h = 0;
};

TEST_F(SdlBackend, ListsTheDefaultDeviceAndRefusesWhatItCannotConvert) {
  EXPECT_GE(waveOutGetNumDevs(), 1u);
  WAVEOUTCAPSW caps;
  ASSERT_EQ(waveOutGetDevCapsW(WAVE_MAPPER, &caps, sizeof caps), MMSYSERR_NOERROR);
  EXPECT_FALSE(caps.szPname.empty());
  WAVEFORMATEX f;
  f.wFormatTag = WAVE_FORMAT_PCM;
  f.nChannels = 9;
  f.nSamplesPerSec = 44100;
  f.wBitsPerSample = 16;
  f.nBlockAlign = 18;
  f.nAvgBytesPerSec = 44100 * 18;
  HWAVEOUT x = 0;
  EXPECT_EQ(waveOutOpen(&x, WAVE_MAPPER, &f, window.handle(), 0, CALLBACK_WINDOW),
            WAVERR_BADFORMAT);
}

TEST_F(SdlBackend, PlaysQueuedBuffersCompletelyInOrderAndSilenceWhilePaused) {
  open(2, 22050);
  ASSERT_EQ(waveOutPause(h), MMSYSERR_NOERROR);
  const int nbuf = 6;
  const int len = 3000;  // not a multiple of SDL's callback size
  std::vector<std::vector<int16_t>> bufs(nbuf, std::vector<int16_t>(len));
  std::vector<WAVEHDR> hdrs(nbuf);
  int16_t v = 1;
  for (auto& b : bufs)
    for (auto& s : b) s = v++;
  // Half the buffers now, the other half while paused: the pause falls inside the pattern
  // however fast SDL's thread runs.
  for (int b = 0; b < nbuf / 2; ++b) queue(bufs[b], hdrs[b], static_cast<uintptr_t>(b));
  ASSERT_EQ(waveOutRestart(h), MMSYSERR_NOERROR);
  ASSERT_TRUE(wait_for([&] { return done_count() >= 1; }));
  // Paused in the middle: SDL's thread goes on, writing silence, and nothing is used up.
  ASSERT_EQ(waveOutPause(h), MMSYSERR_NOERROR);
  for (int b = nbuf / 2; b < nbuf; ++b) queue(bufs[b], hdrs[b], static_cast<uintptr_t>(b));
  QCoreApplication::sendPostedEvents();
  const int done_at_pause = done_count();
  ASSERT_LE(done_at_pause, nbuf / 2);
  const qint64 size_at_pause = QFile(out_path).size();
  const qint64 pause_bytes = 65536;
  ASSERT_TRUE(wait_for([&] { return QFile(out_path).size() > size_at_pause + pause_bytes; }));
  QCoreApplication::sendPostedEvents();
  EXPECT_EQ(done_count(), done_at_pause);
  ASSERT_EQ(waveOutRestart(h), MMSYSERR_NOERROR);
  ASSERT_TRUE(wait_for([&] { return done_count() == nbuf; }));
  int k = 0;
  for (const auto& m : messages) {
    if (m.Msg != MM_WOM_DONE) continue;
    EXPECT_EQ(m.WParam, h);
    EXPECT_EQ(m.LParam, reinterpret_cast<intptr_t>(&hdrs[k])) << "done order";
    ++k;
  }
  std::vector<int16_t> played = close_and_read(nbuf * len);
  // Every sample exactly once and in order; only silence in between.
  std::vector<int16_t> sound;
  std::copy_if(played.begin(), played.end(), std::back_inserter(sound),
               [](int16_t s) { return s != 0; });
  ASSERT_EQ(sound.size(), static_cast<std::size_t>(nbuf * len));
  for (int i = 0; i < nbuf * len; ++i) ASSERT_EQ(sound[i], static_cast<int16_t>(i + 1)) << i;
  // The pause shows as a stretch of silence inside the pattern.
  auto first = std::find_if(played.begin(), played.end(), [](int16_t s) { return s != 0; });
  auto last = std::find_if(played.rbegin(), played.rend(), [](int16_t s) { return s != 0; });
  std::size_t longest = 0, run = 0;
  for (auto it = first; it != last.base(); ++it) {
    run = *it == 0 ? run + 1 : 0;
    longest = std::max(longest, run);
  }
  EXPECT_GE(longest, static_cast<std::size_t>(pause_bytes / 2));
}

TEST_F(SdlBackend, VolumeIsAppliedAsGainPerChannel) {
  ASSERT_EQ(waveOutSetVolume(WAVE_MAPPER, 0x4000FFFFu), MMSYSERR_NOERROR);
  open(2, 8000);
  std::vector<int16_t> buf(4000);
  for (std::size_t i = 0; i < buf.size(); ++i) buf[i] = 20000;
  WAVEHDR hd;
  queue(buf, hd, 0);
  ASSERT_TRUE(wait_for([&] { return done_count() == 1; }));
  std::vector<int16_t> played = close_and_read(4000);
  waveOutSetVolume(WAVE_MAPPER, 0xFFFFFFFFu);
  auto first = std::find_if(played.begin(), played.end(), [](int16_t s) { return s != 0; });
  ASSERT_NE(first, played.end());
  const auto start = first - played.begin();
  ASSERT_EQ(start % 2, 0) << "frames stay aligned";
  ASSERT_GE(played.end() - first, 4000);
  for (int i = 0; i < 4000; i += 2) {
    ASSERT_EQ(first[i], 20000);
    ASSERT_EQ(first[i + 1], 20000 * 0x4000 / 0xFFFF);
  }
}

TEST_F(SdlBackend, AfterResetTheAudioThreadNeverTouchesTheBuffersAgain) {
  open(1, 44100);
  const int nbuf = 8;
  // Heap buffers that are freed right after the reset: any later access by SDL's thread is a
  // use after free that the address sanitizer build reports, and in any build the marker
  // written into them afterwards must never reach the output.
  auto bufs = std::make_unique<std::vector<int16_t>[]>(nbuf);
  std::vector<WAVEHDR> hdrs(nbuf);
  for (int b = 0; b < nbuf; ++b) {
    bufs[b].assign(44100 / 4, 1);
    queue(bufs[b], hdrs[b], static_cast<uintptr_t>(b));
  }
  ASSERT_TRUE(wait_for([&] { return done_count() >= 1; }));
  ASSERT_EQ(waveOutReset(h), MMSYSERR_NOERROR);
  for (int b = 0; b < nbuf; ++b) {
    EXPECT_FALSE(hdrs[b].dwFlags & WHDR_INQUEUE);
    std::fill(bufs[b].begin(), bufs[b].end(), int16_t{0x7777});
  }
  bufs.reset();
  // Let SDL's thread run on past the reset, then look at what it wrote.
  const qint64 size_at_reset = QFile(out_path).size();
  ASSERT_TRUE(wait_for([&] { return QFile(out_path).size() > size_at_reset + 32768; }));
  std::vector<int16_t> played = close_and_read(0);
  EXPECT_EQ(std::count(played.begin(), played.end(), int16_t{0x7777}), 0);
  QCoreApplication::sendPostedEvents();
  EXPECT_EQ(done_count(), nbuf) << "every buffer comes back once";
}

// With no sound server at its address, the default backend plays through SDL2 instead, and
// it asks the server again at the next open.
TEST_F(SdlBackend, TheDefaultBackendFallsBackToSdlWhenNoServerAnswers) {
  QFile conf(dir.filePath("client.conf"));
  ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
  conf.write("autospawn = no\n");
  conf.close();
  qputenv("PULSE_CLIENTCONFIG", QFile::encodeName(conf.fileName()));
  qputenv("PULSE_SERVER", "unix:" + QFile::encodeName(dir.filePath("no-server")));
  waveout_use_backend(make_default_waveout_backend());
  EXPECT_GE(waveOutGetNumDevs(), 1u) << "SDL's devices stand in for the server's";
  for (int round = 0; round < 2; ++round) {
    open(2, 22050);
    std::vector<int16_t> buf(2000);
    for (std::size_t i = 0; i < buf.size(); ++i) buf[i] = static_cast<int16_t>(i + 1);
    WAVEHDR hd;
    queue(buf, hd, 0);
    ASSERT_TRUE(wait_for([&] { return done_count() == round + 1; }));
    std::vector<int16_t> played = close_and_read(2000);  // each open starts the file anew
    auto first = std::find(played.begin(), played.end(), int16_t{1});
    ASSERT_NE(first, played.end());
    ASSERT_GE(played.end() - first, 2000);
    EXPECT_TRUE(std::equal(buf.begin(), buf.end(), first));
  }
  qunsetenv("PULSE_SERVER");
  qunsetenv("PULSE_CLIENTCONFIG");
}

}  // namespace
}  // namespace murmelin
