// SPDX-License-Identifier: GPL-3.0-or-later
// Construction, the property setters with their limits, the format and the device list.
#include <QString>

#include <algorithm>

#include "mpc_test_support.h"

namespace murmelin::testing {
namespace {

using Properties = PlayerTest;

TEST_F(Properties, ConstructionGivesAnIdlePlayerWithFourZeroBuffers) {
  TMPCPlay p;
  EXPECT_EQ(p.nChunkSamples(), 4096);
  EXPECT_EQ(p.nChans(), 1);
  EXPECT_EQ(p.sfTot(), 16000);
  EXPECT_EQ(p.nBuffers(), 4);
  EXPECT_EQ(p.DeviceID(), -1);
  EXPECT_FALSE(p.OwnBoard());
  EXPECT_FALSE(p.OnStash());
  EXPECT_FALSE(p.OnOpened());
  EXPECT_FALSE(p.OnClosed());
  EXPECT_FALSE(p.OnMsg());
  ASSERT_EQ(p.buffers().size(), 4u);
  ASSERT_EQ(p.headers().size(), 4u);
  for (const auto& b : p.buffers()) {
    ASSERT_EQ(b.size(), 4096u);
    EXPECT_TRUE(std::all_of(b.begin(), b.end(), [](int16_t s) { return s == 0; }));
  }
  const WAVEFORMATEX& f = p.waveformat();
  EXPECT_EQ(f.wFormatTag, 1);
  EXPECT_EQ(f.nChannels, 1);
  EXPECT_EQ(f.nSamplesPerSec, 16000u);
  EXPECT_EQ(f.wBitsPerSample, 16);
  EXPECT_EQ(f.nAvgBytesPerSec, 32000u);
  EXPECT_EQ(f.nBlockAlign, 2);
  EXPECT_EQ(f.cbSize, 0);
  EXPECT_EQ(p.Devicenames(), (QStringList{"Speakers", "Headphones"}));
  EXPECT_EQ(tb->open_count(), 0);
}

TEST_F(Properties, ChannelsAndTotalRateHaveAFloorOfOneAndShapeTheFormat) {
  TMPCPlay p;
  p.set_nChans(0);
  EXPECT_EQ(p.nChans(), 1);
  p.set_nChans(-5);
  EXPECT_EQ(p.nChans(), 1);
  p.set_sfTot(0);
  EXPECT_EQ(p.sfTot(), 1);
  p.set_sfTot(-88200);
  EXPECT_EQ(p.sfTot(), 1);

  p.set_nChans(2);
  p.set_sfTot(88200);
  EXPECT_EQ(p.waveformat().nChannels, 2);
  EXPECT_EQ(p.waveformat().nSamplesPerSec, 44100u);
  EXPECT_EQ(p.waveformat().nAvgBytesPerSec, 176400u);
  EXPECT_EQ(p.waveformat().nBlockAlign, 4);

  p.set_sfTot(44101);  // the remainder is dropped
  EXPECT_EQ(p.waveformat().nSamplesPerSec, 22050u);
  EXPECT_EQ(p.waveformat().nAvgBytesPerSec, 88200u);
  EXPECT_EQ(p.waveformat().nBlockAlign, 4);

  p.set_nChans(3);  // the format follows either setter
  EXPECT_EQ(p.waveformat().nSamplesPerSec, 14700u);
  EXPECT_EQ(p.waveformat().nBlockAlign, 6);
  EXPECT_EQ(p.waveformat().nAvgBytesPerSec, 14700u * 6);
}

TEST_F(Properties, AByteRateBeyondThirtyTwoBitsIsAnOverflowAndChangesNothing) {
  TMPCPlay p;
  p.set_sfTot(268435455);  // channels x rate just below 2^28
  EXPECT_EQ(p.waveformat().nAvgBytesPerSec, 536870910u);
  const WAVEFORMATEX before = p.waveformat();
  try {
    p.set_sfTot(268435456);
    FAIL() << "no overflow";
  } catch (const EIntOverflow& e) {
    EXPECT_STREQ(e.what(), "Integer overflow");
  }
  EXPECT_EQ(p.sfTot(), 268435455);
  EXPECT_EQ(p.waveformat().nSamplesPerSec, before.nSamplesPerSec);
  EXPECT_EQ(p.waveformat().nAvgBytesPerSec, before.nAvgBytesPerSec);

  // With two channels the product counts, not the total alone: 2 x 2^27 = 2^28.
  p.set_sfTot(16000);
  p.set_nChans(2);
  EXPECT_THROW(p.set_sfTot(268435457), EIntOverflow);
  EXPECT_EQ(p.sfTot(), 16000);
  EXPECT_EQ(p.waveformat().nSamplesPerSec, 8000u);
  p.set_sfTot(268435455);  // 2 x 134217727 fits
  EXPECT_EQ(p.waveformat().nAvgBytesPerSec, 2u * 134217727u * 2u);
  p.set_nChans(1);
  EXPECT_EQ(p.waveformat().nAvgBytesPerSec, 536870910u);
}

TEST_F(Properties, ChannelCountsTheFormatCannotHoldAreRangeErrors) {
  TMPCPlay p;
  p.set_sfTot(100000);
  EXPECT_THROW(p.set_nChans(65536), ERangeError);
  EXPECT_EQ(p.nChans(), 1);
  EXPECT_THROW(p.set_nChans(40000), ERangeError);  // block alignment beyond 16 bits
  EXPECT_EQ(p.nChans(), 1);
  EXPECT_EQ(p.waveformat().nChannels, 1);
  p.set_nChans(32767);
  EXPECT_EQ(p.waveformat().nBlockAlign, 65534);
  EXPECT_EQ(p.waveformat().nSamplesPerSec, 3u);
}

TEST_F(Properties, BufferCountIsCappedAtOneThousand) {
  TMPCPlay p;
  p.set_nBuffers(5000);
  EXPECT_EQ(p.nBuffers(), 1000);
  EXPECT_EQ(p.buffers().size(), 1000u);
  EXPECT_EQ(p.headers().size(), 1000u);
  p.set_nBuffers(1000);
  EXPECT_EQ(p.nBuffers(), 1000);
  p.set_nBuffers(999);
  EXPECT_EQ(p.nBuffers(), 999);
  p.set_nBuffers(0);
  EXPECT_EQ(p.nBuffers(), 0);
  EXPECT_TRUE(p.buffers().empty());
}

TEST_F(Properties, ResizingKeepsContentsAndZeroesNewSamplesInAnySettingOrder) {
  TMPCPlay p;
  p.set_nChunkSamples(4);
  EXPECT_EQ(p.buffers()[0].size(), 4u);
  // Put recognisable content into the buffers through a playback.
  int16_t next = 1;
  p.set_OnStash([&](TWaveChunk& arr, int32_t&, bool&) {
    for (auto& s : arr) s = next++;
  });
  p.Run();
  p.Stop();
  ASSERT_EQ(p.buffers()[3], (TWaveChunk{13, 14, 15, 16}));
  p.set_nChunkSamples(6);
  EXPECT_EQ(p.buffers()[3], (TWaveChunk{13, 14, 15, 16, 0, 0}));
  p.set_nChunkSamples(2);
  EXPECT_EQ(p.buffers()[0], (TWaveChunk{1, 2}));
  // New buffers get the current length; the old ones keep what they hold.
  p.set_nBuffers(6);
  ASSERT_EQ(p.buffers().size(), 6u);
  EXPECT_EQ(p.buffers()[1], (TWaveChunk{5, 6}));
  EXPECT_EQ(p.buffers()[5], (TWaveChunk{0, 0}));
  // nBuffers before nChunkSamples works as well.
  TMPCPlay q;
  q.set_nBuffers(2);
  q.set_nChunkSamples(10);
  for (const auto& b : q.buffers()) EXPECT_EQ(b.size(), 10u);
}

TEST_F(Properties, NegativeSizesAreRangeErrorsThatKeepThePreviousValue) {
  TMPCPlay p;
  EXPECT_THROW(p.set_nBuffers(-1), ERangeError);
  EXPECT_EQ(p.nBuffers(), 4);
  EXPECT_EQ(p.buffers().size(), 4u);
  EXPECT_THROW(p.set_nChunkSamples(-4096), ERangeError);
  EXPECT_EQ(p.nChunkSamples(), 4096);
  EXPECT_EQ(p.buffers()[0].size(), 4096u);
}

TEST_F(Properties, DeviceNamesAreReadUpToTheirZeroOrWholeWhenTheyFillTheField) {
  const QString full32 = QString("Thirty-two units exactly, yes!!!");
  ASSERT_EQ(full32.size(), 32);
  tb->set_devices({"A", full32, QString::fromUtf16(u"Lautsprecher (\u00c4u\u00dfen)")});
  TMPCPlay p;
  EXPECT_EQ(p.nDevices(), 3);
  ASSERT_EQ(p.Devicenames().size(), 3);
  EXPECT_EQ(p.Devicenames()[0], "A");
  EXPECT_EQ(p.Devicenames()[1], full32);
  EXPECT_EQ(p.Devicenames()[2], QString::fromUtf16(u"Lautsprecher (\u00c4u\u00dfen)"));

  // nDevices asks every time; the names change only when read again.
  tb->set_devices({"B"});
  EXPECT_EQ(p.nDevices(), 1);
  EXPECT_EQ(p.Devicenames().size(), 3);
  p.read_devicenames();
  EXPECT_EQ(p.Devicenames(), QStringList{"B"});

  tb->set_devices({});
  p.read_devicenames();
  EXPECT_EQ(p.nDevices(), 0);
  EXPECT_TRUE(p.Devicenames().isEmpty());
}

TEST_F(Properties, ADeviceWhoseCapabilitiesCannotBeReadGetsAnEmptyName) {
  tb->set_failure(waveout_op::get_dev_caps, MMSYSERR_NODRIVER, 1);
  TMPCPlay p;
  EXPECT_EQ(p.Devicenames(), (QStringList{"", "Headphones"}));
}

TEST_F(Properties, VolumesReadAndWriteTheHalvesOfTheDevicesVolumeWord) {
  TMPCPlay p;
  p.set_DeviceID(1);
  p.set_BothVolume(0x1234);
  EXPECT_EQ(p.LeftVolume(), 0x1234);
  EXPECT_EQ(p.RightVolume(), 0x1234);
  p.set_LeftVolume(0xAAAA);
  EXPECT_EQ(p.LeftVolume(), 0xAAAA);
  EXPECT_EQ(p.RightVolume(), 0x1234);
  p.set_RightVolume(0x5555);
  uint32_t word = 0;
  ASSERT_EQ(waveOutGetVolume(1, &word), MMSYSERR_NOERROR);
  EXPECT_EQ(word, 0x5555AAAAu);
  // Another device keeps its own.
  p.set_DeviceID(0);
  EXPECT_EQ(p.LeftVolume(), 0xFFFF);
  EXPECT_EQ(p.RightVolume(), 0xFFFF);
  // A refused query reads as 0, and a refused write changes nothing.
  p.set_DeviceID(1);
  tb->set_failure(waveout_op::get_volume, MMSYSERR_ERROR, 1);
  EXPECT_EQ(p.LeftVolume(), 0);
  tb->set_failure(waveout_op::set_volume, MMSYSERR_ERROR, 1);
  EXPECT_NO_THROW(p.set_BothVolume(0));
  EXPECT_EQ(p.LeftVolume(), 0xAAAA);
  p.set_BothVolume(0xFFFF);
}

TEST_F(Properties, ErrorTextIsTheServicesTextWithoutFill) {
  TMPCPlay p;
  char16_t expected[128] = {};
  waveOutGetErrorTextW(WAVERR_BADFORMAT, expected, 128);
  const QString t = p.ErrorText(static_cast<int32_t>(WAVERR_BADFORMAT));
  EXPECT_EQ(t, QString::fromUtf16(expected));
  EXPECT_FALSE(t.contains(QChar(0)));
  EXPECT_EQ(t, "The output device cannot play this sample format.");
  EXPECT_EQ(p.ErrorText(-1), "Unknown sound system error 4294967295.");
}

}  // namespace
}  // namespace murmelin::testing
