// SPDX-License-Identifier: GPL-3.0-or-later
#include "pa_qt_mainloop.h"

#include <QSocketNotifier>
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QTimer>

#include <poll.h>
#include <sys/time.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <memory>

using murmelin::pa_qt_mainloop;

// libpulse marks a timeval on its monotonic clock with this bit in tv_usec (wall-clock times
// come without it).
static constexpr long timeval_rtclock_bit = 1L << 30;

struct pa_io_event {
  pa_qt_mainloop::impl* loop;
  int fd;
  pa_io_event_flags_t events;
  pa_io_event_cb_t cb;
  void* userdata = nullptr;
  pa_io_event_destroy_cb_t destroy = nullptr;
  QSocketNotifier* read = nullptr;
  QSocketNotifier* write = nullptr;
  bool dead = false;
};

struct pa_time_event {
  pa_qt_mainloop::impl* loop;
  bool armed = false;
  int64_t due_us = 0;  // on the monotonic clock
  pa_time_event_cb_t cb = nullptr;
  void* userdata = nullptr;
  pa_time_event_destroy_cb_t destroy = nullptr;
  QTimer* timer = nullptr;
  bool dead = false;
};

struct pa_defer_event {
  pa_qt_mainloop::impl* loop;
  bool enabled = true;
  pa_defer_event_cb_t cb = nullptr;
  void* userdata = nullptr;
  pa_defer_event_destroy_cb_t destroy = nullptr;
  bool dead = false;
};

namespace {

int64_t monotonic_us() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t{ts.tv_sec} * 1000000 + ts.tv_nsec / 1000;
}

int64_t wall_us() {
  timeval tv;
  gettimeofday(&tv, nullptr);
  return int64_t{tv.tv_sec} * 1000000 + tv.tv_usec;
}

// A libpulse timeval (either clock) as a point on the monotonic clock.
int64_t due_from(const timeval* tv) {
  if (tv->tv_usec & timeval_rtclock_bit) {
    return int64_t{tv->tv_sec} * 1000000 + (tv->tv_usec & ~timeval_rtclock_bit);
  }
  const int64_t wall = int64_t{tv->tv_sec} * 1000000 + tv->tv_usec;
  return monotonic_us() + (wall - wall_us());
}

// Storage of the events below (UI thread only).
struct defer_block {
  alignas(std::max_align_t) unsigned char bytes[64];
  bool used = false;
};
defer_block defer_blocks[4];

// The event that runs the deferred events on the next event-loop pass. At most one waits per
// loop, so a few blocks of static storage serve them all and playing allocates nothing.
class defer_pass_event : public QEvent {
public:
  static QEvent::Type type() {
    static const auto t = static_cast<QEvent::Type>(QEvent::registerEventType());
    return t;
  }
  defer_pass_event() : QEvent(type()) {}

  static void* operator new(std::size_t size) {
    for (defer_block& s : defer_blocks)
      if (!s.used && size <= sizeof s.bytes) {
        s.used = true;
        return s.bytes;
      }
    return ::operator new(size);
  }
  static void operator delete(void* p) noexcept {
    for (defer_block& s : defer_blocks)
      if (p == s.bytes) {
        s.used = false;
        return;
      }
    ::operator delete(p);
  }
};
static_assert(sizeof(defer_pass_event) <= 64);

}  // namespace

struct pa_qt_mainloop::impl {
  pa_mainloop_api* api = nullptr;
  std::vector<pa_io_event*> ios;
  std::vector<pa_time_event*> times;
  std::vector<pa_defer_event*> defers;
  // Receiver of the queued call that runs the deferred events on the next event-loop pass;
  // one call is waiting at most (cheaper than starting and stopping a timer on every pass).
  QObject* defer_target = nullptr;
  bool defer_scheduled = false;
  int depth = 0;                  // dispatches in progress; events are deleted only at 0
  int qt_depth = 0;               // of which started by a Qt signal (its sender must live on)

