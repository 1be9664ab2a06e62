// SPDX-License-Identifier: GPL-3.0-or-later
// TMPCPlay: plays a stream of 16-bit PCM samples on one wave output device ("the board").
// It keeps a fixed ring of buffers; before a buffer is queued, the owner fills it through the
// refill event OnStash, and each buffer the device hands back is refilled and queued again,
// until the owner calls Stop or marks a buffer as the last one.
#pragma once

#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "TComponent.h"
#include "exceptions.h"
#include "hidden_window.h"
#include "sdbra_types.h"
#include "waveout.h"

namespace murmelin {

// The refill callback. arr: the buffer itself, to be written in place (not resized).
// used: arrives as arr's length; may be lowered to the number of values written (values
// outside 0 .. length are clamped); 0 ends the stream at once with one silent frame.
// last: arrives false; true makes this the stream's last buffer.
using TMPCStash = std::function<void(TWaveChunk& arr, int32_t& used, bool& last)>;
using TMPCPlayOpened = std::function<void()>;
using TMPCPlayClosed = std::function<void()>;
using TMPCPlayMsg = std::function<void(TMessage& Msg)>;

class EMPCError : public Exception {
public:
  using Exception::Exception;
};

class TMPCPlay : public TComponent {
public:
  // dwUser of the buffer that ends the stream.
  static constexpr uintptr_t end_marker = 100000000;
  static constexpr int32_t max_buffers = 1000;

  explicit TMPCPlay(TComponent* aowner = nullptr);
  // Stops the device first when the player still owns it.
  ~TMPCPlay() override;

  // Length of every buffer in 16-bit values over all channels. Negative: range error, value
  // kept. While owning the board: EMPCError, nothing changed.
  int32_t nChunkSamples() const { return fnchunksamples; }
  void set_nChunkSamples(int32_t value);
  // Channels, at least 1. While owning the board: EMPCError, nothing changed.
  int32_t nChans() const { return fnchans; }
  void set_nChans(int32_t value);
  // Sample values per second over all channels, at least 1. While owning: EMPCError.
  int32_t sfTot() const { return fsftot; }
  void set_sfTot(int32_t value);
  // Number of buffers, at most 1000. Negative: range error, value kept. While owning: EMPCError.
  int32_t nBuffers() const { return fnbufs; }
  void set_nBuffers(int32_t value);

  const TMPCStash& OnStash() const { return fonstash; }
  void set_OnStash(TMPCStash v) { fonstash = std::move(v); }
  const TMPCPlayOpened& OnOpened() const { return fonopened; }
  void set_OnOpened(TMPCPlayOpened v) { fonopened = std::move(v); }
  const TMPCPlayClosed& OnClosed() const { return fonclosed; }
  void set_OnClosed(TMPCPlayClosed v) { fonclosed = std::move(v); }
  const TMPCPlayMsg& OnMsg() const { return fonmsg; }
  void set_OnMsg(TMPCPlayMsg v) { fonmsg = std::move(v); }

  bool OwnBoard() const { return fownboard; }
  // The device the next open uses and whose volume is read or set; -1 is the default device.
  int32_t DeviceID() const { return static_cast<int32_t>(fdeviceid); }
  void set_DeviceID(int32_t value) { fdeviceid = static_cast<uint32_t>(value); }
  // Asks the service on every read.
  int32_t nDevices() const;
  // The device names as last read.
  const QStringList& Devicenames() const { return fdevicenames; }

  uint16_t LeftVolume() const;
  void set_LeftVolume(uint16_t value);
  uint16_t RightVolume() const;
  void set_RightVolume(uint16_t value);
  void set_BothVolume(uint16_t value);

  // Opens the device, fills and queues every buffer, starts playback. Does nothing while the
  // player already owns the device. Raises EMPCError.
  void Run();
  // Stops playback and closes the device; nothing when the player does not own it.
  void Stop();
  // The service's text for a result code.
  QString ErrorText(int32_t errornumber);
  // Reads the device list again.
  void read_devicenames();

  // ---- read access for tests and diagnostics
  const WAVEFORMATEX& waveformat() const { return wavefmt; }
  HWND window_handle() const { return fhandle; }
  HWAVEOUT device_handle() const { return fwaveouthandle; }
  const std::vector<TWaveChunk>& buffers() const { return farr; }
  const std::vector<WAVEHDR>& headers() const { return waveheader; }
  // The end of the stream has been flagged (meaningful while owning the board).
  bool draining() const { return sendnomore; }

private:
  void set_waveformat();
  void acquire_board();
  void send_chunk(int32_t i);
  void wndproc(TMessage& Msg);
  void release_board();
  [[noreturn]] void raise_device_error(const char* label, MMRESULT code);
  uint32_t read_volume() const;

  WAVEFORMATEX wavefmt;
  std::vector<WAVEHDR> waveheader;
  std::vector<WAVEOUTCAPSW> devcaps;
  std::vector<TWaveChunk> farr;
  bool sendnomore = false;
  HWND fhandle = 0;
  HWAVEOUT fwaveouthandle = 0;
  uint32_t fdeviceid = WAVE_MAPPER;
  int32_t fnchunksamples = 0;
  TMPCPlayOpened fonopened;
  TMPCPlayClosed fonclosed;
  TMPCStash fonstash;
  TMPCPlayMsg fonmsg;
  bool fownboard = false;
  int32_t fnchans = 1;
  int32_t fsftot = 1;
  int32_t fnbufs = 0;
  QStringList fdevicenames;
  std::unique_ptr<hidden_window> fwindow;
};

}  // namespace murmelin
