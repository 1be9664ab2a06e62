// SPDX-License-Identifier: GPL-3.0-or-later
#include "waveout_test_backend.h"

#include <algorithm>
#include <cstring>

namespace murmelin {

class waveout_test_backend::output final : public waveout_output {
public:
  output(waveout_test_backend& b, HWAVEOUT h) : fbackend(b), fhandle(h) {}
  ~output() override {
    fbackend.fstreams.erase(fhandle);
    auto& order = fbackend.fopen_order;
    order.erase(std::remove(order.begin(), order.end(), fhandle), order.end());
  }

private:
  waveout_test_backend& fbackend;
  HWAVEOUT fhandle;
};

waveout_test_backend::waveout_test_backend(QStringList device_names)
    : fdevices(std::move(device_names)) {}

waveout_test_backend::~waveout_test_backend() = default;

void waveout_test_backend::set_devices(QStringList device_names) {
  fdevices = std::move(device_names);
}

void waveout_test_backend::set_default_device_name(QString name) {
  fdefault_name = std::move(name);
}

void waveout_test_backend::set_format_filter(std::function<bool(const WAVEFORMATEX&)> accepts) {
  faccepts = std::move(accepts);
}

void waveout_test_backend::set_failure(waveout_op op, MMRESULT code, int times) {
  if (code == MMSYSERR_NOERROR || times == 0) {
    ffailures.erase(op);
  } else {
    ffailures[op] = failure{code, times};
  }
}

void waveout_test_backend::clear_failures() { ffailures.clear(); }

int waveout_test_backend::call_count(waveout_op op) const {
  auto it = fcalls.find(op);
  return it == fcalls.end() ? 0 : it->second;
}

int waveout_test_backend::open_count() const { return fopen_count; }

int waveout_test_backend::open_streams() const { return static_cast<int>(fstreams.size()); }

HWAVEOUT waveout_test_backend::current_handle() const {
  return fopen_order.empty() ? 0 : fopen_order.back();
}

uint32_t waveout_test_backend::last_device() const { return flast_device; }

WAVEFORMATEX waveout_test_backend::last_format() const { return flast_format; }

waveout_test_backend::stream* waveout_test_backend::find_stream(HWAVEOUT h) {
  if (h == 0) h = current_handle();
  auto it = fstreams.find(h);
  return it == fstreams.end() ? nullptr : &it->second;
}

const waveout_test_backend::stream* waveout_test_backend::find_stream(HWAVEOUT h) const {
  return const_cast<waveout_test_backend*>(this)->find_stream(h);
}

int waveout_test_backend::queued_count(HWAVEOUT h) const {
  const stream* st = find_stream(h);
  return st ? st->source->queued_buffers() : 0;
}

bool waveout_test_backend::is_paused(HWAVEOUT h) const {
  const stream* st = find_stream(h);
  return st && st->source->is_paused();
}

bool waveout_test_backend::play_next(HWAVEOUT h) {
  if (h == 0) h = current_handle();
  stream* st = find_stream(h);
  if (!st) return false;
  fscratch.clear();
  uintptr_t user = 0;
  if (!st->source->pull_buffer(fscratch, user)) return false;
  if (!fkeep_played) return true;
  played_buffer pb;
  pb.handle = h;
  pb.user = user;
  pb.samples.resize(fscratch.size() / 2);
  if (!pb.samples.empty()) std::memcpy(pb.samples.data(), fscratch.data(), pb.samples.size() * 2);
  fplayed.push_back(std::move(pb));
  return true;
}

std::size_t waveout_test_backend::play_request(std::size_t bytes, HWAVEOUT h) {
  stream* st = find_stream(h);
  if (!st) return 0;
  const std::size_t align = st->block_align;
  bytes -= bytes % align;
  const std::size_t at = fplayed_bytes.size();
  fplayed_bytes.resize(at + bytes);
  const std::size_t got = st->source->take(fplayed_bytes.data() + at, bytes, align);
  fplayed_bytes.resize(at + got);
  return got;
}

bool waveout_test_backend::lose_stream(HWAVEOUT h, MMRESULT code) {
  stream* st = find_stream(h);
  if (!st) return false;
  st->source->fail(code);
  return true;
}

int waveout_test_backend::play_all(HWAVEOUT h, int limit) {
  if (h == 0) h = current_handle();
  int n = 0;
  while (n < limit && play_next(h)) ++n;
  return n;
}

std::vector<int16_t> waveout_test_backend::played_samples() const {
  std::vector<int16_t> all;
  for (const auto& pb : fplayed) all.insert(all.end(), pb.samples.begin(), pb.samples.end());
  return all;
}

uint32_t waveout_test_backend::device_count() { return static_cast<uint32_t>(fdevices.size()); }

std::u16string waveout_test_backend::device_name(uint32_t d) {
  if (d == WAVE_MAPPER) return fdefault_name.toStdU16String();
  if (d >= static_cast<uint32_t>(fdevices.size())) return {};
  return fdevices[static_cast<qsizetype>(d)].toStdU16String();
}

MMRESULT waveout_test_backend::open(HWAVEOUT handle, uint32_t d, const WAVEFORMATEX& fmt,
                                    waveout_source& source,
                                    std::unique_ptr<waveout_output>& out) {
  if (d != WAVE_MAPPER && d >= static_cast<uint32_t>(fdevices.size()))
    return MMSYSERR_BADDEVICEID;
  if (faccepts && !faccepts(fmt)) return WAVERR_BADFORMAT;
  stream st;
  st.source = &source;
  st.block_align = fmt.nBlockAlign;
  fstreams[handle] = st;
  fopen_order.push_back(handle);
  ++fopen_count;
  flast_device = d;
  flast_format = fmt;
  out = std::make_unique<output>(*this, handle);
  return MMSYSERR_NOERROR;
}

MMRESULT waveout_test_backend::precheck(waveout_op op) {
  ++fcalls[op];
  auto it = ffailures.find(op);
  if (it == ffailures.end()) return MMSYSERR_NOERROR;
  MMRESULT code = it->second.code;
  if (it->second.times > 0 && --it->second.times == 0) ffailures.erase(it);
  return code;
}

waveout_test_backend_scope::waveout_test_backend_scope(QStringList device_names)
    : fbackend(std::make_shared<waveout_test_backend>(std::move(device_names))) {
  waveout_use_backend(fbackend);
}

waveout_test_backend_scope::~waveout_test_backend_scope() { waveout_use_backend(nullptr); }

}  // namespace murmelin
