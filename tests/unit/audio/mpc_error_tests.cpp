// SPDX-License-Identifier: GPL-3.0-or-later
// Every error of the player: its exact message and the state it leaves behind.
#include "mpc_test_support.h"

namespace murmelin::testing {
namespace {

class Errors : public PlayerTest {
protected:
  Errors() {
    p.set_nChunkSamples(16);
    p.set_OnStash([this](TWaveChunk&, int32_t&, bool&) {
      ++stashed;
      if (on_stash) on_stash();
    });
  }

  // Runs f and returns the EMPCError message it raised ("" when none).
  template <typename F>
  static std::string error_of(F f) {
    try {
      f();
    } catch (const EMPCError& e) {
      return e.what();
    }
    return "";
  }

  std::string text(MMRESULT code) { return p.ErrorText(static_cast<int32_t>(code)).toStdString(); }

  TMPCPlay p;
  int stashed = 0;
  std::function<void()> on_stash;
};

TEST_F(Errors, RunWithoutARefillCallbackChangesNothing) {
  TMPCPlay q;
  EXPECT_EQ(error_of([&] { q.Run(); }), "Nothing assigned to OnStash!");
  EXPECT_FALSE(q.OwnBoard());
  EXPECT_EQ(tb->call_count(waveout_op::open), 0);
}

TEST_F(Errors, ARefusedOpenLeavesThePlayerIdle) {
  tb->set_failure(waveout_op::open, MMSYSERR_ALLOCATED, 1);
  EXPECT_EQ(error_of([&] { p.Run(); }), "WaveOutOpen:" + text(MMSYSERR_ALLOCATED));
  EXPECT_EQ(error_of([&] { p.Run(); }).size(), 0u) << "the next Run opens normally";
  EXPECT_TRUE(p.OwnBoard());
  p.Stop();
  tb->set_failure(waveout_op::open, WAVERR_BADFORMAT);
  EXPECT_EQ(error_of([&] { p.Run(); }),
            "WaveOutOpen:The output device cannot play this sample format.");
  EXPECT_FALSE(p.OwnBoard());
  EXPECT_EQ(stashed, 4);
  EXPECT_EQ(tb->open_streams(), 0);
}

TEST_F(Errors, ARefusedPrepareInRunKeepsTheDeviceOpenAndPaused) {
  on_stash = [this] {
    if (stashed == 3) tb->set_failure(waveout_op::prepare, MMSYSERR_NOMEM, 1);
  };
  EXPECT_EQ(error_of([&] { p.Run(); }), "WaveOutPrepareHeader:" + text(MMSYSERR_NOMEM));
  EXPECT_TRUE(p.OwnBoard());
  EXPECT_EQ(stashed, 3);
  EXPECT_EQ(tb->queued_count(), 2);
  EXPECT_TRUE(tb->is_paused()) << "left before the restart";
  p.Stop();
  EXPECT_FALSE(p.OwnBoard());
  EXPECT_EQ(tb->open_streams(), 0);
}

TEST_F(Errors, ARefusedWriteInRunLeavesThatBufferPreparedButOutOfTheRing) {
  on_stash = [this] {
    if (stashed == 2) tb->set_failure(waveout_op::write, MMSYSERR_ERROR, 1);
  };
  EXPECT_EQ(error_of([&] { p.Run(); }), "WaveOutWrite:" + text(MMSYSERR_ERROR));
  EXPECT_TRUE(p.OwnBoard());
  EXPECT_EQ(tb->queued_count(), 1);
  EXPECT_TRUE(p.headers()[1].dwFlags & WHDR_PREPARED);
  EXPECT_FALSE(p.headers()[1].dwFlags & WHDR_INQUEUE);
  p.Stop();
  EXPECT_EQ(tb->open_streams(), 0);
}

TEST_F(Errors, ARefusedUnprepareOfAReturnedBufferTakesItOutOfTheRing) {
  p.Run();
  tb->set_failure(waveout_op::unprepare, WAVERR_STILLPLAYING, 1);
  ASSERT_TRUE(play_one());
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_EQ(reported[0], "WaveOutUnPrepareHeader:" + text(WAVERR_STILLPLAYING));
  EXPECT_TRUE(p.OwnBoard());
  EXPECT_EQ(stashed, 4) << "not refilled";
  EXPECT_EQ(tb->queued_count(), 3);
  // The rest of the ring goes on.
  ASSERT_TRUE(play_one());
  EXPECT_EQ(stashed, 5);
  EXPECT_EQ(tb->queued_count(), 3);
  p.Stop();
}

TEST_F(Errors, ARefusedResetInStopChangesNothingAndAnotherStopTriesAgain) {
  p.Run();
  tb->set_failure(waveout_op::reset, MMSYSERR_NOTSUPPORTED, 1);
  EXPECT_EQ(error_of([&] { p.Stop(); }), "WaveOutReset:" + text(MMSYSERR_NOTSUPPORTED));
  EXPECT_TRUE(p.OwnBoard());
  EXPECT_EQ(tb->queued_count(), 4);
  EXPECT_EQ(tb->call_count(waveout_op::unprepare), 0);
  EXPECT_EQ(tb->call_count(waveout_op::close), 0);
  // Still playing meanwhile.
  ASSERT_TRUE(play_one());
  EXPECT_EQ(stashed, 5);
  p.Stop();
  EXPECT_FALSE(p.OwnBoard());
  EXPECT_EQ(tb->open_streams(), 0);
}

TEST_F(Errors, ARefusedUnprepareInStopLeavesTheDeviceOpen) {
  p.Run();
  tb->set_failure(waveout_op::unprepare, MMSYSERR_INVALHANDLE, 1);
  EXPECT_EQ(error_of([&] { p.Stop(); }), "WaveOutUnPrepareHeader:" + text(MMSYSERR_INVALHANDLE));
  EXPECT_TRUE(p.OwnBoard());
  EXPECT_EQ(tb->open_streams(), 1);
  EXPECT_EQ(tb->call_count(waveout_op::close), 0);
  p.Stop();
  EXPECT_FALSE(p.OwnBoard());
  EXPECT_EQ(tb->open_streams(), 0);
}

TEST_F(Errors, ARefusedCloseInStopLeavesTheDeviceOpen) {
  int closed = 0;
  p.set_OnClosed([&] { ++closed; });
  p.Run();
  tb->set_failure(waveout_op::close, MMSYSERR_ERROR, 1);
  EXPECT_EQ(error_of([&] { p.Stop(); }), "WaveOutClose:" + text(MMSYSERR_ERROR));
  EXPECT_TRUE(p.OwnBoard());
  EXPECT_EQ(tb->open_streams(), 1);
  deliver();
  EXPECT_EQ(closed, 0);
  EXPECT_EQ(stashed, 4) << "the reset's notifications after a failed close refill nothing";
  p.Stop();
  deliver();
  EXPECT_EQ(closed, 1);
  EXPECT_EQ(tb->open_streams(), 0);
}

TEST_F(Errors, TheFormatAndTheRingCannotChangeWhileOwningTheDevice) {
  p.set_nChans(2);
  p.set_sfTot(88200);
  p.Run();
  const WAVEFORMATEX before = p.waveformat();
  EXPECT_EQ(error_of([&] { p.set_nChans(1); }), "Cannot change nChans while owning board");
  EXPECT_EQ(error_of([&] { p.set_sfTot(16000); }), "Cannot change sfTot while owning board");
  EXPECT_EQ(error_of([&] { p.set_nBuffers(8); }), "Cannot change nBuffers while owning board");
  EXPECT_EQ(error_of([&] { p.set_nChunkSamples(4); }),
            "Cannot change nChunkSamples while owning board");
  EXPECT_EQ(p.nChans(), 2);
  EXPECT_EQ(p.sfTot(), 88200);
  EXPECT_EQ(p.nBuffers(), 4);
  EXPECT_EQ(p.nChunkSamples(), 16);
  EXPECT_EQ(p.buffers().size(), 4u);
  EXPECT_EQ(p.buffers()[0].size(), 16u);
  EXPECT_EQ(p.waveformat().nChannels, before.nChannels);
  EXPECT_EQ(p.waveformat().nSamplesPerSec, before.nSamplesPerSec);
  EXPECT_EQ(p.waveformat().nAvgBytesPerSec, before.nAvgBytesPerSec);
  // Playing goes on untouched.
  ASSERT_TRUE(play_one());
  EXPECT_EQ(tb->played()[0].samples.size(), 16u);
  p.Stop();
  p.set_nChans(1);
  EXPECT_EQ(p.nChans(), 1);
}

TEST_F(Errors, OwningTheDeviceWhileDrainingStillRefusesChanges) {
  on_stash = [this] {
    if (stashed == 1) p.set_OnStash([](TWaveChunk&, int32_t& used, bool&) { used = 0; });
  };
  p.Run();
  ASSERT_TRUE(p.draining());
  EXPECT_EQ(error_of([&] { p.set_sfTot(8000); }), "Cannot change sfTot while owning board");
  tb->play_all();
  deliver();
  EXPECT_FALSE(p.OwnBoard());
  EXPECT_NO_THROW(p.set_sfTot(8000));
}

// The sound server goes away while playing: whichever buffers are in flight, the owner hears
// of it exactly once (one error box), and the next Stop and Run work as usual.
TEST_F(Errors, ALostOutputIsReportedOnceAndStopAndRunStillWork) {
  for (int in_flight = 0; in_flight <= 2; ++in_flight) {
    SCOPED_TRACE(in_flight);
    reported.clear();
    p.Run();
    ASSERT_EQ(tb->queued_count(), 4);
    // Buffers already played whose done messages are still waiting when the loss comes.
    for (int k = 0; k < in_flight; ++k) ASSERT_TRUE(tb->play_next());
    ASSERT_TRUE(tb->lose_stream());
    deliver();
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_EQ(reported[0], "WaveOutWrite:" + text(WAVERR_LOST));
    EXPECT_TRUE(p.OwnBoard());
    EXPECT_FALSE(tb->play_next()) << "nothing plays on a lost output";
    p.Stop();
    EXPECT_FALSE(p.OwnBoard());
    EXPECT_EQ(tb->open_streams(), 0);
    deliver();
    EXPECT_EQ(reported.size(), 1u);
    // A new stream plays normally.
    p.Run();
    ASSERT_TRUE(play_one());
    EXPECT_EQ(tb->queued_count(), 4);
    EXPECT_EQ(reported.size(), 1u);
    p.Stop();
    deliver();
  }
}

}  // namespace
}  // namespace murmelin::testing
