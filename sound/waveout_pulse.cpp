// SPDX-License-Identifier: GPL-3.0-or-later
// The sound-server backend of the wave output service, and the default backend that falls back
// to SDL2 when no sound server answers.
//
// libpulse's asynchronous API runs on the UI thread's Qt event loop (pa_qt_mainloop): the
// server asks for data, the write callback copies at most that much from the queued buffers,
// and each buffer used up goes back to its owner as a done message.
// No thread of our own exists. Calls that must answer at once (open, the device list) wait on
// the connection's own descriptors for at most open_wait_ms.
//
// Stream attributes are times, converted at the stream's rate, so that every rate plays the
// same: the server holds about 2 s (target length) and asks for more in requests of about
// 0.5 s (minimum request), so the program wakes about twice a second while playing; the
// first write starts playback at once (a small prebuffer). Stop stays prompt because it
// flushes what the server holds. The player keeps only a few short buffers queued, so one
// request is served over several turns of the event loop: every buffer used up goes back and
// is refilled. While the server still holds more than half its target, what those turns
// bring is gathered and written once the request is whole, so the server wakes once a
// request; when it holds less (at the start, or after a late turn) every turn writes at once.
#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/stream.h>

#include <QCoreApplication>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "pa_qt_mainloop.h"
#include "waveout_backend.h"

namespace murmelin {

namespace {

constexpr int open_wait_ms = 1000;
constexpr uint64_t target_ms = 2000;
constexpr uint64_t request_ms = 500;
constexpr uint64_t prebuffer_ms = 20;
// The player's own buffer (its usual size): the server never asks for less than one at a
// time, whatever the rate.
constexpr uint64_t player_buffer_frames = 2048;

// The stream attributes for a rate, in bytes of frame_bytes each.
pa_buffer_attr stream_attributes(uint32_t rate, uint32_t frame_bytes) {
  const auto frames = [rate](uint64_t ms) { return std::max<uint64_t>(1, rate * ms / 1000); };
  const uint64_t minreq = std::max(frames(request_ms), player_buffer_frames);
  const uint64_t tlength = std::max(frames(target_ms), 4 * minreq);
  const uint64_t prebuf = std::min(frames(prebuffer_ms), player_buffer_frames);
  const auto bytes = [frame_bytes](uint64_t n) {
    return static_cast<uint32_t>(std::min<uint64_t>(n * frame_bytes, UINT32_MAX / 2));
  };
  pa_buffer_attr attr;
  attr.maxlength = static_cast<uint32_t>(-1);
  attr.tlength = bytes(tlength);
  attr.prebuf = bytes(prebuf);
  attr.minreq = bytes(minreq);
  attr.fragsize = static_cast<uint32_t>(-1);
  return attr;
}

class pulse_backend;

class pulse_output final : public waveout_output {
public:
  pulse_output(pulse_backend& b, pa_qt_mainloop& loop, waveout_source& src, uint32_t channels)
      : fbackend(b), floop(loop), fsource(src), fchannels(channels), fframe(channels * 2u) {}
  ~pulse_output() override;

  // Creates and connects the stream; true when connecting has begun.
  bool start(pa_context* ctx, const WAVEFORMATEX& fmt, const char* sink);
  pa_stream_state_t state() const { return fstream ? pa_stream_get_state(fstream) : PA_STREAM_FAILED; }

  // Buffers queued in one turn of the event loop (the player refills each buffer that came
  // back in a handler of its own) go to the server together: a deferred event of the loop
  // serves them once the handlers already waiting have run.
  void queued() override {
    if (live() && fserve_soon) floop.api()->defer_enable(fserve_soon, 1);
  }
  void set_paused(bool paused) override {
    if (!live()) return;
    floop.dispatch([this, paused] {
      if (paused && !write_staged()) return;
      pa_operation* op = pa_stream_cork(fstream, paused ? 1 : 0, &pulse_output::on_done, this);
      if (track(op) && !paused) serve();
    });
  }
  void reset() override {
    fstaged = 0;
    if (!live()) return;
    if (pa_operation* op = pa_stream_flush(fstream, nullptr, nullptr)) pa_operation_unref(op);
  }

