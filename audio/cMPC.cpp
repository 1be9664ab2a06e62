// SPDX-License-Identifier: GPL-3.0-or-later
#include "cMPC.h"

#include <algorithm>

#include "checked_int.h"
#include "error_boundary.h"

namespace murmelin {

TMPCPlay::TMPCPlay(TComponent* aowner) : TComponent(aowner) {
  set_nChans(1);
  set_sfTot(16000);
  set_nBuffers(4);
  set_nChunkSamples(4096);
  fdeviceid = WAVE_MAPPER;
  fwindow = std::make_unique<hidden_window>([this](TMessage& m) { wndproc(m); });
  fhandle = fwindow->handle();
  fdevicenames.clear();
  set_waveformat();
  read_devicenames();
}

TMPCPlay::~TMPCPlay() {
  if (fownboard) {
    // The device must never outlive the buffers it reads from.
    try {
      release_board();
    } catch (const std::exception& e) {
      report_exception(e);
    }
    if (fownboard) {
      waveout_force_close(fwaveouthandle);
      fownboard = false;
    }
  }
  fwindow.reset();  // drops the notifications still waiting for this player
}

// ---- properties --------------------------------------------------------------------------

void TMPCPlay::set_nChunkSamples(int32_t value) {
  if (fownboard) throw EMPCError("Cannot change nChunkSamples while owning board");
  if (value < 0) throw ERangeError();
  fnchunksamples = value;
  for (auto& b : farr) b.resize(static_cast<std::size_t>(value));
}

void TMPCPlay::set_nBuffers(int32_t value) {
  if (fownboard) throw EMPCError("Cannot change nBuffers while owning board");
  if (value < 0) throw ERangeError();
  if (value >= max_buffers) value = max_buffers;
  fnbufs = value;
  farr.resize(static_cast<std::size_t>(value));
  waveheader.resize(static_cast<std::size_t>(value));
  for (auto& b : farr) b.resize(static_cast<std::size_t>(fnchunksamples));
}

void TMPCPlay::set_nChans(int32_t value) {
  if (fownboard) throw EMPCError("Cannot change nChans while owning board");
  if (value < 1) value = 1;
  const int32_t old = fnchans;
  fnchans = value;
  try {
    set_waveformat();
  } catch (...) {
    fnchans = old;  // the value and the format in use stay consistent
    throw;
  }
}

void TMPCPlay::set_sfTot(int32_t value) {
  if (fownboard) throw EMPCError("Cannot change sfTot while owning board");
  if (value < 1) value = 1;
  const int32_t old = fsftot;
  fsftot = value;
  try {
    set_waveformat();
  } catch (...) {
    fsftot = old;
    throw;
  }
}

void TMPCPlay::set_waveformat() {
  // Built completely before it replaces the format in use.
  WAVEFORMATEX f;
  f.wFormatTag = WAVE_FORMAT_PCM;
  if (fnchans > 0xFFFF) throw ERangeError();
  f.nChannels = static_cast<uint16_t>(fnchans);
  f.nSamplesPerSec = static_cast<uint32_t>(fsftot / fnchans);
  f.wBitsPerSample = 16;
  uint32_t values, bits;
  if (__builtin_mul_overflow(static_cast<uint32_t>(f.nChannels), f.nSamplesPerSec, &values) ||
      __builtin_mul_overflow(values, 16u, &bits))
    throw EIntOverflow();
  f.nAvgBytesPerSec = bits / 8;
  const uint32_t align = static_cast<uint32_t>(f.nChannels) * 16u / 8u;
  if (align > 0xFFFF) throw ERangeError();
  f.nBlockAlign = static_cast<uint16_t>(align);
  f.cbSize = 0;
  wavefmt = f;
}

int32_t TMPCPlay::nDevices() const {
  const uint32_t n = waveOutGetNumDevs();
  return n > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int32_t>(n);
}

void TMPCPlay::read_devicenames() {
  fdevicenames.clear();
  const uint32_t n = waveOutGetNumDevs();
  devcaps.assign(n, WAVEOUTCAPSW{});
  for (uint32_t d = 0; d < n; ++d) {
    waveOutGetDevCapsW(d, &devcaps[d], sizeof(WAVEOUTCAPSW));
    const std::u16string& name = devcaps[d].szPname;
    // The name ends at its first zero, if it holds one.
    const auto len = static_cast<qsizetype>(std::min(name.find(u'\0'), name.size()));
    fdevicenames.append(QString::fromUtf16(name.data(), len));
  }
}

// ---- volumes -----------------------------------------------------------------------------

uint32_t TMPCPlay::read_volume() const {
  uint32_t v = 0;  // what a refused query reads as
  waveOutGetVolume(fdeviceid, &v);
  return v;
}

uint16_t TMPCPlay::LeftVolume() const { return static_cast<uint16_t>(read_volume() & 0xFFFFu); }

uint16_t TMPCPlay::RightVolume() const { return static_cast<uint16_t>(read_volume() >> 16); }

void TMPCPlay::set_LeftVolume(uint16_t value) {
  const uint32_t v = (read_volume() & 0xFFFF0000u) | value;
  waveOutSetVolume(fdeviceid, v);
}

void TMPCPlay::set_RightVolume(uint16_t value) {
  const uint32_t v = (read_volume() & 0x0000FFFFu) | (static_cast<uint32_t>(value) << 16);
  waveOutSetVolume(fdeviceid, v);
}

void TMPCPlay::set_BothVolume(uint16_t value) {
  waveOutSetVolume(fdeviceid, (static_cast<uint32_t>(value) << 16) | value);
}

// ---- errors ------------------------------------------------------------------------------

QString TMPCPlay::ErrorText(int32_t errornumber) {
  char16_t text[128] = {};
  waveOutGetErrorTextW(static_cast<MMRESULT>(errornumber), text, 128);
  qsizetype len = 0;
  while (len < 128 && text[len] != 0) ++len;
  return QString::fromUtf16(text, len);
}

void TMPCPlay::raise_device_error(const char* label, MMRESULT code) {
  throw EMPCError(std::string(label) + ErrorText(static_cast<int32_t>(code)).toStdString());
}

// ---- playing -----------------------------------------------------------------------------

void TMPCPlay::acquire_board() {
  if (fownboard) return;
  HWAVEOUT h = 0;
  const MMRESULT r = waveOutOpen(&h, fdeviceid, &wavefmt, fhandle, 0, CALLBACK_WINDOW);
  if (r != MMSYSERR_NOERROR) raise_device_error("WaveOutOpen:", r);
  fwaveouthandle = h;
  fownboard = true;
}

void TMPCPlay::Run() {
  if (!fonstash) throw EMPCError("Nothing assigned to OnStash!");
  if (fownboard) return;  // already playing or draining
  sendnomore = false;
  acquire_board();
  const HWAVEOUT h = fwaveouthandle;
  waveOutPause(h);
  for (int32_t i = 0; i < fnbufs; ++i) {
    // A callback that stopped the player (and perhaps started it again) ends this filling.
    if (!fownboard || fwaveouthandle != h) return;
    send_chunk(i);
  }
  if (fownboard && fwaveouthandle == h) waveOutRestart(h);
}

void TMPCPlay::send_chunk(int32_t i) {
  if (sendnomore || !fownboard) return;
  const HWAVEOUT h = fwaveouthandle;
  TWaveChunk& buf = checked_at(farr, i);
  const int32_t len = fnchunksamples;
  int32_t used = len;
  if (fonstash) {
    fonstash(buf, used, sendnomore);
  } else {
    used = 0;  // a callback removed while playing ends the stream
  }
  if (!fownboard || fwaveouthandle != h) return;  // the callback stopped the player
  if (buf.size() != static_cast<std::size_t>(len)) buf.resize(static_cast<std::size_t>(len));
  if (used < 0) used = 0;
  if (used > len) used = len;
  if (used == 0) {
    // One frame of silence carries the end marker (nothing when a frame does not fit).
    sendnomore = true;
    used = len >= fnchans ? fnchans : 0;
    std::fill_n(buf.begin(), used, int16_t{0});
  }
  WAVEHDR& hd = waveheader[static_cast<std::size_t>(i)];
  hd.lpData = reinterpret_cast<char*>(buf.data());
  hd.dwBufferLength = static_cast<uint32_t>(used) * 2u;
  hd.dwLoops = 1;
  hd.dwFlags = 0;
  hd.dwUser = sendnomore ? end_marker : static_cast<uintptr_t>(i);
  MMRESULT r = waveOutPrepareHeader(h, &hd, sizeof(WAVEHDR));
  if (r != MMSYSERR_NOERROR) raise_device_error("WaveOutPrepareHeader:", r);
  r = waveOutWrite(h, &hd, sizeof(WAVEHDR));
  if (r != MMSYSERR_NOERROR) raise_device_error("WaveOutWrite:", r);
}

void TMPCPlay::wndproc(TMessage& Msg) {
  if (fonmsg) fonmsg(Msg);
  switch (Msg.Msg) {
    case MM_WOM_OPEN:
      if (fonopened) fonopened();
      break;
    case MM_WOM_CLOSE:
      if (fonclosed) fonclosed();
      break;
    case MM_WOM_DONE: {
      // Only notifications of the current playback count; anything else (left over from a
      // stopped playback) is ignored before its header is looked at.
      if (!fownboard || Msg.WParam != fwaveouthandle) break;
      const auto addr = static_cast<uintptr_t>(Msg.LParam);
      const auto base = reinterpret_cast<uintptr_t>(waveheader.data());
      if (waveheader.empty() || addr < base || (addr - base) % sizeof(WAVEHDR) != 0 ||
          (addr - base) / sizeof(WAVEHDR) >= waveheader.size())
        break;
      const auto i = static_cast<int32_t>((addr - base) / sizeof(WAVEHDR));
      WAVEHDR& hd = waveheader[static_cast<std::size_t>(i)];
      const uintptr_t user = hd.dwUser;
      const MMRESULT r = waveOutUnprepareHeader(fwaveouthandle, &hd, sizeof(WAVEHDR));
      if (r != MMSYSERR_NOERROR) raise_device_error("WaveOutUnPrepareHeader:", r);
      if (user == end_marker) {
        release_board();
      } else {
        send_chunk(i);
      }
      break;
    }
    default:
      Msg.Result = def_window_proc(fhandle, Msg.Msg, Msg.WParam, Msg.LParam);
      break;
  }
}

void TMPCPlay::release_board() {
  if (!fownboard) return;
  const HWAVEOUT h = fwaveouthandle;
  MMRESULT r = waveOutReset(h);
  if (r != MMSYSERR_NOERROR) raise_device_error("WaveOutReset:", r);
  // The buffers the reset hands back are never refilled, even when closing fails below and
  // the player still owns the device when their notifications arrive.
  sendnomore = true;
  for (auto& hd : waveheader) {
    r = waveOutUnprepareHeader(h, &hd, sizeof(WAVEHDR));
    if (r != MMSYSERR_NOERROR) raise_device_error("WaveOutUnPrepareHeader:", r);
  }
  r = waveOutClose(h);
  if (r != MMSYSERR_NOERROR) raise_device_error("WaveOutClose:", r);
  fownboard = false;
}

void TMPCPlay::Stop() { release_board(); }

}  // namespace murmelin
