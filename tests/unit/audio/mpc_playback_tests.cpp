// SPDX-License-Identifier: GPL-3.0-or-later
// Playing: the first filling, the ring of buffers, the refill contract and its end of stream.
#include <algorithm>
#include <memory>

#include "mpc_test_support.h"

namespace murmelin::testing {
namespace {

// One call of the refill callback as the callback saw it.
struct stash_call {
  int index;            // which of the player's buffers arrived
  int32_t used_in;      // used on arrival
  bool last_in;         // last on arrival
  bool paused;          // the device was paused during the call
  int queued;           // buffers queued on the device during the call
};

class Playback : public PlayerTest {
protected:
  Playback() {
    p.set_nChunkSamples(8);
    p.set_nChans(2);
    p.set_sfTot(88200);
    p.set_OnClosed([this] { ++closed; });
    p.set_OnOpened([this] { ++opened; });
    p.set_OnStash([this](TWaveChunk& arr, int32_t& used, bool& last) {
      stash_call c{index_of(arr), used, last, tb->is_paused(), tb->queued_count()};
      calls.push_back(c);
      for (auto& s : arr) s = next_value++;
      if (react) react(c, arr, used, last);
    });
  }

  int index_of(const TWaveChunk& arr) const {
    for (std::size_t i = 0; i < p.buffers().size(); ++i)
      if (&p.buffers()[i] == &arr) return static_cast<int>(i);
    return -1;
  }

  std::vector<int> indexes() const {
    std::vector<int> r;
    for (const auto& c : calls) r.push_back(c.index);
    return r;
  }

