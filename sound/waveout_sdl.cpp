// SPDX-License-Identifier: GPL-3.0-or-later
// The SDL2 backend of the wave output service: SDL's output devices, SDL's audio thread
// pulling from the queue, SDL converting the format to what the device plays.
#include <SDL.h>

#include <QString>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "waveout_backend.h"

namespace murmelin {

namespace {

// Closes SDL devices on a thread of its own: SDL_CloseAudioDevice waits for SDL's audio
// thread, which may itself wait on a stalled sound server without limit, and the UI thread
// must never wait on that.
//
// SDL_OpenAudioDevice and SDL_CloseAudioDevice both run under sdl_calls, because SDL's table
// of open devices is not guarded for concurrent opens and closes; the UI thread waits for it
// at most a second (then the device counts as busy). The lock order of this file and the
// queue's is written next to the stream's lock in waveout.cpp.
// What SDL's audio thread reads in its callback: it lives until the device is closed, after
// the output that made it is gone.
struct sdl_link {
  sdl_link(waveout_source& src, uint32_t channels) : source(&src), channels(channels) {}
  std::mutex gate;  // guards source; see the lock order in waveout.cpp
  waveout_source* source;  // null once the output is closed: silence from then on
  const uint32_t channels;
};

class sdl_closer {
public:
  std::timed_mutex sdl_calls;

  // Ends the closing thread once it has closed everything, waiting at most two seconds.
  // False when a close is stuck (on a stalled server): the thread is then left running, and
  // this object must be kept alive for it.
  bool finish() {
    {
      std::lock_guard<std::mutex> g(flock);
      fquit = true;
    }
    fwake.notify_all();
    if (!fthread.joinable()) return true;
    std::unique_lock<std::mutex> g(flock);
    const bool idle =
        fidle.wait_for(g, std::chrono::seconds(2), [&] { return fpending.empty() && !fbusy; });
    g.unlock();
    if (!idle) {
      fthread.detach();
      return false;
    }
    fthread.join();
    return true;
  }

  // Closes dev and then deletes link, which its callback uses.
  void close_later(SDL_AudioDeviceID dev, sdl_link* link) {
    std::lock_guard<std::mutex> g(flock);
    fpending.push_back({dev, link});
    if (!fthread.joinable()) fthread = std::thread([this] { run(); });
    fwake.notify_one();
  }

private:
  void run() {
    std::unique_lock<std::mutex> g(flock);
    for (;;) {
      fwake.wait(g, [&] { return fquit || !fpending.empty(); });
      if (fpending.empty()) return;
      const auto [dev, link] = fpending.front();
      fpending.pop_front();
      fbusy = true;
      g.unlock();
      {
        std::lock_guard<std::timed_mutex> calls(sdl_calls);
        SDL_CloseAudioDevice(dev);
      }
      delete link;
      g.lock();
      fbusy = false;
      fidle.notify_all();
    }
  }

  std::mutex flock;  // guards the members below
  std::condition_variable fwake, fidle;
  std::deque<std::pair<SDL_AudioDeviceID, sdl_link*>> fpending;
  bool fbusy = false;
  bool fquit = false;
  std::thread fthread;
};

class sdl_output final : public waveout_output {
public:
  sdl_output(waveout_source& src, uint32_t channels, sdl_closer& closer)
      : flink(new sdl_link(src, channels)), fcloser(closer) {}
  ~sdl_output() override {
    {
      // Waits at most for one callback's copy: from here on the audio thread plays silence
      // and never touches the source again.
      std::lock_guard<std::mutex> g(flink->gate);
      flink->source = nullptr;
    }
    if (fdevice != 0) {
      fcloser.close_later(fdevice, flink);
    } else {
      delete flink;
    }
  }

  static void SDLCALL callback(void* userdata, Uint8* data, int len) {
    auto* link = static_cast<sdl_link*>(userdata);
    const std::size_t want = static_cast<std::size_t>(len);
    std::size_t got = 0;
    {
      // The gate, then the stream's lock inside pull (see waveout.cpp).
      std::lock_guard<std::mutex> g(link->gate);
      if (link->source) {
        got = link->source->pull(data, want);
        waveout_apply_volume(reinterpret_cast<int16_t*>(data), got / 2, link->channels,
                             link->source->volume());
      }
    }
    if (got < want) std::memset(data + got, 0, want - got);  // silence while paused or starved
  }

