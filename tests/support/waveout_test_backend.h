// SPDX-License-Identifier: GPL-3.0-or-later
// The test backend of the wave output service: devices with chosen names, buffers "played"
// only when the test says so, and any operation made to fail with a chosen result code.
//
// Typical use (with a QCoreApplication / QGuiApplication running):
//
//   auto tb = std::make_shared<waveout_test_backend>(QStringList{"Speakers", "Headphones"});
//   waveout_use_backend(tb);            // process-wide; waveout_use_backend(nullptr) restores the default
//   ... player.Run();
//   tb->queued_count();                 // buffers waiting on the current stream
//   tb->play_next();                    // plays the oldest one; its done message is posted
//   QCoreApplication::sendPostedEvents(); // the player handles it (refills, queues again)
//   tb->played();                       // what was played, buffer by buffer
//   tb->set_failure(waveout_op::write, MMSYSERR_NOMEM);      // every write fails from now on
//   tb->set_failure(waveout_op::reset, MMSYSERR_ERROR, 1);   // only the next reset fails
//
// waveout_test_backend_scope does the selection and restores the default backend when it ends.
// Built only into the test library murmelin_waveout_test.
// All members are meant to be called from the test's (UI) thread.
#pragma once

#include <QStringList>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "waveout_backend.h"

namespace murmelin {

class waveout_test_backend : public waveout_backend,
                             public std::enable_shared_from_this<waveout_test_backend> {
public:
  // One buffer as it was played.
  struct played_buffer {
    HWAVEOUT handle = 0;           // the stream it was played on
    uintptr_t user = 0;            // the header's dwUser
    std::vector<int16_t> samples;  // its first dwBufferLength / 2 samples
  };

  explicit waveout_test_backend(QStringList device_names = {"Test device"});
  ~waveout_test_backend() override;

  // ---- configuration
  // The device list, in device-number order (names of any length, reported whole).
  void set_devices(QStringList device_names);
  // Name reported for WAVE_MAPPER.
  void set_default_device_name(QString name);
  // The formats the devices can play (every checked 16-bit PCM format by default); open of a
  // format the filter refuses fails with WAVERR_BADFORMAT.
  void set_format_filter(std::function<bool(const WAVEFORMATEX&)> accepts);
  // Makes `op` fail with `code`: the next `times` calls, or every call when times < 0.
  // A code of 0 removes the failure.
  void set_failure(waveout_op op, MMRESULT code, int times = -1);
  void clear_failures();
  // Number of calls of `op` that reached the backend (failed by injection or not).
  int call_count(waveout_op op) const;

  // ---- inspection of the streams
  int open_count() const;           // successful opens so far
  int open_streams() const;         // streams open now
  // The most recently opened stream that is still open; 0 when none is.
  HWAVEOUT current_handle() const;
  uint32_t last_device() const;     // device number of the last successful open
  WAVEFORMATEX last_format() const; // format of the last successful open
  // Queue state of a stream (the current one by default); 0 / false when not open.
  int queued_count(HWAVEOUT h = 0) const;
  bool is_paused(HWAVEOUT h = 0) const;

  // ---- playing
  // Plays the oldest queued buffer of a stream (the current one by default) whole and posts
  // its done message. Returns false when the stream is not open, is paused or has nothing queued.
  bool play_next(HWAVEOUT h = 0);
  // Plays `bytes` of a stream the way a sound server asks for data: a request may end inside
  // a buffer, and a queue that ends inside a frame is completed with silence. Appends what
  // was played to played_bytes(); returns how many bytes that was.
  std::size_t play_request(std::size_t bytes, HWAVEOUT h = 0);
  const std::vector<uint8_t>& played_bytes() const { return fplayed_bytes; }
  // Plays queued buffers until none is left or `limit` have played; returns how many played.
  int play_all(HWAVEOUT h = 0, int limit = 1000000);
  // The stream's output goes away (as when the sound server ends): the service is told, as a
  // real backend tells it. False when the stream is not open.
  bool lose_stream(HWAVEOUT h = 0, MMRESULT code = WAVERR_LOST);
  // Everything played so far, in order.
  const std::vector<played_buffer>& played() const { return fplayed; }
  // The samples of every played buffer, one after the other.
  std::vector<int16_t> played_samples() const;
  void clear_played() { fplayed.clear(); }
  // Whether play_next keeps what it played (on by default). Off, playing allocates nothing,
  // for tests that look at the allocations of a steady playback.
  void set_keep_played(bool keep) { fkeep_played = keep; }

  // ---- waveout_backend
  uint32_t device_count() override;
  std::u16string device_name(uint32_t d) override;
  MMRESULT open(HWAVEOUT handle, uint32_t d, const WAVEFORMATEX& fmt, waveout_source& source,
                std::unique_ptr<waveout_output>& out) override;
  MMRESULT precheck(waveout_op op) override;

private:
  class output;
  friend class output;
  struct stream {
    waveout_source* source = nullptr;
    uint32_t block_align = 2;
  };
  struct failure {
    MMRESULT code = 0;
    int times = -1;
  };
  stream* find_stream(HWAVEOUT h);
  const stream* find_stream(HWAVEOUT h) const;

  QStringList fdevices;
  QString fdefault_name = "Default test device";
  std::function<bool(const WAVEFORMATEX&)> faccepts;
  std::map<waveout_op, failure> ffailures;
  std::map<waveout_op, int> fcalls;
  std::map<HWAVEOUT, stream> fstreams;
  std::vector<HWAVEOUT> fopen_order;
  int fopen_count = 0;
  uint32_t flast_device = 0;
  WAVEFORMATEX flast_format;
  std::vector<played_buffer> fplayed;
  bool fkeep_played = true;
  std::vector<uint8_t> fscratch;
  std::vector<uint8_t> fplayed_bytes;
};

// Selects a test backend for its lifetime and restores the default backend afterwards.
class waveout_test_backend_scope {
public:
  explicit waveout_test_backend_scope(QStringList device_names = {"Test device"});
  ~waveout_test_backend_scope();
  waveout_test_backend_scope(const waveout_test_backend_scope&) = delete;
  waveout_test_backend_scope& operator=(const waveout_test_backend_scope&) = delete;
  waveout_test_backend& operator*() const { return *fbackend; }
  waveout_test_backend* operator->() const { return fbackend.get(); }
  std::shared_ptr<waveout_test_backend> get() const { return fbackend; }

private:
  std::shared_ptr<waveout_test_backend> fbackend;
};

}  // namespace murmelin
