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

// The clock rule: a libpulse timeval is a point on the monotonic clock when it carries
// libpulse's mark, and a wall-clock time otherwise; either becomes a point on the monotonic
// clock, which every timer of this loop runs on.
int64_t due_from(const timeval* tv) {
  const int64_t usec = tv->tv_usec & ~timeval_rtclock_bit;
  const int64_t at = int64_t{tv->tv_sec} * 1000000 + usec;
  if (tv->tv_usec & timeval_rtclock_bit) return at;
  timeval now;
  gettimeofday(&now, nullptr);
  return monotonic_us() + (at - (int64_t{now.tv_sec} * 1000000 + now.tv_usec));
}

}  // namespace

struct pa_qt_mainloop::impl {
  pa_mainloop_api* api = nullptr;
  std::vector<pa_io_event*> ios;
  std::vector<pa_time_event*> times;
  std::vector<pa_defer_event*> defers;
  int depth = 0;  // dispatches in progress (callbacks into libpulse, and wait()'s passes)

  // The posted event that runs the deferred events on the next event-loop pass, when they
  // are enabled outside any dispatch (at most one waits). Its storage lives here, two blocks
  // because a new pass may be posted while Qt still holds the one it is delivering, so
  // playing allocates nothing.
  struct pass_block {
    alignas(std::max_align_t) unsigned char bytes[64];
    bool used = false;
  };
  pass_block pass_blocks[2];
  QObject* pass_receiver = nullptr;
  bool pass_posted = false;

  // The one rule for freeing: libpulse may free an event from any callback, its own
  // included. A freed event is marked dead at once (it never fires again) and deleted, with
  // its notifier or timer, when the outermost dispatch ends, or at once when none runs. Qt
  // allows a notifier or a timer to be deleted from its own signal. Before deleting, the end
  // of a dispatch runs the deferred events that it enabled, as a poll loop runs them before it
  // polls again.
  template <typename F>
  void dispatch(F&& f) {
    ++depth;
    f();
    if (--depth == 0) settle();
  }

  void settle() {
    if (any_defer_enabled()) {
      ++depth;
      // Index loop: callbacks may add events.
      for (std::size_t i = 0; i < defers.size(); ++i) {
        pa_defer_event* e = defers[i];
        if (!e->dead && e->enabled) e->cb(api, e, e->userdata);
      }
      --depth;
    }
    delete_dead();
    post_pass();
  }

  bool any_defer_enabled() const {
    return std::any_of(defers.begin(), defers.end(),
                       [](pa_defer_event* e) { return !e->dead && e->enabled; });
  }

  // Outside any dispatch, enabled deferred events run on the event loop's next pass.
  void post_pass() {
    if (pass_posted || depth > 0 || !any_defer_enabled()) return;
    for (pass_block& b : pass_blocks) {
      if (b.used) continue;
      pass_posted = true;
      QCoreApplication::postEvent(pass_receiver, new (b) pass_event);
      return;
    }
  }

  class pass_event : public QEvent {
  public:
    static QEvent::Type type() {
      static const auto t = static_cast<QEvent::Type>(QEvent::registerEventType());
      return t;
    }
    pass_event() : QEvent(type()) {}
    static void* operator new(std::size_t size, pass_block& b) {
      static_assert(sizeof(pass_event) <= sizeof(pass_block::bytes));
      (void)size;
      b.used = true;
      return b.bytes;
    }
    // The block is the event's own address (bytes comes first in it).
    static void operator delete(void* p) noexcept { static_cast<pass_block*>(p)->used = false; }
    static void operator delete(void* p, pass_block&) noexcept { operator delete(p); }
  };

  void run_pass() {
    pass_posted = false;
    dispatch([] {});
  }

  void dispatch_io(pa_io_event* e, pa_io_event_flags_t flags) {
    if (e->dead || !(flags & (e->events | PA_IO_EVENT_HANGUP | PA_IO_EVENT_ERROR))) return;
    dispatch([&] { e->cb(api, e, e->fd, flags, e->userdata); });
  }