  // The server or the output went away: tell the owner once.
  void lost() {
    if (flost) return;
    flost = true;
    fsource.fail(WAVERR_LOST);
  }

  // Lets go of the stream at once, without waiting for the server.
  void detach() {
    if (fserve_soon) {
      floop.api()->defer_free(fserve_soon);
      fserve_soon = nullptr;
    }
    for (pa_operation* op : fops) {
      pa_operation_cancel(op);
      pa_operation_unref(op);
    }
    fops.clear();
    if (!fstream) return;
    pa_stream_set_state_callback(fstream, nullptr, nullptr);
    pa_stream_set_write_callback(fstream, nullptr, nullptr);
    pa_stream_set_underflow_callback(fstream, nullptr, nullptr);
    if (pa_stream_get_state(fstream) == PA_STREAM_READY ||
        pa_stream_get_state(fstream) == PA_STREAM_CREATING)
      pa_stream_disconnect(fstream);
    pa_stream_unref(fstream);
    fstream = nullptr;
  }

private:
  bool live() const { return fstream && !flost && pa_stream_get_state(fstream) == PA_STREAM_READY; }

  // Takes as much of what the server asked for as the queue holds into the stage, and writes
  // the stage when it holds the whole request (or is full), or at once while the server
  // runs low. What is left is taken when the next buffer is queued or playback goes on.
  void serve() {
    if (!live()) return;
    std::size_t want = pa_stream_writable_size(fstream);
    if (want == static_cast<std::size_t>(-1)) return;
    want -= want % fframe;
    while (want > fstaged) {
      const std::size_t goal = std::min(want, fstage.size());
      const std::size_t room = goal - fstaged;
      const std::size_t got = fsource.take(fstage.data() + fstaged, room, fframe);
      waveout_apply_volume(reinterpret_cast<int16_t*>(fstage.data() + fstaged), got / 2, fchannels,
                           fsource.volume());
      fstaged += got;
      if (fstaged < goal) break;  // the queue is empty
      want -= fstaged;
      if (!write_staged()) return;
    }
    if (fstaged > 0 && server_runs_low(want)) write_staged();
  }

  // True when the server holds less than half its target length, want being what it asked for
  // and has not had yet.
  bool server_runs_low(std::size_t want) const {
    const pa_buffer_attr* attr = pa_stream_get_buffer_attr(fstream);
    if (!attr || attr->tlength == static_cast<uint32_t>(-1)) return true;
    return want > attr->tlength / 2;
  }