  // Deletes a notifier or timer: later when a Qt signal is being handled (it may be the
  // sender), at once otherwise (the event loop may be gone already, at exit).
  void dispose(QObject* o) {
    if (!o) return;
    if (qt_depth > 0) {
      o->deleteLater();
    } else {
      delete o;
    }
  }

  void dispatch_io(pa_io_event* e, pa_io_event_flags_t flags) {
    if (e->dead || !(flags & (e->events | PA_IO_EVENT_HANGUP | PA_IO_EVENT_ERROR))) return;
    ++depth;
    e->cb(api, e, e->fd, flags, e->userdata);
    --depth;
    after_dispatch();
  }

  // After an outermost dispatch: the deferred events it enabled run now, as a poll loop would
  // run them before polling again, instead of costing an event-loop pass of their own.
  void after_dispatch() {
    if (depth == 0 && any_defer_enabled()) {
      run_defers();
    } else {
      purge();
    }
  }

  bool any_defer_enabled() const {
    return std::any_of(defers.begin(), defers.end(),
                       [](pa_defer_event* e) { return !e->dead && e->enabled; });
  }

  void dispatch_time(pa_time_event* e) {
    if (e->dead || !e->armed) return;
    e->armed = false;
    if (e->timer) e->timer->stop();
    timeval now;
    gettimeofday(&now, nullptr);
    ++depth;
    e->cb(api, e, &now, e->userdata);
    --depth;
    after_dispatch();
  }

  void run_defers() {
    ++depth;
    // Index loop: callbacks may add events.
    for (std::size_t i = 0; i < defers.size(); ++i) {
      pa_defer_event* e = defers[i];
      if (!e->dead && e->enabled) e->cb(api, e, e->userdata);
    }
    --depth;
    purge();
    schedule_defers();
  }

  // Posts the pass that runs the enabled deferred events, unless one is waiting already or a
  // dispatch is running (it runs them when it ends, or wait() hands them on).
  void schedule_defers() {
    if (defer_scheduled || depth > 0) return;
    if (!any_defer_enabled()) return;
    defer_scheduled = true;
    QCoreApplication::postEvent(defer_target, new defer_pass_event);
  }

  void defer_pass() {
    defer_scheduled = false;
    ++qt_depth;
    run_defers();
    --qt_depth;
  }

  void arm_timer(pa_time_event* e) {
    if (!e->armed) {
      e->timer->stop();
      return;
    }
    const int64_t left_us = e->due_us - monotonic_us();
    const int64_t ms = left_us <= 0 ? 0 : std::min<int64_t>((left_us + 999) / 1000, INT_MAX);
    e->timer->start(static_cast<int>(ms));
  }

  void update_notifiers(pa_io_event* e) {
    if (e->read) e->read->setEnabled(!e->dead && (e->events & PA_IO_EVENT_INPUT));
    if (e->write) e->write->setEnabled(!e->dead && (e->events & PA_IO_EVENT_OUTPUT));
  }

  // Deletes the events freed meanwhile, once no dispatch is running.
  void purge() {
    if (depth > 0) return;
    auto sweep = [](auto& list, auto&& drop) {
      auto it = std::remove_if(list.begin(), list.end(), [&](auto* e) {
        if (!e->dead) return false;
        drop(e);
        return true;
      });
      list.erase(it, list.end());
    };
    sweep(ios, [this](pa_io_event* e) {
      dispose(e->read);
      dispose(e->write);
      delete e;
    });
    sweep(times, [this](pa_time_event* e) {
      dispose(e->timer);
      delete e;
    });
    sweep(defers, [](pa_defer_event* e) { delete e; });
  }
};

