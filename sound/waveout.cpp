// SPDX-License-Identifier: GPL-3.0-or-later
#include "waveout.h"

#include <QCoreApplication>
#include <QString>

#include "waveout_backend.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <mutex>

namespace murmelin {

namespace {

std::atomic<uint64_t> underrun_count{0};

// One open stream: the queue of written buffers (linked through lpNext, so queuing never
// allocates), the pause state and the backend's output that pulls from it.
class stream final : public waveout_source {
public:
  stream(HWAVEOUT h, uint32_t d, const WAVEFORMATEX& f, HWND w, bool n,
         std::shared_ptr<waveout_backend> b, uint32_t vol)
      : handle(h), device(d), fmt(f), hwnd(w), notify(n), backend(std::move(b)), fvolume(vol) {}

  const HWAVEOUT handle;
  const uint32_t device;
  const WAVEFORMATEX fmt;
  const HWND hwnd;
  const bool notify;
  const std::shared_ptr<waveout_backend> backend;  // outlives out (declared before it)
  std::unique_ptr<waveout_output> out;

  // Guards everything below and the flags of queued headers.
  //
  // Lock order, for the one place where threads meet (the SDL2 fallback, whose audio thread
  // pulls from here and whose devices close on a thread of their own):
  //   service::lock -> stream::lock
  //   sdl_link::gate -> stream::lock             (SDL's audio thread, in its callback)
  //   sdl_closer::sdl_calls                      (alone: nothing else is taken inside it)
  //   sdl_closer::flock                          (alone: never held while SDL is called)
  // Nothing is taken while stream::lock is held, and the output's hooks (queued, set_paused,
  // reset) are called only after it is released. The sound-server backend runs on the UI
  // thread, so for it these locks are never contended.
  mutable std::mutex lock;
  WAVEHDR* head = nullptr;
  WAVEHDR* tail = nullptr;
  std::size_t offset = 0;  // bytes of head already played
  bool paused = false;
  bool started = false;    // something was written since open or the last reset
  MMRESULT failure = MMSYSERR_NOERROR;  // the output is gone (fail())
  bool failure_reported = false;        // a write has returned it

  void set_volume(uint32_t v) { fvolume.store(v, std::memory_order_relaxed); }

  // Marks the head buffer done, unlinks it and posts its notification. Caller holds lock.
  void hand_back_head() {
    WAVEHDR* h = head;
    head = h->lpNext;
    if (!head) tail = nullptr;
    offset = 0;
    h->lpNext = nullptr;
    h->dwFlags = (h->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    if (notify) post_message(hwnd, MM_WOM_DONE, handle, reinterpret_cast<intptr_t>(h));
  }

  std::size_t pull(void* dst, std::size_t bytes) override {
    std::lock_guard<std::mutex> g(lock);
    if (paused || failure != MMSYSERR_NOERROR) return 0;
    auto* out_bytes = static_cast<char*>(dst);
    std::size_t copied = 0;
    while (head) {
      std::size_t avail = head->dwBufferLength - offset;
      std::size_t n = std::min(avail, bytes - copied);
      if (n > 0) {
        std::memcpy(out_bytes + copied, head->lpData + offset, n);
        copied += n;
        offset += n;
      }
      if (offset < head->dwBufferLength) break;  // request filled inside this buffer
      hand_back_head();
      if (copied == bytes && (!head || head->dwBufferLength > 0)) break;
    }
    if (copied < bytes && started) underrun_count.fetch_add(1, std::memory_order_relaxed);
    return copied;
  }

  std::size_t take(void* dst, std::size_t bytes, std::size_t align) override {
    std::lock_guard<std::mutex> g(lock);
    if (paused || failure != MMSYSERR_NOERROR || align == 0) return 0;
    auto* out_bytes = static_cast<char*>(dst);
    std::size_t copied = 0;
    while (head && copied < bytes) {
      const std::size_t n = std::min<std::size_t>(head->dwBufferLength - offset, bytes - copied);
      std::memcpy(out_bytes + copied, head->lpData + offset, n);
      copied += n;
      offset += n;
      if (offset == head->dwBufferLength) hand_back_head();
    }
    // Buffers that end inside a frame (callers may queue any even length) are completed
    // with silence rather than held back for ever.
    if (const std::size_t part = copied % align; part != 0) {
      const std::size_t pad = std::min(align - part, bytes - copied);
      std::memset(out_bytes + copied, 0, pad);
      copied += pad;
      copied -= copied % align;
    }
    return copied;
  }

  void fail(MMRESULT code) override {
    std::lock_guard<std::mutex> g(lock);
    if (failure != MMSYSERR_NOERROR) return;
    failure = code;
    if (head) hand_back_head();
  }

  void count_underrun() override { underrun_count.fetch_add(1, std::memory_order_relaxed); }

  bool pull_buffer(std::vector<uint8_t>& data, uintptr_t& user) override {
    std::lock_guard<std::mutex> g(lock);
    if (paused || failure != MMSYSERR_NOERROR || !head) return false;
    const char* p = head->lpData + offset;
    data.insert(data.end(), p, p + (head->dwBufferLength - offset));
    user = head->dwUser;
    hand_back_head();
    return true;
  }

  uint32_t volume() const override { return fvolume.load(std::memory_order_relaxed); }

  int queued_buffers() const override {
    std::lock_guard<std::mutex> g(lock);
    int n = 0;
    for (const WAVEHDR* h = head; h; h = h->lpNext) ++n;
    return n;
  }

  bool is_paused() const override {
    std::lock_guard<std::mutex> g(lock);
    return paused;
  }

private:
  std::atomic<uint32_t> fvolume;
};

struct service {
  std::mutex lock;  // guards the members below
  std::shared_ptr<waveout_backend> backend;
  std::map<HWAVEOUT, std::shared_ptr<stream>> streams;
  std::map<uint32_t, uint32_t> volumes;  // by device number (WAVE_MAPPER for the default)
  HWAVEOUT next_handle = 0x8000;         // handles never look like device numbers

