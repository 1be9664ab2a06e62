// SPDX-License-Identifier: GPL-3.0-or-later
// The wave output service's semantics, driven through the test backend.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QString>

#include <cstring>
#include <set>
#include <vector>

#include "hidden_window.h"
#include "waveout.h"
#include "pcm_format.h"
#include "waveout_backend.h"
#include "waveout_test_backend.h"

namespace murmelin {
namespace {


class WaveOut : public ::testing::Test {
protected:
  WaveOut() : tb({"First", "Second"}), window([this](TMessage& m) { messages.push_back(m); }) {}

  void TearDown() override {
    for (HWAVEOUT h : opened) waveout_force_close(h);
    QCoreApplication::sendPostedEvents();
  }

  HWAVEOUT open(uint32_t device = WAVE_MAPPER, WAVEFORMATEX f = pcm(2, 44100)) {
    HWAVEOUT h = 0;
    EXPECT_EQ(waveOutOpen(&h, device, &f, window.handle(), 0, CALLBACK_WINDOW),
              MMSYSERR_NOERROR);
    if (h) opened.push_back(h);
    return h;
  }

  // A prepared header over buf.
  static WAVEHDR header(std::vector<int16_t>& buf, uintptr_t user) {
    WAVEHDR hd;
    hd.lpData = reinterpret_cast<char*>(buf.data());
    hd.dwBufferLength = static_cast<uint32_t>(buf.size() * 2);
    hd.dwUser = user;
    hd.dwLoops = 1;
    return hd;
  }

  std::vector<TMessage> delivered(uint32_t msg) const {
    std::vector<TMessage> r;
    for (const auto& m : messages)
      if (m.Msg == msg) r.push_back(m);
    return r;
  }

  waveout_test_backend_scope tb;
  hidden_window window;
  std::vector<TMessage> messages;
  std::vector<HWAVEOUT> opened;
};

TEST_F(WaveOut, OpenAndCloseNotifyTheWindowLaterWithTheHandle) {
  HWAVEOUT h = open(1);
  ASSERT_NE(h, 0u);
  EXPECT_EQ(tb->last_device(), 1u);
  EXPECT_TRUE(messages.empty()) << "notification delivered inside waveOutOpen";
  QCoreApplication::sendPostedEvents();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].Msg, MM_WOM_OPEN);
  EXPECT_EQ(messages[0].WParam, h);

  ASSERT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
  EXPECT_EQ(messages.size(), 1u) << "notification delivered inside waveOutClose";
  QCoreApplication::sendPostedEvents();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[1].Msg, MM_WOM_CLOSE);
  EXPECT_EQ(messages[1].WParam, h);
  EXPECT_EQ(tb->open_streams(), 0);
  // A closed handle is dead, and a new open gets a different one.
  EXPECT_EQ(waveOutClose(h), MMSYSERR_INVALHANDLE);
  EXPECT_NE(open(), h);
}

