// SPDX-License-Identifier: GPL-3.0-or-later
// What lies under the wave output service: the backend interface, the queue side of an open
// stream that a backend plays from, and the choice of backend. The player never sees this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "waveout.h"

namespace murmelin {

// Operations the service asks a backend about before doing them (waveout_backend::precheck).
enum class waveout_op {
  get_dev_caps, open, pause, restart, prepare, write, unprepare, reset, close, get_error_text,
  get_volume, set_volume,
};

// The queue side of an open stream, handed to the backend at open. Thread-safe.
class waveout_source {
public:
  virtual ~waveout_source() = default;
  // Copies up to `bytes` bytes of queued data into dst, in order, and hands every buffer that
  // is used up back as done. Returns the number of bytes copied; 0 while paused. A short
  // count while not paused counts as an underrun.
  virtual std::size_t pull(void* dst, std::size_t bytes) = 0;
  // As pull(), for a backend that writes only what it has (a short count is no underrun):
  // copies up to `bytes` (a multiple of align), and when the queue runs dry inside a frame,
  // completes that frame with zeros. Returns a multiple of align.
  virtual std::size_t take(void* dst, std::size_t bytes, std::size_t align) = 0;
  // Takes the rest of the oldest queued buffer whole, in place of pull(): appends its bytes to
  // data, sets user to its dwUser and hands it back as done. False while paused or empty.
  virtual bool pull_buffer(std::vector<uint8_t>& data, uintptr_t& user) = 0;
  // Number of buffers queued and not yet handed back; whether the stream is paused.
  virtual int queued_buffers() const = 0;
  virtual bool is_paused() const = 0;
  // The current volume word of the stream's device.
  virtual uint32_t volume() const = 0;
  // The output is gone for good (server or device lost): the next waveOutWrite reports code,
  // and the oldest queued buffer is handed back now so that its owner finds out soon.
  virtual void fail(MMRESULT code) = 0;
  // The output ran dry while playing (for outputs that learn it from elsewhere than pull()).
  virtual void count_underrun() = 0;
};

// One open stream of a backend: destroying it stops the backend from pulling any more data;
// the destructor returns only when no backend thread is inside pull() or take(). The service
// tells it about changes of the queue, never while holding the stream's lock.
class waveout_output {
public:
  virtual ~waveout_output() = default;
  // A buffer was queued.
  virtual void queued() {}
  // Playback was held (waveOutPause) or goes on (waveOutRestart).
  virtual void set_paused(bool) {}
  // Every queued buffer was handed back (waveOutReset): drop what the output still holds.
  virtual void reset() {}
};

class waveout_backend {
public:
  virtual ~waveout_backend() = default;
  // Number of output devices, numbered from 0. Reads the list anew.
  virtual uint32_t device_count() = 0;
  // Whether device number d exists in the list as last read.
  virtual bool has_device(uint32_t d) { return d < device_count(); }
  // Name of device d (from the list as last read, or WAVE_MAPPER for the default device).
  virtual std::u16string device_name(uint32_t d) = 0;
  // Opens device d (or WAVE_MAPPER) with a checked 16-bit PCM format; the stream pulls its data
  // from source. Returns MMSYSERR_NOERROR and sets out, or a result code
  // (MMSYSERR_BADDEVICEID for no such device, WAVERR_BADFORMAT for a format the device cannot
  // play).
  virtual MMRESULT open(HWAVEOUT handle, uint32_t d, const WAVEFORMATEX& fmt,
                        waveout_source& source, std::unique_ptr<waveout_output>& out) = 0;
  // Asked before each operation; a non-zero code makes it fail with that code before it does
  // anything. Real backends never refuse here.
  virtual MMRESULT precheck(waveout_op) { return MMSYSERR_NOERROR; }
};

// Selects the backend for the whole process; nullptr restores the default backend.
// Streams open at the time stay on the backend they were opened with.
void waveout_use_backend(std::shared_ptr<waveout_backend> backend);
// The backend in use (creates the default backend on first use).
std::shared_ptr<waveout_backend> waveout_current_backend();

// The default backend: the sound server (PulseAudio protocol, also PipeWire's) on the UI
// thread's event loop, with SDL2 in its place whenever no sound server answers (chosen anew at
// every open and every reading of the device list). Made and used on the UI thread only.
std::shared_ptr<waveout_backend> make_default_waveout_backend();
// The SDL2 backend alone.
std::shared_ptr<waveout_backend> make_sdl_waveout_backend();

// Number of times an output ran dry while playing (underruns), summed over every stream since
// the process started.
uint64_t waveout_underruns();

// Applies a volume word as gain to interleaved 16-bit frames: channel 0 (and every even
// channel) gets the left half, channel 1 (and every odd channel) the right half.
void waveout_apply_volume(int16_t* samples, std::size_t count, uint32_t channels,
                          uint32_t volume);

}  // namespace murmelin