  // Writes what the stage holds. The data has left the queue: a write the server refuses
  // loses it, so the stream ends as a lost one (false).
  bool write_staged() {
    const std::size_t n = std::exchange(fstaged, 0);
    if (n == 0 || !live()) return live();
    if (pa_stream_write(fstream, fstage.data(), n, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
      lost();
      return false;
    }
    return true;
  }

  static void on_state(pa_stream* s, void* self) {
    auto* o = static_cast<pulse_output*>(self);
    const pa_stream_state_t st = pa_stream_get_state(s);
    if (st == PA_STREAM_FAILED || st == PA_STREAM_TERMINATED) {
      o->lost();
    } else if (st == PA_STREAM_READY) {
      o->serve();
    }
  }
  static void on_write(pa_stream*, std::size_t, void* self) {
    static_cast<pulse_output*>(self)->serve();
  }
  static void on_serve_soon(pa_mainloop_api* api, pa_defer_event* e, void* self) {
    api->defer_enable(e, 0);
    static_cast<pulse_output*>(self)->serve();
  }
  static void on_underflow(pa_stream*, void* self) {
    auto* o = static_cast<pulse_output*>(self);
    o->fsource.count_underrun();
    o->write_staged();
  }
  // A pause or a restart that the server refused: the stream is no longer what the owner
  // believes, so it ends as a lost one.
  static void on_done(pa_stream*, int success, void* self) {
    if (!success) static_cast<pulse_output*>(self)->lost();
  }
  // Keeps an operation until it has finished, so that detach() can cancel its callback.
  // False (and the stream counts as lost) when the server could not be asked at all.
  bool track(pa_operation* op) {
    if (!op) {
      lost();
      return false;
    }
    std::erase_if(fops, [](pa_operation* o) {
      if (pa_operation_get_state(o) == PA_OPERATION_RUNNING) return false;
      pa_operation_unref(o);
      return true;
    });
    fops.push_back(op);
    return true;
  }

  pulse_backend& fbackend;
  pa_qt_mainloop& floop;
  waveout_source& fsource;
  const uint32_t fchannels;
  const std::size_t fframe;
  pa_stream* fstream = nullptr;
  bool flost = false;
  pa_defer_event* fserve_soon = nullptr;  // serves what was queued, once enabled
  // Data taken from the queue and not yet written: fstage[0, fstaged). As large as one
  // request, made when the stream is, so that playing allocates nothing.
  std::vector<uint8_t> fstage;
  std::size_t fstaged = 0;
  std::vector<pa_operation*> fops;        // running operations whose callbacks name this output
};

// The connection to the sound server, the list of its sinks, and SDL2 in its place when no
// server answers.
class pulse_backend final : public waveout_backend {
public:
  pulse_backend() {
    static bool hooked = false;
    if (!hooked) {
      hooked = true;
      qAddPostRoutine(&pulse_backend::shutdown_all);
    }
    live().insert(this);
  }
  ~pulse_backend() override {
    live().erase(this);
    shutdown();
  }

  // Lets go of the server while the event loop's timers and notifiers can still be torn
  // down: the backend may outlive the application object (it lives until the process ends).
  void shutdown() {
    for (pulse_output* o : foutputs) o->detach();
    drop_context();
  }

  uint32_t device_count() override {
    MMRESULT err = MMSYSERR_NOERROR;
    switch (choose(err)) {
      case route::server:
        read_sinks();
        break;
      case route::fallback:
        flist = route::fallback;
        fsinks.clear();
        return sdl()->device_count();
      case route::none:
        flist = route::none;
        fsinks.clear();
        break;
    }
    return static_cast<uint32_t>(fsinks.size());
  }

  bool has_device(uint32_t d) override {
    if (flist == route::none && fsinks.empty()) device_count();
    if (flist == route::fallback) return sdl()->has_device(d);
    return d < fsinks.size();
  }

  std::u16string device_name(uint32_t d) override {
    if (d == WAVE_MAPPER) return u"Default output device";
    if (flist == route::fallback) return sdl()->device_name(d);
    if (d >= fsinks.size()) return {};
    return QString::fromUtf8(fsinks[d].description.c_str()).toStdU16String();
  }