  ~service() {
    // Outputs first (they stop their backend threads), then the backend itself.
    streams.clear();
    backend.reset();
  }
};

service& svc() {
  is_window(0);  // the window registry is built first, so it outlives the service
  static service s;
  return s;
}

std::shared_ptr<waveout_backend> current_backend_locked(service& s) {
  if (!s.backend) s.backend = make_default_waveout_backend();
  return s.backend;
}

std::shared_ptr<stream> find_stream(HWAVEOUT h) {
  auto& s = svc();
  std::lock_guard<std::mutex> g(s.lock);
  auto it = s.streams.find(h);
  return it == s.streams.end() ? nullptr : it->second;
}

bool header_ok(const WAVEHDR* pwh, uint32_t cbwh) {
  return pwh != nullptr && cbwh >= sizeof(WAVEHDR);
}

bool format_ok(const WAVEFORMATEX& f) {
  return f.wFormatTag == WAVE_FORMAT_PCM && f.wBitsPerSample == 16 && f.nChannels >= 1 &&
         f.nSamplesPerSec >= 1 && f.nBlockAlign == f.nChannels * 2u &&
         static_cast<uint64_t>(f.nAvgBytesPerSec) ==
             static_cast<uint64_t>(f.nSamplesPerSec) * f.nBlockAlign;
}

// Resolves the argument of the volume functions: an open handle stands for its device.
// Returns false for neither a handle nor a device number.
bool volume_device(service& s, uintptr_t arg, uint32_t& device) {
  auto it = s.streams.find(static_cast<HWAVEOUT>(arg));
  if (arg <= 0xFFFFFFFFu && it != s.streams.end()) {
    device = it->second->device;
    return true;
  }
  if (arg == WAVE_MAPPER) {
    device = WAVE_MAPPER;
    return true;
  }
  if (current_backend_locked(s)->has_device(static_cast<uint32_t>(arg))) {
    device = static_cast<uint32_t>(arg);
    return true;
  }
  return false;
}

// The texts in English; waveOutGetErrorTextW gives them in the user's language.
struct error_text {
  MMRESULT code;
  const char* text;
};

constexpr error_text error_texts[] = {
    {MMSYSERR_NOERROR, QT_TRANSLATE_NOOP("waveout", "The operation completed successfully.")},
    {MMSYSERR_ERROR, QT_TRANSLATE_NOOP("waveout", "An unspecified error occurred in the sound system.")},
    {MMSYSERR_BADDEVICEID, QT_TRANSLATE_NOOP("waveout", "There is no output device with this number.")},
    {MMSYSERR_NOTENABLED, QT_TRANSLATE_NOOP("waveout", "The sound system is not enabled.")},
    {MMSYSERR_ALLOCATED, QT_TRANSLATE_NOOP("waveout", "The output device is busy or could not be opened.")},
    {MMSYSERR_INVALHANDLE, QT_TRANSLATE_NOOP("waveout", "The handle does not name an open output device.")},
    {MMSYSERR_NODRIVER, QT_TRANSLATE_NOOP("waveout", "No sound server is running, and no other sound output is available.")},
    {MMSYSERR_NOMEM, QT_TRANSLATE_NOOP("waveout", "There is not enough memory for the operation.")},
    {MMSYSERR_NOTSUPPORTED, QT_TRANSLATE_NOOP("waveout", "The output device does not support this operation.")},
    {MMSYSERR_BADERRNUM, QT_TRANSLATE_NOOP("waveout", "The error number is unknown.")},
    {MMSYSERR_INVALFLAG, QT_TRANSLATE_NOOP("waveout", "An invalid flag was given.")},
    {MMSYSERR_INVALPARAM, QT_TRANSLATE_NOOP("waveout", "An invalid parameter was given.")},
    {WAVERR_BADFORMAT, QT_TRANSLATE_NOOP("waveout", "The output device cannot play this sample format.")},
    {WAVERR_STILLPLAYING, QT_TRANSLATE_NOOP("waveout", "Buffers are still queued on the output device.")},
    {WAVERR_UNPREPARED, QT_TRANSLATE_NOOP("waveout", "The buffer has not been prepared.")},
    {WAVERR_SYNC, QT_TRANSLATE_NOOP("waveout", "The output device can only be used synchronously.")},
    {WAVERR_NOANSWER, QT_TRANSLATE_NOOP("waveout", "The sound server does not answer.")},
    {WAVERR_LOST, QT_TRANSLATE_NOOP("waveout", "The sound server or the output device went away.")},
};

}  // namespace

// ---- backend selection -------------------------------------------------------------------

void waveout_use_backend(std::shared_ptr<waveout_backend> backend) {
  auto& s = svc();
  std::shared_ptr<waveout_backend> old;
  {
    std::lock_guard<std::mutex> g(s.lock);
    old = std::move(s.backend);
    s.backend = std::move(backend);  // nullptr: the default backend is made on next use
  }
  // old is released here, outside the lock.
}

std::shared_ptr<waveout_backend> waveout_current_backend() {
  auto& s = svc();
  std::lock_guard<std::mutex> g(s.lock);
  return current_backend_locked(s);
}

// ---- devices ------------------------------------------------------------------------------

uint32_t waveOutGetNumDevs() { return waveout_current_backend()->device_count(); }

MMRESULT waveOutGetDevCapsW(uintptr_t uDeviceID, WAVEOUTCAPSW* pwoc, uint32_t cbwoc) {
  auto b = waveout_current_backend();
  if (MMRESULT r = b->precheck(waveout_op::get_dev_caps)) return r;
  if (!pwoc || cbwoc < sizeof(WAVEOUTCAPSW)) return MMSYSERR_INVALPARAM;
  if (uDeviceID != WAVE_MAPPER && !b->has_device(static_cast<uint32_t>(uDeviceID)))
    return MMSYSERR_BADDEVICEID;
  WAVEOUTCAPSW caps;
  caps.szPname = b->device_name(static_cast<uint32_t>(uDeviceID));
  caps.vDriverVersion = 0x0100;
  caps.wChannels = 2;
  caps.dwSupport = 0x0004 | 0x0008;  // volume, separate left and right volume
  *pwoc = caps;
  return MMSYSERR_NOERROR;
}

// ---- open and close ----------------------------------------------------------------------

MMRESULT waveOutOpen(HWAVEOUT* phwo, uint32_t uDeviceID, const WAVEFORMATEX* pwfx,
                     uintptr_t dwCallback, uintptr_t /*dwInstance*/, uint32_t fdwOpen) {
  auto& s = svc();
  auto b = waveout_current_backend();
  if (MMRESULT r = b->precheck(waveout_op::open)) return r;
  if (!phwo || !pwfx) return MMSYSERR_INVALPARAM;
  if (fdwOpen != CALLBACK_NULL && fdwOpen != CALLBACK_WINDOW) return MMSYSERR_INVALFLAG;
  const bool notify = fdwOpen == CALLBACK_WINDOW;
  const HWND hwnd = static_cast<HWND>(dwCallback);
  if (notify && (dwCallback > 0xFFFFFFFFu || !is_window(hwnd))) return MMSYSERR_INVALPARAM;
  if (!format_ok(*pwfx)) return WAVERR_BADFORMAT;

  std::shared_ptr<stream> st;
  {
    std::lock_guard<std::mutex> g(s.lock);
    HWAVEOUT h = s.next_handle;
    do {
      ++s.next_handle;
    } while (s.next_handle < 0x8000 || s.next_handle == WAVE_MAPPER ||
             s.streams.count(s.next_handle));
    auto vit = s.volumes.find(uDeviceID);
    uint32_t vol = vit == s.volumes.end() ? 0xFFFFFFFFu : vit->second;
    st = std::make_shared<stream>(h, uDeviceID, *pwfx, hwnd, notify, b, vol);
  }
  std::unique_ptr<waveout_output> out;
  MMRESULT r = b->open(st->handle, uDeviceID, *pwfx, *st, out);
  if (r != MMSYSERR_NOERROR) return r;
  if (!out) return MMSYSERR_ERROR;
  st->out = std::move(out);
  {
    std::lock_guard<std::mutex> g(s.lock);
    s.streams.emplace(st->handle, st);
  }
  *phwo = st->handle;
  if (notify) post_message(hwnd, MM_WOM_OPEN, st->handle, 0);
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutClose(HWAVEOUT hwo) {
  auto& s = svc();
  std::shared_ptr<stream> st;
  {
    std::lock_guard<std::mutex> g(s.lock);
    auto it = s.streams.find(hwo);
    if (it == s.streams.end()) return MMSYSERR_INVALHANDLE;
    st = it->second;
    if (MMRESULT r = st->backend->precheck(waveout_op::close)) return r;
    {
      std::lock_guard<std::mutex> sg(st->lock);
      if (st->head) return WAVERR_STILLPLAYING;
    }
    s.streams.erase(it);
  }
  st->out.reset();  // waits until the backend has left pull()
  if (st->notify) post_message(st->hwnd, MM_WOM_CLOSE, hwo, 0);
  return MMSYSERR_NOERROR;
}

void waveout_force_close(HWAVEOUT hwo) {
  auto& s = svc();
  std::shared_ptr<stream> st;
  {
    std::lock_guard<std::mutex> g(s.lock);
    auto it = s.streams.find(hwo);
    if (it == s.streams.end()) return;
    st = it->second;
    s.streams.erase(it);
  }
  {
    std::lock_guard<std::mutex> g(st->lock);
    for (WAVEHDR* h = st->head; h;) {
      WAVEHDR* next = h->lpNext;
      h->lpNext = nullptr;
      h->dwFlags &= ~WHDR_INQUEUE;
      h = next;
    }
    st->head = st->tail = nullptr;
    st->offset = 0;
  }
  st->out.reset();
}

// ---- playing -----------------------------------------------------------------------------

MMRESULT waveOutPause(HWAVEOUT hwo) {
  auto st = find_stream(hwo);
  if (!st) return MMSYSERR_INVALHANDLE;
  if (MMRESULT r = st->backend->precheck(waveout_op::pause)) return r;
  {
    std::lock_guard<std::mutex> g(st->lock);
    st->paused = true;
  }
  st->out->set_paused(true);
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutRestart(HWAVEOUT hwo) {
  auto st = find_stream(hwo);
  if (!st) return MMSYSERR_INVALHANDLE;
  if (MMRESULT r = st->backend->precheck(waveout_op::restart)) return r;
  {
    std::lock_guard<std::mutex> g(st->lock);
    st->paused = false;
  }
  st->out->set_paused(false);
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, uint32_t cbwh) {
  auto st = find_stream(hwo);
  if (!st) return MMSYSERR_INVALHANDLE;
  if (MMRESULT r = st->backend->precheck(waveout_op::prepare)) return r;
  if (!header_ok(pwh, cbwh)) return MMSYSERR_INVALPARAM;
  std::lock_guard<std::mutex> g(st->lock);
  if (pwh->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  if (!pwh->lpData && pwh->dwBufferLength > 0) return MMSYSERR_INVALPARAM;
  pwh->dwFlags |= WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, uint32_t cbwh) {
  auto st = find_stream(hwo);
  if (!st) return MMSYSERR_INVALHANDLE;
  if (MMRESULT r = st->backend->precheck(waveout_op::unprepare)) return r;
  if (!header_ok(pwh, cbwh)) return MMSYSERR_INVALPARAM;
  std::lock_guard<std::mutex> g(st->lock);
  if (pwh->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  pwh->dwFlags &= ~WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutWrite(HWAVEOUT hwo, WAVEHDR* pwh, uint32_t cbwh) {
  auto st = find_stream(hwo);
  if (!st) return MMSYSERR_INVALHANDLE;
  if (MMRESULT r = st->backend->precheck(waveout_op::write)) return r;
  if (!header_ok(pwh, cbwh)) return MMSYSERR_INVALPARAM;
  {
    std::lock_guard<std::mutex> g(st->lock);
    if (!(pwh->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    if (pwh->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    if (!pwh->lpData && pwh->dwBufferLength > 0) return MMSYSERR_INVALPARAM;
    if (st->failure != MMSYSERR_NOERROR && !st->failure_reported) {
      st->failure_reported = true;
      return st->failure;
    }
    pwh->dwFlags = (pwh->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    pwh->lpNext = nullptr;
    if (st->tail) {
      st->tail->lpNext = pwh;
    } else {
      st->head = pwh;
      st->offset = 0;
    }
    st->tail = pwh;
    st->started = true;
  }
  st->out->queued();
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutReset(HWAVEOUT hwo) {
  auto st = find_stream(hwo);
  if (!st) return MMSYSERR_INVALHANDLE;
  if (MMRESULT r = st->backend->precheck(waveout_op::reset)) return r;
  {
    std::lock_guard<std::mutex> g(st->lock);
    while (st->head) st->hand_back_head();
    st->started = false;
  }
  st->out->reset();
  return MMSYSERR_NOERROR;
}

// ---- texts and volume --------------------------------------------------------------------

MMRESULT waveOutGetErrorTextW(MMRESULT mmrError, char16_t* pszText, uint32_t cchText) {
  if (MMRESULT r = waveout_current_backend()->precheck(waveout_op::get_error_text))
    return r;
  if (!pszText || cchText == 0) return MMSYSERR_INVALPARAM;
  std::u16string text;
  MMRESULT result = MMSYSERR_NOERROR;
  auto it = std::find_if(std::begin(error_texts), std::end(error_texts),
                         [&](const error_text& e) { return e.code == mmrError; });
  if (it != std::end(error_texts)) {
    text = QCoreApplication::translate("waveout", it->text).toStdU16String();
  } else {
    text = QCoreApplication::translate("waveout", "Unknown sound system error %1.")
               .arg(mmrError)
               .toStdU16String();
    result = MMSYSERR_BADERRNUM;
  }
  std::size_t n = std::min<std::size_t>(text.size(), cchText - 1);
  std::copy_n(text.begin(), n, pszText);
  pszText[n] = 0;
  return result;
}

MMRESULT waveOutGetVolume(uintptr_t hwoOrDevice, uint32_t* pdwVolume) {
  auto& s = svc();
  std::lock_guard<std::mutex> g(s.lock);
  if (MMRESULT r = current_backend_locked(s)->precheck(waveout_op::get_volume)) return r;
  if (!pdwVolume) return MMSYSERR_INVALPARAM;
  uint32_t device;
  if (!volume_device(s, hwoOrDevice, device)) return MMSYSERR_BADDEVICEID;
  auto it = s.volumes.find(device);
  *pdwVolume = it == s.volumes.end() ? 0xFFFFFFFFu : it->second;
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutSetVolume(uintptr_t hwoOrDevice, uint32_t dwVolume) {
  auto& s = svc();
  std::lock_guard<std::mutex> g(s.lock);
  if (MMRESULT r = current_backend_locked(s)->precheck(waveout_op::set_volume)) return r;
  uint32_t device;
  if (!volume_device(s, hwoOrDevice, device)) return MMSYSERR_BADDEVICEID;
  s.volumes[device] = dwVolume;
  for (auto& [h, st] : s.streams)
    if (st->device == device) st->set_volume(dwVolume);
  return MMSYSERR_NOERROR;
}

uint64_t waveout_underruns() { return underrun_count.load(std::memory_order_relaxed); }

void waveout_apply_volume(int16_t* samples, std::size_t count, uint32_t channels,
                          uint32_t volume) {
  if (volume == 0xFFFFFFFFu || channels == 0) return;
  const int64_t gain[2] = {static_cast<int64_t>(volume & 0xFFFFu),
                           static_cast<int64_t>(volume >> 16)};
  for (std::size_t k = 0; k < count; ++k) {
    const int64_t g = gain[(k % channels) & 1u];
    samples[k] = static_cast<int16_t>(samples[k] * g / 0xFFFF);
  }
}

}  // namespace murmelin