TEST_F(WaveOut, BuffersPlayInTheOrderWrittenAndComeBackAsDone) {
  HWAVEOUT h = open();
  std::vector<std::vector<int16_t>> bufs;
  for (int16_t k = 0; k < 3; ++k) bufs.push_back({k, static_cast<int16_t>(k + 100)});
  std::vector<WAVEHDR> hdrs;
  for (uintptr_t k = 0; k < 3; ++k) hdrs.push_back(header(bufs[k], k));
  for (auto& hd : hdrs) {
    ASSERT_EQ(waveOutPrepareHeader(h, &hd, sizeof hd), MMSYSERR_NOERROR);
    EXPECT_TRUE(hd.dwFlags & WHDR_PREPARED);
  }
  // Written out of index order: they must play in the order written.
  for (int k : {2, 0, 1}) {
    ASSERT_EQ(waveOutWrite(h, &hdrs[k], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_TRUE(hdrs[k].dwFlags & WHDR_INQUEUE);
  }
  EXPECT_EQ(tb->queued_count(), 3);
  EXPECT_EQ(tb->play_all(), 3);
  ASSERT_EQ(tb->played().size(), 3u);
  EXPECT_EQ(tb->played()[0].user, 2u);
  EXPECT_EQ(tb->played()[1].user, 0u);
  EXPECT_EQ(tb->played()[2].user, 1u);
  EXPECT_EQ(tb->played_samples(), (std::vector<int16_t>{2, 102, 0, 100, 1, 101}));
  EXPECT_TRUE(delivered(MM_WOM_DONE).empty());
  QCoreApplication::sendPostedEvents();
  auto done = delivered(MM_WOM_DONE);
  ASSERT_EQ(done.size(), 3u);
  const int order[] = {2, 0, 1};
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(done[k].WParam, h);
    EXPECT_EQ(done[k].LParam, reinterpret_cast<intptr_t>(&hdrs[order[k]]));
  }
  for (auto& hd : hdrs) {
    EXPECT_TRUE(hd.dwFlags & WHDR_DONE);
    EXPECT_FALSE(hd.dwFlags & WHDR_INQUEUE);
    EXPECT_EQ(waveOutUnprepareHeader(h, &hd, sizeof hd), MMSYSERR_NOERROR);
    EXPECT_FALSE(hd.dwFlags & WHDR_PREPARED);
  }
}

// A sound server asks for amounts of its own: buffers split between requests, each goes back
// once it is used up, nothing is lost or repeated, and a queue that ends inside a frame is
// completed with silence rather than held back.
TEST_F(WaveOut, ServerSizedRequestsSplitBuffersAndHandThemBackWhenUsedUp) {
  HWAVEOUT h = open(WAVE_MAPPER, pcm(2, 44100));
  std::vector<std::vector<int16_t>> bufs = {std::vector<int16_t>(10), std::vector<int16_t>(6),
                                            std::vector<int16_t>(3)};
  int16_t v = 1;
  for (auto& b : bufs)
    for (auto& x : b) x = v++;
  std::vector<WAVEHDR> hd;
  for (std::size_t i = 0; i < bufs.size(); ++i) hd.push_back(header(bufs[i], i));
  for (auto& x : hd) {
    ASSERT_EQ(waveOutPrepareHeader(h, &x, sizeof x), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(h, &x, sizeof x), MMSYSERR_NOERROR);
  }
  ASSERT_EQ(waveOutPause(h), MMSYSERR_NOERROR);
  EXPECT_EQ(tb->play_request(64), 0u) << "nothing while paused";
  ASSERT_EQ(waveOutRestart(h), MMSYSERR_NOERROR);
  EXPECT_EQ(tb->play_request(14), 12u) << "whole frames only (14 bytes is 3 frames)";
  QCoreApplication::sendPostedEvents();
  EXPECT_TRUE(delivered(MM_WOM_DONE).empty()) << "buffer 0 is not used up yet";
  EXPECT_EQ(tb->play_request(16), 16u);
  QCoreApplication::sendPostedEvents();
  ASSERT_EQ(delivered(MM_WOM_DONE).size(), 1u);
  // 4 bytes left in buffer 1 and 6 in buffer 2 (two and a half frames): the half is padded.
  EXPECT_EQ(tb->play_request(400), 12u);
  QCoreApplication::sendPostedEvents();
  auto done = delivered(MM_WOM_DONE);
  ASSERT_EQ(done.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i)
    EXPECT_EQ(done[i].LParam, reinterpret_cast<intptr_t>(&hd[i]));
  std::vector<int16_t> got(tb->played_bytes().size() / 2);
  std::memcpy(got.data(), tb->played_bytes().data(), got.size() * 2);
  std::vector<int16_t> want;
  for (int16_t k = 1; k < v; ++k) want.push_back(k);
  want.push_back(0);
  EXPECT_EQ(got, want);
  EXPECT_EQ(tb->play_request(64), 0u);
}

// An output that goes away makes the next write fail once; later writes are kept, silent,
// until the reset hands them back; closing works as usual.
TEST_F(WaveOut, ALostOutputFailsTheNextWriteOnceAndKeepsLaterBuffersSilent) {
  HWAVEOUT h = open();
  std::vector<int16_t> a(8, 1), b(8, 2), c(8, 3);
  WAVEHDR ha = header(a, 0), hb = header(b, 1), hc = header(c, 2);
  for (WAVEHDR* x : {&ha, &hb, &hc}) ASSERT_EQ(waveOutPrepareHeader(h, x, sizeof *x), 0u);
  ASSERT_EQ(waveOutWrite(h, &ha, sizeof ha), MMSYSERR_NOERROR);
  ASSERT_TRUE(tb->lose_stream());
  QCoreApplication::sendPostedEvents();
  ASSERT_EQ(delivered(MM_WOM_DONE).size(), 1u) << "the queued buffer comes back at once";
  EXPECT_EQ(waveOutWrite(h, &hb, sizeof hb), WAVERR_LOST);
  EXPECT_FALSE(hb.dwFlags & WHDR_INQUEUE);
  EXPECT_EQ(waveOutWrite(h, &hc, sizeof hc), MMSYSERR_NOERROR);
  EXPECT_FALSE(tb->play_next());
  EXPECT_EQ(tb->play_request(64), 0u);
  EXPECT_EQ(waveOutClose(h), WAVERR_STILLPLAYING);
  ASSERT_EQ(waveOutReset(h), MMSYSERR_NOERROR);
  QCoreApplication::sendPostedEvents();
  EXPECT_EQ(delivered(MM_WOM_DONE).size(), 2u);
  EXPECT_EQ(waveOutUnprepareHeader(h, &hc, sizeof hc), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
  opened.clear();
}

TEST_F(WaveOut, PauseHoldsPlaybackUntilRestart) {
  HWAVEOUT h = open();
  std::vector<int16_t> buf{1, 2};
  WAVEHDR hd = header(buf, 0);
  ASSERT_EQ(waveOutPause(h), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutPrepareHeader(h, &hd, sizeof hd), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutWrite(h, &hd, sizeof hd), MMSYSERR_NOERROR);
  EXPECT_TRUE(tb->is_paused());
  EXPECT_FALSE(tb->play_next());
  ASSERT_EQ(waveOutRestart(h), MMSYSERR_NOERROR);
  EXPECT_TRUE(tb->play_next());
  EXPECT_EQ(tb->queued_count(), 0);
}

TEST_F(WaveOut, ResetHandsEveryQueuedBufferBackAsDone) {
  HWAVEOUT h = open();
  std::vector<int16_t> buf(8, 7);
  std::vector<WAVEHDR> hdrs(4, header(buf, 0));
  for (auto& hd : hdrs) {
    ASSERT_EQ(waveOutPrepareHeader(h, &hd, sizeof hd), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(h, &hd, sizeof hd), MMSYSERR_NOERROR);
  }
  // A queued buffer cannot be unprepared, nor written twice, nor can the device close.
  EXPECT_EQ(waveOutUnprepareHeader(h, &hdrs[1], sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
  EXPECT_EQ(waveOutWrite(h, &hdrs[1], sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
  EXPECT_EQ(waveOutClose(h), WAVERR_STILLPLAYING);
  ASSERT_TRUE(tb->play_next());
  ASSERT_EQ(waveOutReset(h), MMSYSERR_NOERROR);
  EXPECT_EQ(tb->queued_count(), 0);
  for (auto& hd : hdrs) {
    EXPECT_TRUE(hd.dwFlags & WHDR_DONE);
    EXPECT_FALSE(hd.dwFlags & WHDR_INQUEUE);
    EXPECT_EQ(waveOutUnprepareHeader(h, &hd, sizeof hd), MMSYSERR_NOERROR);
  }
  QCoreApplication::sendPostedEvents();
  auto done = delivered(MM_WOM_DONE);
  ASSERT_EQ(done.size(), 4u);
  for (int k = 0; k < 4; ++k)
    EXPECT_EQ(done[k].LParam, reinterpret_cast<intptr_t>(&hdrs[k])) << "done order " << k;
  EXPECT_EQ(tb->played().size(), 1u) << "reset must not play the rest";
  EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
}

TEST_F(WaveOut, HeadersFollowTheirPreparedState) {
  HWAVEOUT h = open();
  std::vector<int16_t> buf(4, 1);
  WAVEHDR hd = header(buf, 0);
  EXPECT_EQ(waveOutWrite(h, &hd, sizeof hd), WAVERR_UNPREPARED);
  EXPECT_EQ(waveOutUnprepareHeader(h, &hd, sizeof hd), MMSYSERR_NOERROR)
      << "unprepare of a header that is not prepared succeeds";
  EXPECT_EQ(waveOutPrepareHeader(h, nullptr, sizeof hd), MMSYSERR_INVALPARAM);
  EXPECT_EQ(waveOutPrepareHeader(h, &hd, sizeof hd - 1), MMSYSERR_INVALPARAM);
  WAVEHDR nodata;
  nodata.dwBufferLength = 4;
  EXPECT_EQ(waveOutPrepareHeader(h, &nodata, sizeof nodata), MMSYSERR_INVALPARAM);
  // An empty buffer is legal and comes back like any other.
  WAVEHDR empty;
  ASSERT_EQ(waveOutPrepareHeader(h, &empty, sizeof empty), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutWrite(h, &empty, sizeof empty), MMSYSERR_NOERROR);
  EXPECT_TRUE(tb->play_next());
  QCoreApplication::sendPostedEvents();
  EXPECT_EQ(delivered(MM_WOM_DONE).size(), 1u);
}

TEST_F(WaveOut, InvalidHandlesDevicesAndArgumentsFailWithTheirOwnCodes) {
  const HWAVEOUT bad = 12345;
  std::vector<int16_t> buf(2);
  WAVEHDR hd = header(buf, 0);
  EXPECT_EQ(waveOutPause(bad), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(waveOutRestart(bad), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(waveOutPrepareHeader(bad, &hd, sizeof hd), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(waveOutWrite(bad, &hd, sizeof hd), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(waveOutUnprepareHeader(bad, &hd, sizeof hd), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(waveOutReset(bad), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(waveOutClose(bad), MMSYSERR_INVALHANDLE);

  HWAVEOUT h = 0;
  WAVEFORMATEX f = pcm(2, 44100);
  EXPECT_EQ(waveOutOpen(&h, 2, &f, window.handle(), 0, CALLBACK_WINDOW), MMSYSERR_BADDEVICEID);
  EXPECT_EQ(waveOutOpen(nullptr, 0, &f, window.handle(), 0, CALLBACK_WINDOW),
            MMSYSERR_INVALPARAM);
  EXPECT_EQ(waveOutOpen(&h, 0, nullptr, window.handle(), 0, CALLBACK_WINDOW),
            MMSYSERR_INVALPARAM);
  EXPECT_EQ(waveOutOpen(&h, 0, &f, 999999, 0, CALLBACK_WINDOW), MMSYSERR_INVALPARAM)
      << "notifications to a window that does not exist";
  EXPECT_EQ(waveOutOpen(&h, 0, &f, window.handle(), 0, 0x30000), MMSYSERR_INVALFLAG);
  WAVEOUTCAPSW caps;
  EXPECT_EQ(waveOutGetDevCapsW(2, &caps, sizeof caps), MMSYSERR_BADDEVICEID);
  EXPECT_EQ(waveOutGetDevCapsW(0, nullptr, sizeof caps), MMSYSERR_INVALPARAM);
  uint32_t v;
  EXPECT_EQ(waveOutGetVolume(2, &v), MMSYSERR_BADDEVICEID);
  EXPECT_EQ(waveOutSetVolume(7, 0), MMSYSERR_BADDEVICEID);
  EXPECT_EQ(tb->open_count(), 0);
}

TEST_F(WaveOut, FormatsThatCannotBeOpenedFailWithTheFormatError) {
  HWAVEOUT h = 0;
  auto try_open = [&](WAVEFORMATEX f) {
    return waveOutOpen(&h, WAVE_MAPPER, &f, window.handle(), 0, CALLBACK_WINDOW);
  };
  WAVEFORMATEX f = pcm(2, 44100);
  f.wFormatTag = 3;
  EXPECT_EQ(try_open(f), WAVERR_BADFORMAT);
  f = pcm(2, 44100);
  f.wBitsPerSample = 8;
  EXPECT_EQ(try_open(f), WAVERR_BADFORMAT);
  EXPECT_EQ(try_open(pcm(0, 44100)), WAVERR_BADFORMAT);
  EXPECT_EQ(try_open(pcm(2, 0)), WAVERR_BADFORMAT);
  f = pcm(2, 44100);
  f.nAvgBytesPerSec += 1;
  EXPECT_EQ(try_open(f), WAVERR_BADFORMAT);
  f = pcm(2, 44100);
  f.nBlockAlign = 2;
  EXPECT_EQ(try_open(f), WAVERR_BADFORMAT);
  // What the backend's device cannot play.
  tb->set_format_filter([](const WAVEFORMATEX& fmt) { return fmt.nChannels <= 2; });
  EXPECT_EQ(try_open(pcm(3, 8000)), WAVERR_BADFORMAT);
  EXPECT_EQ(tb->open_count(), 0);
  EXPECT_EQ(try_open(pcm(1, 8000)), MMSYSERR_NOERROR);
  opened.push_back(h);
  EXPECT_EQ(tb->last_format().nChannels, 1);
  EXPECT_EQ(tb->last_format().nSamplesPerSec, 8000u);
}

TEST_F(WaveOut, InjectedFailuresHitOnlyTheirOperationAndCount) {
  HWAVEOUT h = open();
  tb->set_failure(waveout_op::pause, MMSYSERR_NOMEM, 2);
  EXPECT_EQ(waveOutPause(h), MMSYSERR_NOMEM);
  EXPECT_EQ(waveOutRestart(h), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutPause(h), MMSYSERR_NOMEM);
  EXPECT_EQ(waveOutPause(h), MMSYSERR_NOERROR);
  EXPECT_EQ(tb->call_count(waveout_op::pause), 3);
  tb->set_failure(waveout_op::close, MMSYSERR_ERROR);
  EXPECT_EQ(waveOutClose(h), MMSYSERR_ERROR);
  EXPECT_EQ(waveOutClose(h), MMSYSERR_ERROR);
  EXPECT_EQ(tb->open_streams(), 1) << "a failed close leaves the device open";
  tb->set_failure(waveout_op::close, MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
  tb->set_failure(waveout_op::open, MMSYSERR_ALLOCATED);
  HWAVEOUT h2 = 0;
  WAVEFORMATEX f = pcm(2, 44100);
  EXPECT_EQ(waveOutOpen(&h2, 0, &f, window.handle(), 0, CALLBACK_WINDOW), MMSYSERR_ALLOCATED);
  EXPECT_EQ(h2, 0u);
  tb->clear_failures();
  EXPECT_NE(open(0), 0u);
}

TEST_F(WaveOut, ForceCloseLetsGoOfQueuedBuffersSilently) {
  HWAVEOUT h = open();
  std::vector<int16_t> buf(2, 3);
  WAVEHDR hd = header(buf, 0);
  ASSERT_EQ(waveOutPrepareHeader(h, &hd, sizeof hd), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutWrite(h, &hd, sizeof hd), MMSYSERR_NOERROR);
  tb->set_failure(waveout_op::close, MMSYSERR_ERROR);
  waveout_force_close(h);
  EXPECT_EQ(tb->open_streams(), 0);
  EXPECT_FALSE(hd.dwFlags & WHDR_INQUEUE);
  QCoreApplication::sendPostedEvents();
  EXPECT_TRUE(delivered(MM_WOM_DONE).empty());
  EXPECT_TRUE(delivered(MM_WOM_CLOSE).empty());
  EXPECT_EQ(waveOutReset(h), MMSYSERR_INVALHANDLE);
}

TEST_F(WaveOut, CapabilitiesCarryTheWholeName) {
  // Outputs whose names differ only after the 32nd unit stay apart.
  const QString hdmi2 = "Built-in Audio Digital Stereo (HDMI 2) Output on the left monitor";
  const QString hdmi3 = "Built-in Audio Digital Stereo (HDMI 3) Output on the left monitor";
  const QString pair = QString(31, QChar('z')) + QString::fromUtf16(u"\U0001F50A");
  tb->set_devices({"Short", hdmi2, hdmi3, pair});
  EXPECT_EQ(waveOutGetNumDevs(), 4u);
  auto name = [](uint32_t d) {
    WAVEOUTCAPSW caps;
    caps.szPname = u"stale";
    EXPECT_EQ(waveOutGetDevCapsW(d, &caps, sizeof caps), MMSYSERR_NOERROR);
    return caps.szPname;
  };
  EXPECT_EQ(name(0), u"Short");
  EXPECT_EQ(name(1), hdmi2.toStdU16String());
  EXPECT_EQ(name(2), hdmi3.toStdU16String());
  EXPECT_EQ(name(3), pair.toStdU16String()) << "a surrogate pair past 32 units is kept whole";
  tb->set_default_device_name("Default here");
  EXPECT_EQ(name(WAVE_MAPPER), u"Default here");
  WAVEOUTCAPSW caps;
  EXPECT_EQ(waveOutGetDevCapsW(4, &caps, sizeof caps), MMSYSERR_BADDEVICEID);
}

TEST_F(WaveOut, ErrorTextsAreDistinctClearAndBounded) {
  const MMRESULT codes[] = {MMSYSERR_NOERROR,    MMSYSERR_ERROR,      MMSYSERR_BADDEVICEID,
                            MMSYSERR_NOTENABLED, MMSYSERR_ALLOCATED,  MMSYSERR_INVALHANDLE,
                            MMSYSERR_NODRIVER,   MMSYSERR_NOMEM,      MMSYSERR_NOTSUPPORTED,
                            MMSYSERR_BADERRNUM,  MMSYSERR_INVALFLAG,  MMSYSERR_INVALPARAM,
                            WAVERR_BADFORMAT,    WAVERR_STILLPLAYING, WAVERR_UNPREPARED,
                            WAVERR_SYNC};
  std::set<std::u16string> texts;
  for (MMRESULT c : codes) {
    char16_t buf[128];
    std::fill(std::begin(buf), std::end(buf), u'#');
    ASSERT_EQ(waveOutGetErrorTextW(c, buf, 128), MMSYSERR_NOERROR) << c;
    std::u16string t(buf);
    EXPECT_GT(t.size(), 10u) << c;
    EXPECT_LT(t.size(), 128u) << c;
    EXPECT_EQ(t.back(), u'.') << c;
    texts.insert(t);
  }
  EXPECT_EQ(texts.size(), std::size(codes));
  char16_t small[8];
  ASSERT_EQ(waveOutGetErrorTextW(WAVERR_BADFORMAT, small, 8), MMSYSERR_NOERROR);
  EXPECT_EQ(std::u16string(small), u"The out");
  char16_t unknown[128];
  EXPECT_EQ(waveOutGetErrorTextW(4711, unknown, 128), MMSYSERR_BADERRNUM);
  EXPECT_EQ(QString::fromUtf16(unknown), "Unknown sound system error 4711.");
  EXPECT_EQ(waveOutGetErrorTextW(0, nullptr, 128), MMSYSERR_INVALPARAM);
  EXPECT_EQ(waveOutGetErrorTextW(0, small, 0), MMSYSERR_INVALPARAM);
}

TEST_F(WaveOut, VolumeIsKeptPerDeviceAndAnOpenHandleStandsForItsDevice) {
  uint32_t v = 0;
  ASSERT_EQ(waveOutGetVolume(0, &v), MMSYSERR_NOERROR);
  EXPECT_EQ(v, 0xFFFFFFFFu) << "full volume until set";
  ASSERT_EQ(waveOutSetVolume(0, 0x12345678u), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutSetVolume(WAVE_MAPPER, 0x0000FFFFu), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutGetVolume(1, &v), MMSYSERR_NOERROR);
  EXPECT_EQ(v, 0xFFFFFFFFu);
  ASSERT_EQ(waveOutGetVolume(WAVE_MAPPER, &v), MMSYSERR_NOERROR);
  EXPECT_EQ(v, 0x0000FFFFu);
  HWAVEOUT h = open(0);
  ASSERT_EQ(waveOutGetVolume(h, &v), MMSYSERR_NOERROR);
  EXPECT_EQ(v, 0x12345678u);
  ASSERT_EQ(waveOutSetVolume(h, 0x11112222u), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutGetVolume(0, &v), MMSYSERR_NOERROR);
  EXPECT_EQ(v, 0x11112222u);
  EXPECT_EQ(waveOutGetVolume(0, nullptr), MMSYSERR_INVALPARAM);
  // Volumes outlive the backend's selection only within this scope's service: reset them.
  waveOutSetVolume(0, 0xFFFFFFFFu);
  waveOutSetVolume(WAVE_MAPPER, 0xFFFFFFFFu);
}

TEST(WaveOutVolume, GainScalesLeftAndRightChannelsSeparately) {
  std::vector<int16_t> s{32767, 32767, -32768, -32768, 1000, 1000};
  waveout_apply_volume(s.data(), s.size(), 2, 0x8000FFFFu);  // left full, right about half
  EXPECT_EQ(s[0], 32767);
  EXPECT_EQ(s[1], 16383);
  EXPECT_EQ(s[2], -32768);
  EXPECT_EQ(s[3], -16384);
  EXPECT_EQ(s[4], 1000);
  EXPECT_EQ(s[5], 500);
  std::vector<int16_t> m{20000, -20000, 300};
  waveout_apply_volume(m.data(), m.size(), 1, 0xFFFF0000u);  // mono follows the left half
  EXPECT_EQ(m, (std::vector<int16_t>{0, 0, 0}));
  std::vector<int16_t> full{123, -456};
  waveout_apply_volume(full.data(), full.size(), 2, 0xFFFFFFFFu);
  EXPECT_EQ(full, (std::vector<int16_t>{123, -456}));
}

}  // namespace
}  // namespace murmelin