namespace {

using impl = pa_qt_mainloop::impl;

impl* loop_of(pa_mainloop_api* a) { return static_cast<impl*>(a->userdata); }

pa_io_event* io_new(pa_mainloop_api* a, int fd, pa_io_event_flags_t events, pa_io_event_cb_t cb,
                    void* userdata) {
  impl* l = loop_of(a);
  auto* e = new pa_io_event{l, fd, events, cb, userdata};
  e->read = new QSocketNotifier(fd, QSocketNotifier::Read);
  e->write = new QSocketNotifier(fd, QSocketNotifier::Write);
  QObject::connect(e->read, &QSocketNotifier::activated, [l, e] {
    ++l->qt_depth;
    l->dispatch_io(e, PA_IO_EVENT_INPUT);
    --l->qt_depth;
  });
  QObject::connect(e->write, &QSocketNotifier::activated, [l, e] {
    ++l->qt_depth;
    l->dispatch_io(e, PA_IO_EVENT_OUTPUT);
    --l->qt_depth;
  });
  l->ios.push_back(e);
  l->update_notifiers(e);
  return e;
}

void io_enable(pa_io_event* e, pa_io_event_flags_t events) {
  e->events = events;
  e->loop->update_notifiers(e);
}

void io_free(pa_io_event* e) {
  e->dead = true;
  e->loop->update_notifiers(e);
  if (e->destroy) e->destroy(e->loop->api, e, e->userdata);
  e->loop->purge();
}

void io_set_destroy(pa_io_event* e, pa_io_event_destroy_cb_t cb) { e->destroy = cb; }

pa_time_event* time_new(pa_mainloop_api* a, const timeval* tv, pa_time_event_cb_t cb,
                        void* userdata) {
  impl* l = loop_of(a);
  auto* e = new pa_time_event{l};
  e->cb = cb;
  e->userdata = userdata;
  e->timer = new QTimer;
  e->timer->setSingleShot(true);
  e->timer->setTimerType(Qt::PreciseTimer);
  QObject::connect(e->timer, &QTimer::timeout, [l, e] {
    ++l->qt_depth;
    l->dispatch_time(e);
    --l->qt_depth;
  });
  if (tv) {
    e->armed = true;
    e->due_us = due_from(tv);
  }
  l->times.push_back(e);
  l->arm_timer(e);
  return e;
}

void time_restart(pa_time_event* e, const timeval* tv) {
  e->armed = tv != nullptr;
  if (tv) e->due_us = due_from(tv);
  e->loop->arm_timer(e);
}

void time_free(pa_time_event* e) {
  e->dead = true;
  e->armed = false;
  e->timer->stop();
  if (e->destroy) e->destroy(e->loop->api, e, e->userdata);
  e->loop->purge();
}

void time_set_destroy(pa_time_event* e, pa_time_event_destroy_cb_t cb) { e->destroy = cb; }

pa_defer_event* defer_new(pa_mainloop_api* a, pa_defer_event_cb_t cb, void* userdata) {
  impl* l = loop_of(a);
  auto* e = new pa_defer_event{l};
  e->cb = cb;
  e->userdata = userdata;
  l->defers.push_back(e);
  l->schedule_defers();
  return e;
}

void defer_enable(pa_defer_event* e, int b) {
  e->enabled = b != 0;
  e->loop->schedule_defers();
}

void defer_free(pa_defer_event* e) {
  impl* l = e->loop;
  e->dead = true;
  if (e->destroy) e->destroy(l->api, e, e->userdata);
  l->schedule_defers();
  l->purge();  // may delete e
}

void defer_set_destroy(pa_defer_event* e, pa_defer_event_destroy_cb_t cb) { e->destroy = cb; }

// Nobody runs this loop but the Qt event loop: there is nothing to quit.
void quit(pa_mainloop_api*, int) {}

}  // namespace

namespace {

class defer_receiver : public QObject {
public:
  explicit defer_receiver(impl* l) : floop(l) {}
  bool event(QEvent* e) override {
    if (e->type() != defer_pass_event::type()) return QObject::event(e);
    floop->defer_pass();
    return true;
  }

private:
  impl* floop;
};

}  // namespace