  MMRESULT open(HWAVEOUT handle, uint32_t d, const WAVEFORMATEX& fmt, waveout_source& source,
                std::unique_ptr<waveout_output>& out) override {
    MMRESULT err = MMSYSERR_NOERROR;
    const route r = choose(err);
    if (r == route::none) return err;
    if (r == route::fallback) {
      // Device numbers count in the list the user chose from; read SDL's if that was not it.
      if (flist != route::fallback) {
        flist = route::fallback;
        fsinks.clear();
        sdl()->device_count();
      }
      const MMRESULT res = sdl()->open(handle, d, fmt, source, out);
      if (res == MMSYSERR_NOERROR || res == MMSYSERR_BADDEVICEID || res == WAVERR_BADFORMAT)
        return res;
      return MMSYSERR_NODRIVER;
    }

    pa_sample_spec spec{PA_SAMPLE_S16LE, fmt.nSamplesPerSec, static_cast<uint8_t>(fmt.nChannels)};
    if (fmt.nChannels > PA_CHANNELS_MAX || !pa_sample_spec_valid(&spec)) return WAVERR_BADFORMAT;
    std::string sink;
    if (d != WAVE_MAPPER) {
      if (flist != route::server) read_sinks();
      if (d >= fsinks.size()) return MMSYSERR_BADDEVICEID;
      sink = fsinks[d].name;
    }
    auto o = std::make_unique<pulse_output>(*this, floop, source, fmt.nChannels);
    if (!o->start(fctx, fmt, sink.empty() ? nullptr : sink.c_str()))
      return error_of(pa_context_errno(fctx));
    foutputs.insert(o.get());
    const bool answered = floop.wait(
        [&] {
          const pa_stream_state_t st = o->state();
          return st != PA_STREAM_UNCONNECTED && st != PA_STREAM_CREATING;
        },
        open_wait_ms);
    if (!answered) {
      o.reset();       // unregisters itself
      drop_context();  // a server that stalls is asked anew next time
      return WAVERR_NOANSWER;
    }
    if (o->state() != PA_STREAM_READY) {
      const int e = fctx ? pa_context_errno(fctx) : PA_ERR_CONNECTIONTERMINATED;
      o.reset();
      return error_of(e);
    }
    out = std::move(o);
    return MMSYSERR_NOERROR;
  }

  void forget(pulse_output* o) { foutputs.erase(o); }

private:
  static std::set<pulse_backend*>& live() {
    // Never destroyed: backends may end after other statics, at exit.
    static auto* backends = new std::set<pulse_backend*>;
    return *backends;
  }
  static void shutdown_all() {
    for (pulse_backend* b : live()) b->shutdown();
  }

  enum class route { none, server, fallback };
  struct sink_info {
    std::string name;
    std::string description;
  };

  static MMRESULT error_of(int pa_error) {
    switch (pa_error) {
      case PA_ERR_NOENTITY: return MMSYSERR_BADDEVICEID;
      case PA_ERR_INVALID:
      case PA_ERR_NOTSUPPORTED: return WAVERR_BADFORMAT;
      case PA_ERR_TIMEOUT: return WAVERR_NOANSWER;
      case PA_ERR_CONNECTIONTERMINATED:
      case PA_ERR_KILLED: return WAVERR_LOST;
      default: return MMSYSERR_ALLOCATED;
    }
  }

  // Connects to the sound server when not connected. server: connected; fallback: nobody
  // answers at the server's address; none: the server did not answer in time (err says so).
  route choose(MMRESULT& err) {
    if (fctx) {
      const pa_context_state_t st = pa_context_get_state(fctx);
      if (st == PA_CONTEXT_READY) return route::server;
      if (!PA_CONTEXT_IS_GOOD(st)) drop_context();
    }
    if (!fctx) {
      fctx = pa_context_new(floop.api(), "Murmelin");
      if (!fctx) return route::fallback;
      pa_context_set_state_callback(fctx, &pulse_backend::on_context_state, this);
      // Never start a server: a desktop has one, and a second one would fight it.
      if (pa_context_connect(fctx, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        drop_context();
        return route::fallback;
      }
    }
    const bool answered = floop.wait(
        [&] { return !PA_CONTEXT_IS_GOOD(pa_context_get_state(fctx)) ||
                     pa_context_get_state(fctx) == PA_CONTEXT_READY; },
        open_wait_ms);
    if (!answered) {
      drop_context();
      err = WAVERR_NOANSWER;
      return route::none;
    }
    if (pa_context_get_state(fctx) == PA_CONTEXT_READY) return route::server;
    drop_context();
    return route::fallback;
  }

  void read_sinks() {
    flist = route::server;
    struct query {
      std::vector<sink_info> found;
      bool done = false;
    } q;
    pa_operation* op = pa_context_get_sink_info_list(
        fctx,
        [](pa_context*, const pa_sink_info* i, int eol, void* u) {
          auto* q = static_cast<query*>(u);
          if (eol != 0) {
            q->done = true;
            return;
          }
          q->found.push_back({i->name ? i->name : "",
                              i->description ? i->description : (i->name ? i->name : "")});
        },
        &q);
    if (!op) {
      fsinks.clear();
      return;
    }
    const bool answered = floop.wait(
        [&] { return q.done || !fctx || pa_context_get_state(fctx) != PA_CONTEXT_READY; },
        open_wait_ms);
    // An answer that comes after this must not reach q.
    pa_operation_cancel(op);
    pa_operation_unref(op);
    if (!answered || !q.done) {
      fsinks.clear();
      if (!answered) drop_context();
      return;
    }
    fsinks = std::move(q.found);
  }

  static void on_context_state(pa_context* c, void* self) {
    auto* b = static_cast<pulse_backend*>(self);
    if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(c))) {
      // Copy: lost() may lead to outputs being destroyed later, never here, but be safe.
      const std::set<pulse_output*> outs = b->foutputs;
      for (pulse_output* o : outs) o->lost();
    }
  }

