// SPDX-License-Identifier: GPL-3.0-or-later
// The waveform-audio output service: a waveOut-style API over an exchangeable backend.
//
// Semantics every backend shares (they live in this layer, not in the backends):
// - buffers play in the order they were written;
// - the open, done and close notifications are posted as messages to the hidden window given
//   at open (MM_WOM_OPEN / MM_WOM_DONE / MM_WOM_CLOSE, wParam = the device handle, lParam = the
//   header for done) and are handled by that window's event loop, never inside the call that
//   caused them;
// - waveOutReset hands every queued buffer back as done; after it returns, no backend thread
//   touches any of those buffers again;
// - waveOutUnprepareHeader of a still-queued buffer fails with WAVERR_STILLPLAYING;
// - an unknown handle fails with MMSYSERR_INVALHANDLE, an unknown device number with
//   MMSYSERR_BADDEVICEID, a format the backend cannot open with WAVERR_BADFORMAT.
// - a stream whose sound server or output goes away reports WAVERR_LOST once, on the next
//   waveOutWrite; buffers written after that stay queued, silent, until waveOutReset, so one
//   loss makes one error.
// The functions are called from the UI thread: the sound-server backend runs on its event loop
// and waits at most about a second inside a call (WAVERR_NOANSWER after that).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "hidden_window.h"

namespace murmelin {

using MMRESULT = uint32_t;
using HWAVEOUT = uint32_t;

// Result codes.
constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;         // unspecified failure
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;   // no device with this number
constexpr MMRESULT MMSYSERR_NOTENABLED = 3;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;     // device busy
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;   // not an open device handle
constexpr MMRESULT MMSYSERR_NODRIVER = 6;      // the sound system is not available
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
constexpr MMRESULT MMSYSERR_BADERRNUM = 9;     // unknown result code
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT WAVERR_BADFORMAT = 32;      // format not supported
constexpr MMRESULT WAVERR_STILLPLAYING = 33;   // buffers are still queued
constexpr MMRESULT WAVERR_UNPREPARED = 34;     // header not prepared
constexpr MMRESULT WAVERR_SYNC = 35;
// Our own codes, for what a sound server adds to a sound card's failures.
constexpr MMRESULT WAVERR_NOANSWER = 64;       // the sound server did not answer in time
constexpr MMRESULT WAVERR_LOST = 65;           // the server or the output went away while open

// Device number that selects the default output device.
constexpr uint32_t WAVE_MAPPER = 0xFFFFFFFFu;

// waveOutOpen flags.
constexpr uint32_t CALLBACK_NULL = 0x00000u;
constexpr uint32_t CALLBACK_WINDOW = 0x10000u;

// Notification message numbers.
constexpr uint32_t MM_WOM_OPEN = 0x3BB;
constexpr uint32_t MM_WOM_CLOSE = 0x3BC;
constexpr uint32_t MM_WOM_DONE = 0x3BD;

constexpr uint16_t WAVE_FORMAT_PCM = 1;

// Header flags.
constexpr uint32_t WHDR_DONE = 0x01;
constexpr uint32_t WHDR_PREPARED = 0x02;
constexpr uint32_t WHDR_BEGINLOOP = 0x04;
constexpr uint32_t WHDR_ENDLOOP = 0x08;
constexpr uint32_t WHDR_INQUEUE = 0x10;

// The PCM format of a stream. Only 16-bit PCM is supported.
struct WAVEFORMATEX {
  uint16_t wFormatTag = 0;
  uint16_t nChannels = 0;
  uint32_t nSamplesPerSec = 0;
  uint32_t nAvgBytesPerSec = 0;
  uint16_t nBlockAlign = 0;
  uint16_t wBitsPerSample = 0;
  uint16_t cbSize = 0;
};

// One buffer handed to the device. lpData, dwBufferLength, dwUser, dwLoops belong to the
// caller; dwFlags, lpNext and reserved belong to the service while the header is prepared.
struct WAVEHDR {
  char* lpData = nullptr;
  uint32_t dwBufferLength = 0;
  uint32_t dwBytesRecorded = 0;
  uintptr_t dwUser = 0;
  uint32_t dwFlags = 0;
  uint32_t dwLoops = 0;
  WAVEHDR* lpNext = nullptr;
  uintptr_t reserved = 0;
};

// Output capabilities. szPname is the device's whole name (sound servers give outputs long
// names that differ only at their end, so nothing is cut off).
struct WAVEOUTCAPSW {
  uint16_t wMid = 0;
  uint16_t wPid = 0;
  uint32_t vDriverVersion = 0;
  std::u16string szPname;
  uint32_t dwFormats = 0;
  uint16_t wChannels = 0;
  uint16_t wReserved1 = 0;
  uint32_t dwSupport = 0;
};

// The service's functions. uDeviceID takes a device number, WAVE_MAPPER, or (for the volume
// functions) an open handle.
uint32_t waveOutGetNumDevs();
MMRESULT waveOutGetDevCapsW(uintptr_t uDeviceID, WAVEOUTCAPSW* pwoc, uint32_t cbwoc);
MMRESULT waveOutOpen(HWAVEOUT* phwo, uint32_t uDeviceID, const WAVEFORMATEX* pwfx,
                     uintptr_t dwCallback, uintptr_t dwInstance, uint32_t fdwOpen);
MMRESULT waveOutPause(HWAVEOUT hwo);
MMRESULT waveOutRestart(HWAVEOUT hwo);
MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, uint32_t cbwh);
MMRESULT waveOutWrite(HWAVEOUT hwo, WAVEHDR* pwh, uint32_t cbwh);
MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, uint32_t cbwh);
MMRESULT waveOutReset(HWAVEOUT hwo);
MMRESULT waveOutClose(HWAVEOUT hwo);
// Writes the text of a result code, ended by a zero, into pszText (at most cchText units).
MMRESULT waveOutGetErrorTextW(MMRESULT mmrError, char16_t* pszText, uint32_t cchText);
// The volume word: left channel in the low 16 bits, right channel in the high 16 bits;
// 0xFFFF is full volume. Kept per device (an open handle stands for its device).
MMRESULT waveOutGetVolume(uintptr_t hwoOrDevice, uint32_t* pdwVolume);
MMRESULT waveOutSetVolume(uintptr_t hwoOrDevice, uint32_t dwVolume);

// ---- Our own helpers -------------------------------------------------------------------

// Closes an open handle whatever state it is in, without notifications: drops every queued
// buffer and stops the backend from touching them.
// Used when an owner must let go of its buffers (destruction after a failed close).
void waveout_force_close(HWAVEOUT hwo);

}  // namespace murmelin