  TMPCPlay p;
  std::vector<stash_call> calls;
  int16_t next_value = 1;
  std::function<void(const stash_call&, TWaveChunk&, int32_t&, bool&)> react;
  int closed = 0;
  int opened = 0;
};

TEST_F(Playback, RunFillsEveryBufferInOrderWhilePausedThenRestarts) {
  p.Run();
  EXPECT_TRUE(p.OwnBoard());
  EXPECT_EQ(tb->open_count(), 1);
  EXPECT_EQ(tb->last_device(), WAVE_MAPPER) << "DeviceID -1 is the default device";
  EXPECT_EQ(tb->last_format().nChannels, 2);
  EXPECT_EQ(tb->last_format().nSamplesPerSec, 44100u);
  EXPECT_EQ(tb->last_format().nBlockAlign, 4);
  ASSERT_EQ(calls.size(), 4u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(calls[i].index, i);
    EXPECT_EQ(calls[i].used_in, 8) << "used arrives as the buffer's length";
    EXPECT_FALSE(calls[i].last_in);
    EXPECT_TRUE(calls[i].paused) << "sound starts only after the first filling";
    EXPECT_EQ(calls[i].queued, i);
    const WAVEHDR& hd = p.headers()[i];
    EXPECT_EQ(hd.lpData, reinterpret_cast<const char*>(p.buffers()[i].data()));
    EXPECT_EQ(hd.dwBufferLength, 16u);
    EXPECT_EQ(hd.dwLoops, 1u);
    EXPECT_EQ(hd.dwUser, static_cast<uintptr_t>(i));
  }
  EXPECT_EQ(tb->queued_count(), 4);
  EXPECT_FALSE(tb->is_paused());
  EXPECT_EQ(opened, 0) << "the open notification is handled later, by the event loop";
  deliver();
  EXPECT_EQ(opened, 1);
}

TEST_F(Playback, EveryReturnedBufferIsRefilledInPlaceAndQueuedAgain) {
  std::vector<const int16_t*> data;
  for (const auto& b : p.buffers()) data.push_back(b.data());
  p.Run();
  for (int k = 0; k < 10; ++k) {
    ASSERT_TRUE(play_one());
    EXPECT_EQ(tb->queued_count(), 4);
  }
  EXPECT_EQ(indexes(), (std::vector<int>{0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1}));
  // What was played is exactly what the callback wrote, in order.
  std::vector<int16_t> played = tb->played_samples();
  ASSERT_EQ(played.size(), 80u);
  for (std::size_t k = 0; k < played.size(); ++k) ASSERT_EQ(played[k], static_cast<int16_t>(k + 1));
  // The same buffers the whole time.
  for (std::size_t i = 0; i < data.size(); ++i) EXPECT_EQ(p.buffers()[i].data(), data[i]);
  EXPECT_TRUE(reported.empty());
}

TEST_F(Playback, OnlyTheUsedPartOfABufferIsPlayed) {
  p.set_nChunkSamples(4096);
  react = [](const stash_call&, TWaveChunk&, int32_t& used, bool&) { used = 100; };
  p.Run();
  EXPECT_EQ(p.headers()[0].dwBufferLength, 200u);
  ASSERT_TRUE(play_one());
  ASSERT_EQ(tb->played().size(), 1u);
  EXPECT_EQ(tb->played()[0].samples.size(), 100u);
  EXPECT_EQ(tb->played()[0].samples[99], 100);
}

TEST_F(Playback, UsedOutsideTheBufferIsClampedIntoIt) {
  react = [](const stash_call& c, TWaveChunk&, int32_t& used, bool&) {
    if (c.index == 0) used = 1000000;
    if (c.index == 1) used = -3;
  };
  p.Run();
  EXPECT_EQ(p.headers()[0].dwBufferLength, 16u);
  // A negative count is a count of 0: the stream ends with a silent frame.
  EXPECT_EQ(p.headers()[1].dwBufferLength, 4u);
  EXPECT_EQ(p.headers()[1].dwUser, TMPCPlay::end_marker);
  EXPECT_EQ(calls.size(), 2u);
}

TEST_F(Playback, UsedZeroQueuesOneSilentFrameThatEndsTheStreamAndClosesTheDevice) {
  react = [](const stash_call& c, TWaveChunk&, int32_t& used, bool&) {
    if (c.index == 1) used = 0;
  };
  p.Run();
  EXPECT_EQ(indexes(), (std::vector<int>{0, 1}));
  EXPECT_TRUE(p.draining());
  EXPECT_EQ(p.headers()[1].dwBufferLength, 4u) << "one frame of two channels";
  EXPECT_EQ(p.headers()[1].dwUser, TMPCPlay::end_marker);
  EXPECT_EQ(p.buffers()[1][0], 0);
  EXPECT_EQ(p.buffers()[1][1], 0);
  EXPECT_EQ(p.buffers()[1][2], 11) << "only the frame is silenced";
  ASSERT_TRUE(play_one());
  EXPECT_EQ(calls.size(), 2u) << "nothing is asked for while draining";
  EXPECT_TRUE(p.OwnBoard());
  ASSERT_TRUE(play_one());
  EXPECT_FALSE(p.OwnBoard()) << "the end marker closes the device without Stop";
  EXPECT_EQ(tb->open_streams(), 0);
  EXPECT_EQ(tb->played()[1].samples, (std::vector<int16_t>{0, 0}));
  EXPECT_EQ(closed, 1);
  EXPECT_TRUE(reported.empty());
}

TEST_F(Playback, LastOnTheSecondBufferStopsAskingAndClosesWhenItComesBack) {
  react = [](const stash_call& c, TWaveChunk&, int32_t&, bool& last) {
    if (c.index == 1) last = true;
  };
  p.Run();
  EXPECT_EQ(indexes(), (std::vector<int>{0, 1}));
  EXPECT_EQ(tb->queued_count(), 2);
  EXPECT_EQ(p.headers()[0].dwUser, 0u);
  EXPECT_EQ(p.headers()[1].dwUser, TMPCPlay::end_marker);
  EXPECT_EQ(p.headers()[1].dwBufferLength, 16u) << "the last buffer is played whole";
  EXPECT_FALSE(tb->is_paused());
  ASSERT_TRUE(play_one());
  EXPECT_TRUE(p.OwnBoard());
  EXPECT_EQ(calls.size(), 2u);
  ASSERT_TRUE(play_one());
  EXPECT_FALSE(p.OwnBoard());
  EXPECT_EQ(closed, 1);
  // The next Run starts a fresh stream.
  react = nullptr;
  p.Run();
  EXPECT_EQ(calls.size(), 6u);
  EXPECT_FALSE(p.draining());
}

TEST_F(Playback, ACallbackThatStopsThePlayerDuringRunEndsTheFirstFilling) {
  react = [this](const stash_call& c, TWaveChunk&, int32_t&, bool&) {
    if (c.index == 1) p.Stop();
  };
  p.Run();
  EXPECT_EQ(indexes(), (std::vector<int>{0, 1}));
  EXPECT_FALSE(p.OwnBoard());
  EXPECT_EQ(tb->open_streams(), 0);
  EXPECT_EQ(tb->call_count(waveout_op::restart), 0) << "not restarted";
  EXPECT_EQ(tb->call_count(waveout_op::write), 1) << "the buffer in hand is not queued";
  deliver();  // buffer 0's done from the reset finds the player idle
  EXPECT_EQ(calls.size(), 2u);
  EXPECT_EQ(closed, 1);
  EXPECT_TRUE(reported.empty());
}

TEST_F(Playback, ACallbackThatStopsThePlayerAndShowsADialogMeetsOnlyIgnoredNotifications) {
  p.Run();
  react = [this](const stash_call&, TWaveChunk&, int32_t&, bool&) {
    p.Stop();
    deliver();  // a modal dialog's nested event loop
    EXPECT_EQ(closed, 1);
  };
  ASSERT_TRUE(play_one());
  EXPECT_EQ(calls.size(), 5u);
  EXPECT_FALSE(p.OwnBoard());
  EXPECT_TRUE(reported.empty());
}

TEST_F(Playback, StopClosesTheDeviceAndTheDoneNotificationsAfterItAreIgnored) {
  TMPCPlay idle;
  EXPECT_NO_THROW(idle.Stop());
  p.Run();
  tb->play_next();
  tb->play_next();
  p.Stop();
  EXPECT_FALSE(p.OwnBoard());
  EXPECT_EQ(tb->open_streams(), 0);
  for (const auto& hd : p.headers()) EXPECT_FALSE(hd.dwFlags & WHDR_PREPARED);
  deliver();
  EXPECT_EQ(calls.size(), 4u) << "no refill after Stop";
  EXPECT_EQ(closed, 1);
  EXPECT_NO_THROW(p.Stop());
  EXPECT_EQ(tb->call_count(waveout_op::close), 1);
  EXPECT_TRUE(reported.empty());
}

TEST_F(Playback, NotificationsLeftOverFromAStoppedPlaybackAreNotTakenForCurrentOnes) {
  p.Run();
  tb->play_next();
  tb->play_next();
  p.Stop();  // two played and four reset notifications still wait
  p.Run();
  const HWAVEOUT second = tb->current_handle();
  deliver();
  EXPECT_EQ(calls.size(), 8u);
  EXPECT_EQ(tb->queued_count(second), 4);
  EXPECT_TRUE(p.OwnBoard());
  EXPECT_TRUE(reported.empty());
  ASSERT_TRUE(play_one());
  EXPECT_EQ(calls.size(), 9u);
  EXPECT_EQ(calls.back().index, 0);
}

TEST_F(Playback, RunWhileOwningTheDeviceDoesNothing) {
  p.Run();
  p.Run();
  EXPECT_EQ(calls.size(), 4u);
  EXPECT_EQ(tb->open_count(), 1);
  EXPECT_EQ(tb->queued_count(), 4);
  // Also while draining.
  react = [](const stash_call&, TWaveChunk&, int32_t&, bool& last) { last = true; };
  ASSERT_TRUE(play_one());
  p.Run();
  EXPECT_EQ(calls.size(), 5u);
  EXPECT_TRUE(p.draining());
}

TEST_F(Playback, ACallbackThatRestartsThePlayerLeavesOneConsistentRing) {
  p.Run();
  int restarts = 0;
  react = [&](const stash_call&, TWaveChunk&, int32_t&, bool&) {
    if (restarts++ == 0) {
      p.Stop();
      p.Run();
    }
  };
  ASSERT_TRUE(play_one());
  EXPECT_TRUE(p.OwnBoard());
  EXPECT_EQ(tb->queued_count(), 4);
  EXPECT_EQ(calls.size(), 9u);
  EXPECT_FALSE(tb->is_paused());
  for (int k = 0; k < 8; ++k) ASSERT_TRUE(play_one());
  EXPECT_EQ(tb->queued_count(), 4);
  EXPECT_TRUE(reported.empty());
}

TEST_F(Playback, WithNoBuffersRunOpensTheDeviceAndQueuesNothing) {
  p.set_nBuffers(0);
  p.Run();
  EXPECT_TRUE(p.OwnBoard());
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(tb->queued_count(), 0);
  EXPECT_FALSE(tb->is_paused());
  p.Stop();
  EXPECT_EQ(tb->open_streams(), 0);
}

TEST_F(Playback, TheChosenDeviceIsOpened) {
  p.set_DeviceID(1);
  p.Run();
  EXPECT_EQ(tb->last_device(), 1u);
  p.Stop();
  p.set_DeviceID(-1);
  p.Run();
  EXPECT_EQ(tb->last_device(), WAVE_MAPPER);
}

TEST_F(Playback, BuffersTooShortForASilentFrameEndTheStreamWithAnEmptyOne) {
  p.set_nChans(4);
  p.set_nChunkSamples(3);
  react = [](const stash_call&, TWaveChunk&, int32_t& used, bool&) { used = 0; };
  p.Run();
  EXPECT_EQ(p.headers()[0].dwBufferLength, 0u);
  EXPECT_EQ(p.headers()[0].dwUser, TMPCPlay::end_marker);
  ASSERT_TRUE(play_one());
  EXPECT_FALSE(p.OwnBoard());
  EXPECT_EQ(closed, 1);
}

TEST_F(Playback, ACallbackRemovedWhilePlayingEndsTheStream) {
  p.Run();
  p.set_OnStash(nullptr);
  ASSERT_TRUE(play_one());
  EXPECT_TRUE(p.draining());
  EXPECT_EQ(p.headers()[0].dwUser, TMPCPlay::end_marker);
  tb->play_all();
  deliver();
  EXPECT_FALSE(p.OwnBoard());
  EXPECT_TRUE(reported.empty());
}

TEST_F(Playback, ACallbackThatResizesItsBufferCannotChangeTheRing) {
  react = [](const stash_call&, TWaveChunk& arr, int32_t&, bool&) { arr.resize(2); };
  p.Run();
  for (const auto& b : p.buffers()) EXPECT_EQ(b.size(), 8u);
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(p.headers()[i].lpData, reinterpret_cast<const char*>(p.buffers()[i].data()));
  EXPECT_LE(p.headers()[0].dwBufferLength, 16u);
}

TEST_F(Playback, OnMsgSeesEveryMessageFirstAndThePlayerHandlesItAsLeft) {
  std::vector<uint32_t> seen;
  bool swallow_done = false;
  p.set_OnMsg([&](TMessage& m) {
    seen.push_back(m.Msg);
    if (swallow_done && m.Msg == MM_WOM_DONE) m.Msg = 0x7FFF;
    if (m.Msg == 0x400) m.Result = 99;
  });
  p.Run();
  deliver();
  ASSERT_EQ(seen, std::vector<uint32_t>{MM_WOM_OPEN});
  EXPECT_EQ(opened, 1);
  ASSERT_TRUE(play_one());
  EXPECT_EQ(seen.back(), MM_WOM_DONE);
  EXPECT_EQ(calls.size(), 5u);
  swallow_done = true;
  ASSERT_TRUE(play_one());
  EXPECT_EQ(calls.size(), 5u) << "a done renamed by the hook is not a done";
  // Other messages get the default handling, whatever the hook left.
  EXPECT_EQ(send_message(p.window_handle(), 0x400, 0, 0), 0);
  EXPECT_EQ(seen.back(), 0x400u);
  p.Stop();
  deliver();
  EXPECT_EQ(seen.back(), MM_WOM_CLOSE);
  EXPECT_EQ(closed, 1);
}

TEST_F(Playback, AnErrorInTheCallbackReachesTheEventLoopsHandler) {
  p.Run();
  react = [](const stash_call&, TWaveChunk&, int32_t&, bool&) {
    throw EMathError("Floating point overflow");
  };
  ASSERT_TRUE(play_one());
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_EQ(reported[0], "Floating point overflow");
  EXPECT_TRUE(p.OwnBoard());
  EXPECT_EQ(tb->queued_count(), 3) << "the buffer is out of the ring";
  p.Stop();
}

TEST_F(Playback, DestroyingAPlayingPlayerStopsTheDeviceFirst) {
  {
    TComponent owner;
    auto* owned = new TMPCPlay(&owner);
    owned->set_OnStash([](TWaveChunk&, int32_t&, bool&) {});
    owned->Run();
    tb->play_next();
    EXPECT_EQ(tb->open_streams(), 1);
  }
  EXPECT_EQ(tb->open_streams(), 0);
  deliver();
  EXPECT_TRUE(reported.empty());
}

TEST_F(Playback, DestroyingAPlayerWhoseDeviceWillNotCloseStillLetsGoOfIt) {
  {
    TMPCPlay q;
    q.set_OnStash([](TWaveChunk&, int32_t&, bool&) {});
    q.Run();
    tb->set_failure(waveout_op::close, MMSYSERR_ERROR);
  }
  EXPECT_EQ(tb->open_streams(), 0);
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_EQ(reported[0], "WaveOutClose:An unspecified error occurred in the sound system.");
  tb->clear_failures();
}

}  // namespace
}  // namespace murmelin::testing