namespace murmelin {

pa_qt_mainloop::pa_qt_mainloop() : fapi{}, fimpl(new impl) {
  fimpl->api = &fapi;
  fimpl->defer_target = new defer_receiver(fimpl);
  fapi.userdata = fimpl;
  fapi.io_new = io_new;
  fapi.io_enable = io_enable;
  fapi.io_free = io_free;
  fapi.io_set_destroy = io_set_destroy;
  fapi.time_new = time_new;
  fapi.time_restart = time_restart;
  fapi.time_free = time_free;
  fapi.time_set_destroy = time_set_destroy;
  fapi.defer_new = defer_new;
  fapi.defer_enable = defer_enable;
  fapi.defer_free = defer_free;
  fapi.defer_set_destroy = defer_set_destroy;
  fapi.quit = quit;
}

pa_qt_mainloop::~pa_qt_mainloop() {
  // Whatever libpulse left behind is dropped without its destroy callbacks.
  for (auto* e : fimpl->ios) {
    delete e->read;
    delete e->write;
    delete e;
  }
  for (auto* e : fimpl->times) {
    delete e->timer;
    delete e;
  }
  for (auto* e : fimpl->defers) delete e;
  delete fimpl->defer_target;  // drops a call still waiting
  delete fimpl;
}

bool pa_qt_mainloop::wait(const std::function<bool()>& done, int timeout_ms) {
  impl& l = *fimpl;
  const int64_t deadline = monotonic_us() + int64_t{timeout_ms} * 1000;
  std::vector<pollfd> fds;
  std::vector<pa_io_event*> polled;
  // Deferred events enabled by the last dispatches below run on the event loop's next pass.
  struct hand_on {
    impl& l;
    ~hand_on() { l.schedule_defers(); }
  } const defers_left{l};
  while (!done()) {
    l.run_defers();
    if (done()) return true;

    int64_t now = monotonic_us();
    if (now >= deadline) return false;
    int64_t wake = deadline;
    bool defer_pending = std::any_of(l.defers.begin(), l.defers.end(),
                                     [](pa_defer_event* e) { return !e->dead && e->enabled; });
    for (pa_time_event* e : l.times)
      if (!e->dead && e->armed) wake = std::min(wake, e->due_us);
    const int timeout =
        defer_pending ? 0 : static_cast<int>(std::max<int64_t>(0, (wake - now + 999) / 1000));

    fds.clear();
    polled.clear();
    for (pa_io_event* e : l.ios) {
      if (e->dead) continue;
      short want = 0;
      if (e->events & PA_IO_EVENT_INPUT) want |= POLLIN;
      if (e->events & PA_IO_EVENT_OUTPUT) want |= POLLOUT;
      fds.push_back(pollfd{e->fd, want, 0});
      polled.push_back(e);
    }
    const int n = ::poll(fds.data(), fds.size(), timeout);
    if (n < 0 && errno != EINTR) return done();
    for (std::size_t i = 0; n > 0 && i < fds.size(); ++i) {
      const short r = fds[i].revents;
      if (!r) continue;
      int flags = 0;
      if (r & POLLIN) flags |= PA_IO_EVENT_INPUT;
      if (r & POLLOUT) flags |= PA_IO_EVENT_OUTPUT;
      if (r & POLLHUP) flags |= PA_IO_EVENT_HANGUP;
      if (r & (POLLERR | POLLNVAL)) flags |= PA_IO_EVENT_ERROR;
      // An earlier callback of this pass may have freed it (it stays allocated until purged,
      // and purging waits for depth 0, which this loop holds).
      ++l.depth;
      l.dispatch_io(polled[i], static_cast<pa_io_event_flags_t>(flags));
      --l.depth;
    }
    now = monotonic_us();
    for (std::size_t i = 0; i < l.times.size(); ++i) {
      pa_time_event* e = l.times[i];
      if (!e->dead && e->armed && e->due_us <= now) {
        ++l.depth;
        l.dispatch_time(e);
        --l.depth;
      }
    }
    l.purge();
  }
  return true;
}

}  // namespace murmelin