  sdl_link* link() const { return flink; }
  SDL_AudioDeviceID fdevice = 0;

private:
  sdl_link* flink;
  sdl_closer& fcloser;
};

// Frames per SDL callback, which is also what SDL asks the output to keep buffered: the
// largest power of two up to about 0.1 s (4096 at 44100 Hz), so that low rates keep a short
// period too (32 frames at 441 Hz). Long enough that a busy machine does not starve the
// output, few enough wake-ups to cost next to nothing.
Uint16 callback_frames(uint32_t rate) {
  uint32_t frames = 1;
  while (frames < 8192 && frames * 2 <= rate / 10) frames *= 2;
  return static_cast<Uint16>(frames);
}

class sdl_backend final : public waveout_backend {
public:
  sdl_backend() {
    // SDL would otherwise install its own SIGINT/SIGTERM handlers, and the program would no
    // longer end on a logout or a plain kill.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    fok = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
  }
  ~sdl_backend() override {
    if (!fcloser->finish()) {
      (void)fcloser.release();  // its thread still runs; SDL is left as it is
      return;
    }
    if (fok) SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }

  uint32_t device_count() override {
    if (!fok) return 0;
    int n = SDL_GetNumAudioDevices(0);
    return n > 0 ? static_cast<uint32_t>(n) : 0;
  }

  std::u16string device_name(uint32_t d) override {
    if (d == WAVE_MAPPER) return u"Default output device";
    if (!fok) return {};
    const char* name = SDL_GetAudioDeviceName(static_cast<int>(d), 0);
    return name ? QString::fromUtf8(name).toStdU16String() : std::u16string();
  }

  MMRESULT open(HWAVEOUT, uint32_t d, const WAVEFORMATEX& fmt, waveout_source& source,
                std::unique_ptr<waveout_output>& out) override {
    if (!fok) return MMSYSERR_NODRIVER;
    // What SDL can convert: 1 to 8 channels, any positive rate it can represent.
    if (fmt.nChannels < 1 || fmt.nChannels > 8 || fmt.nSamplesPerSec > 0x7FFFFFFFu)
      return WAVERR_BADFORMAT;
    const char* name = nullptr;
    if (d != WAVE_MAPPER) {
      name = SDL_GetAudioDeviceName(static_cast<int>(d), 0);
      if (!name) return MMSYSERR_BADDEVICEID;
    }
    auto o = std::make_unique<sdl_output>(source, fmt.nChannels, *fcloser);
    SDL_AudioSpec want;
    SDL_zero(want);
    want.freq = static_cast<int>(fmt.nSamplesPerSec);
    want.format = AUDIO_S16SYS;
    want.channels = static_cast<Uint8>(fmt.nChannels);
    want.samples = callback_frames(fmt.nSamplesPerSec);
    want.callback = &sdl_output::callback;
    want.userdata = o->link();
    SDL_AudioSpec have;
    {
      std::unique_lock<std::timed_mutex> calls(fcloser->sdl_calls, std::defer_lock);
      if (!calls.try_lock_for(std::chrono::seconds(1))) return MMSYSERR_ALLOCATED;
      o->fdevice = SDL_OpenAudioDevice(name, 0, &want, &have, 0);
    }
    // The format was checked above, so a refusal here is the device's: gone, busy or the
    // sound server unreachable.
    if (o->fdevice == 0) return MMSYSERR_ALLOCATED;
    SDL_PauseAudioDevice(o->fdevice, 0);  // pausing is done by the queue, which feeds silence
    out = std::move(o);
    return MMSYSERR_NOERROR;
  }

private:
  bool fok = false;
  std::unique_ptr<sdl_closer> fcloser = std::make_unique<sdl_closer>();
};

}  // namespace

std::shared_ptr<waveout_backend> make_sdl_waveout_backend() {
  return std::make_shared<sdl_backend>();
}

}  // namespace murmelin