  void dispatch_time(pa_time_event* e) {
    if (e->dead || !e->armed) return;
    e->armed = false;
    if (e->timer) e->timer->stop();
    timeval now;
    gettimeofday(&now, nullptr);
    dispatch([&] { e->cb(api, e, &now, e->userdata); });
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

  // A freed event: marked dead, its destroy callback run, deleted under the rule above.
  template <typename E>
  void free_event(E* e) {
    e->dead = true;
    if (e->destroy) e->destroy(api, e, e->userdata);
    if (depth == 0) delete_dead();
  }

  void delete_dead() {
    auto sweep = [](auto& list, auto&& drop) {
      auto it = std::remove_if(list.begin(), list.end(), [&](auto* e) {
        if (!e->dead) return false;
        drop(e);
        return true;
      });
      list.erase(it, list.end());
    };
    sweep(ios, [](pa_io_event* e) {
      delete e->read;
      delete e->write;
      delete e;
    });
    sweep(times, [](pa_time_event* e) {
      delete e->timer;
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
  QObject::connect(e->read, &QSocketNotifier::activated,
                   [l, e] { l->dispatch_io(e, PA_IO_EVENT_INPUT); });
  QObject::connect(e->write, &QSocketNotifier::activated,
                   [l, e] { l->dispatch_io(e, PA_IO_EVENT_OUTPUT); });
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
  e->loop->free_event(e);
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
  QObject::connect(e->timer, &QTimer::timeout, [l, e] { l->dispatch_time(e); });
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
  e->armed = false;
  e->timer->stop();
  e->loop->free_event(e);
}

void time_set_destroy(pa_time_event* e, pa_time_event_destroy_cb_t cb) { e->destroy = cb; }

pa_defer_event* defer_new(pa_mainloop_api* a, pa_defer_event_cb_t cb, void* userdata) {
  impl* l = loop_of(a);
  auto* e = new pa_defer_event{l};
  e->cb = cb;
  e->userdata = userdata;
  l->defers.push_back(e);
  l->post_pass();
  return e;
}

void defer_enable(pa_defer_event* e, int b) {
  e->enabled = b != 0;
  e->loop->post_pass();
}

void defer_free(pa_defer_event* e) { e->loop->free_event(e); }

void defer_set_destroy(pa_defer_event* e, pa_defer_event_destroy_cb_t cb) { e->destroy = cb; }

// Nobody runs this loop but the Qt event loop: there is nothing to quit.
void quit(pa_mainloop_api*, int) {}

}  // namespace

namespace {

class pass_receiver : public QObject {
public:
  explicit pass_receiver(impl* l) : floop(l) {}
  bool event(QEvent* e) override {
    if (e->type() != impl::pass_event::type()) return QObject::event(e);
    floop->run_pass();
    return true;
  }

private:
  impl* floop;
};

}  // namespace

namespace murmelin {

pa_qt_mainloop::pa_qt_mainloop() : fapi{}, fimpl(new impl) {
  fimpl->api = &fapi;
  fimpl->pass_receiver = new pass_receiver(fimpl);
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
  delete fimpl->pass_receiver;  // drops a pass still waiting
  delete fimpl;
}

void pa_qt_mainloop::dispatch(const std::function<void()>& f) { fimpl->dispatch(f); }

bool pa_qt_mainloop::wait(const std::function<bool()>& done, int timeout_ms) {
  impl& l = *fimpl;
  const int64_t deadline = monotonic_us() + int64_t{timeout_ms} * 1000;
  std::vector<pollfd> fds;
  std::vector<pa_io_event*> polled;
  while (!done()) {
    // Each pass is one dispatch: the events polled stay allocated until it ends, and it ends
    // by running the deferred events (what it leaves enabled runs on the event loop).
    l.dispatch([] {});
    if (done()) return true;

    int64_t now = monotonic_us();
    if (now >= deadline) return false;
    int64_t wake = deadline;
    for (pa_time_event* e : l.times)
      if (!e->dead && e->armed) wake = std::min(wake, e->due_us);
    const int timeout = l.any_defer_enabled()
                            ? 0
                            : static_cast<int>(std::max<int64_t>(0, (wake - now + 999) / 1000));

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
    l.dispatch([&] {
      for (std::size_t i = 0; n > 0 && i < fds.size(); ++i) {
        const short r = fds[i].revents;
        if (!r) continue;
        int flags = 0;
        if (r & POLLIN) flags |= PA_IO_EVENT_INPUT;
        if (r & POLLOUT) flags |= PA_IO_EVENT_OUTPUT;
        if (r & POLLHUP) flags |= PA_IO_EVENT_HANGUP;
        if (r & (POLLERR | POLLNVAL)) flags |= PA_IO_EVENT_ERROR;
        l.dispatch_io(polled[i], static_cast<pa_io_event_flags_t>(flags));
      }
      const int64_t due = monotonic_us();
      for (std::size_t i = 0; i < l.times.size(); ++i) {
        pa_time_event* e = l.times[i];
        if (!e->dead && e->armed && e->due_us <= due) l.dispatch_time(e);
      }
    });
  }
  return true;
}

}  // namespace murmelin