  void drop_context() {
    if (!fctx) return;
    for (pulse_output* o : foutputs) {
      o->lost();
      o->detach();
    }
    pa_context_set_state_callback(fctx, nullptr, nullptr);
    pa_context_disconnect(fctx);
    pa_context_unref(fctx);
    fctx = nullptr;
  }

  std::shared_ptr<waveout_backend> sdl() {
    if (!fsdl) fsdl = make_sdl_waveout_backend();
    return fsdl;
  }

  pa_qt_mainloop floop;  // declared first: outlives the context
  pa_context* fctx = nullptr;
  std::vector<sink_info> fsinks;
  route flist = route::none;  // where the device list as last read came from
  std::set<pulse_output*> foutputs;
  std::shared_ptr<waveout_backend> fsdl;
};

pulse_output::~pulse_output() {
  detach();
  fbackend.forget(this);
}

bool pulse_output::start(pa_context* ctx, const WAVEFORMATEX& fmt, const char* sink) {
  pa_sample_spec spec{PA_SAMPLE_S16LE, fmt.nSamplesPerSec, static_cast<uint8_t>(fmt.nChannels)};
  pa_channel_map map;
  if (!pa_channel_map_init_extend(&map, fmt.nChannels, PA_CHANNEL_MAP_WAVEEX)) return false;
  fstream = pa_stream_new(ctx, "Pink noise", &spec, &map);
  if (!fstream) return false;
  pa_mainloop_api* api = floop.api();
  fserve_soon = api->defer_new(api, &pulse_output::on_serve_soon, this);
  api->defer_enable(fserve_soon, 0);
  pa_stream_set_state_callback(fstream, &pulse_output::on_state, this);
  pa_stream_set_write_callback(fstream, &pulse_output::on_write, this);
  pa_stream_set_underflow_callback(fstream, &pulse_output::on_underflow, this);
  const pa_buffer_attr attr = stream_attributes(fmt.nSamplesPerSec, static_cast<uint32_t>(fframe));
  fstage.assign(attr.minreq, 0);
  // A device the user chose stays that device: when it goes away the stream fails (and the
  // owner hears of it) rather than moving to some other output. The default device is free
  // to move and follows the user's default.
  const auto flags = static_cast<pa_stream_flags_t>(
      PA_STREAM_ADJUST_LATENCY | (sink ? PA_STREAM_DONT_MOVE : PA_STREAM_NOFLAGS));
  return pa_stream_connect_playback(fstream, sink, &attr, flags, nullptr, nullptr) == 0;
}

}  // namespace

std::shared_ptr<waveout_backend> make_default_waveout_backend() {
  return std::make_shared<pulse_backend>();
}

}  // namespace murmelin
