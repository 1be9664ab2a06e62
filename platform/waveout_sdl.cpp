// The SDL2 backend of the wave output service: SDL's output devices, SDL's audio thread
// pulling from the queue, SDL converting the format to what the device plays.
#include <SDL.h>

#include <QString>

#include <cstring>

#include "waveout.h"

namespace murmelin {

namespace {

class sdl_output final : public waveout_output {
public:
  sdl_output(waveout_source& src, uint32_t channels) : fsource(src), fchannels(channels) {}
  ~sdl_output() override {
    // SDL_CloseAudioDevice returns only after the audio thread has finished its last callback.
    if (fdevice != 0) SDL_CloseAudioDevice(fdevice);
  }

  static void SDLCALL callback(void* userdata, Uint8* data, int len) {
    auto* self = static_cast<sdl_output*>(userdata);
    const std::size_t want = static_cast<std::size_t>(len);
    const std::size_t got = self->fsource.pull(data, want);
    if (got < want) std::memset(data + got, 0, want - got);  // silence while paused or starved
    waveout_apply_volume(reinterpret_cast<int16_t*>(data), got / 2, self->fchannels,
                         self->fsource.volume());
  }

  SDL_AudioDeviceID fdevice = 0;

private:
  waveout_source& fsource;
  const uint32_t fchannels;
};

// Frames per SDL callback, which is also what SDL asks the sound server to keep buffered:
// the largest power of two up to about 0.1 s (4096 at 44100 Hz), at least 256. Long enough
// that a busy machine does not starve the server, few enough wake-ups to cost next to nothing.
Uint16 callback_frames(uint32_t rate) {
  uint32_t frames = 256;
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
    auto o = std::make_unique<sdl_output>(source, fmt.nChannels);
    SDL_AudioSpec want;
    SDL_zero(want);
    want.freq = static_cast<int>(fmt.nSamplesPerSec);
    want.format = AUDIO_S16SYS;
    want.channels = static_cast<Uint8>(fmt.nChannels);
    want.samples = callback_frames(fmt.nSamplesPerSec);
    want.callback = &sdl_output::callback;
    want.userdata = o.get();
    SDL_AudioSpec have;
    o->fdevice = SDL_OpenAudioDevice(name, 0, &want, &have, 0);
    // The format was checked above, so a refusal here is the device's: gone, busy or the
    // sound server unreachable.
    if (o->fdevice == 0) return MMSYSERR_ALLOCATED;
    SDL_PauseAudioDevice(o->fdevice, 0);  // pausing is done by the queue, which feeds silence
    out = std::move(o);
    return MMSYSERR_NOERROR;
  }

private:
  bool fok = false;
};

}  // namespace

std::shared_ptr<waveout_backend> make_sdl_waveout_backend() {
  return std::make_shared<sdl_backend>();
}

}  // namespace murmelin
