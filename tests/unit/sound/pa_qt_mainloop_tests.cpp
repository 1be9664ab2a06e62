// SPDX-License-Identifier: GPL-3.0-or-later
// The libpulse main loop interface on the Qt event loop: descriptors, timers on both of
// libpulse's clocks and deferred events fire from the Qt loop and from the bounded wait alike,
// and events freed from inside their own callbacks are safe.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "pa_qt_mainloop.h"

namespace murmelin {
namespace {

struct pipe_pair {
  int fd[2] = {-1, -1};
  pipe_pair() { EXPECT_EQ(::pipe(fd), 0); }
  ~pipe_pair() {
    ::close(fd[0]);
    ::close(fd[1]);
  }
  void put() { ASSERT_EQ(::write(fd[1], "x", 1), 1); }
  void take() {
    char c;
    ASSERT_EQ(::read(fd[0], &c, 1), 1);
  }
};

// Runs the Qt event loop until pred holds; the 10 s limit only bounds a hang.
bool qt_until(const std::function<bool()>& pred) {
  QDeadlineTimer deadline(10000);
  while (!pred()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

// A point ms from now, on libpulse's monotonic clock (marked as such) or the wall clock.
timeval in_ms(int ms, bool monotonic) {
  timeval tv;
  if (monotonic) {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    tv.tv_sec = ts.tv_sec;
    tv.tv_usec = ts.tv_nsec / 1000;
  } else {
    gettimeofday(&tv, nullptr);
  }
  tv.tv_usec += ms * 1000L;
  tv.tv_sec += tv.tv_usec / 1000000;
  tv.tv_usec %= 1000000;
  if (monotonic) tv.tv_usec |= 1L << 30;
  return tv;
}

struct counter {
  int fired = 0;
  bool free_self = false;
  bool destroyed = false;
};

TEST(PaQtMainloop, DescriptorsFireFromTheQtLoopAndFromTheBoundedWait) {
  pa_qt_mainloop loop;
  pa_mainloop_api* api = loop.api();
  pipe_pair p;
  counter c;
  pa_io_event* e = api->io_new(
      api, p.fd[0], PA_IO_EVENT_INPUT,
      [](pa_mainloop_api* a, pa_io_event* ev, int fd, pa_io_event_flags_t flags, void* u) {
        auto* c = static_cast<counter*>(u);
        EXPECT_TRUE(flags & PA_IO_EVENT_INPUT);
        char ch;
        EXPECT_EQ(::read(fd, &ch, 1), 1);
        if (++c->fired == 3 && c->free_self) a->io_free(ev);
      },
      &c);
  api->io_set_destroy(e, [](pa_mainloop_api*, pa_io_event*, void* u) {
    static_cast<counter*>(u)->destroyed = true;
  });
  p.put();
  ASSERT_TRUE(qt_until([&] { return c.fired == 1; }));
  p.put();
  EXPECT_TRUE(loop.wait([&] { return c.fired == 2; }, 5000));
  // Disabled: no callback although data waits.
  api->io_enable(e, PA_IO_EVENT_NULL);
  p.put();
  EXPECT_FALSE(loop.wait([&] { return c.fired == 3; }, 100));
  for (int k = 0; k < 5; ++k) QCoreApplication::processEvents();
  EXPECT_EQ(c.fired, 2);
  // Enabled again, the callback frees its own event.
  c.free_self = true;
  api->io_enable(e, PA_IO_EVENT_INPUT);
  ASSERT_TRUE(qt_until([&] { return c.destroyed; }));
  EXPECT_EQ(c.fired, 3);
  p.put();
  for (int k = 0; k < 5; ++k) QCoreApplication::processEvents();
  EXPECT_EQ(c.fired, 3) << "a freed event never fires again";
}

TEST(PaQtMainloop, TimersOnBothClocksFireOnceAndCanBeRestartedOrFreed) {
  pa_qt_mainloop loop;
  pa_mainloop_api* api = loop.api();
  auto tick = [](pa_mainloop_api*, pa_time_event*, const timeval*, void* u) {
    ++static_cast<counter*>(u)->fired;
  };
  for (bool monotonic : {true, false}) {
    SCOPED_TRACE(monotonic);
    counter c;
    timeval tv = in_ms(20, monotonic);
    pa_time_event* e = api->time_new(api, &tv, tick, &c);
    ASSERT_TRUE(qt_until([&] { return c.fired == 1; }));
    tv = in_ms(20, monotonic);
    api->time_restart(e, &tv);
    EXPECT_TRUE(loop.wait([&] { return c.fired == 2; }, 5000));
    EXPECT_FALSE(loop.wait([&] { return c.fired == 3; }, 100)) << "fires once per start";
    tv = in_ms(20, monotonic);
    api->time_restart(e, &tv);
    api->time_free(e);
    EXPECT_FALSE(loop.wait([&] { return c.fired == 3; }, 100));
    for (int k = 0; k < 5; ++k) QCoreApplication::processEvents();
    EXPECT_EQ(c.fired, 2);
  }
  // A timer far away does not hold the wait beyond its limit.
  counter late;
  timeval far = in_ms(60000, true);
  pa_time_event* e = api->time_new(api, &far, tick, &late);
  QDeadlineTimer bound(5000);
  EXPECT_FALSE(loop.wait([] { return false; }, 50));
  EXPECT_FALSE(bound.hasExpired());
  api->time_free(e);
}

TEST(PaQtMainloop, DeferredEventsRunOnEveryPassWhileEnabled) {
  pa_qt_mainloop loop;
  pa_mainloop_api* api = loop.api();
  counter c;
  pa_defer_event* e = api->defer_new(
      api,
      [](pa_mainloop_api* a, pa_defer_event* ev, void* u) {
        auto* c = static_cast<counter*>(u);
        if (++c->fired == 3) a->defer_enable(ev, 0);
      },
      &c);
  ASSERT_TRUE(qt_until([&] { return c.fired == 3; }));
  for (int k = 0; k < 5; ++k) QCoreApplication::processEvents();
  EXPECT_EQ(c.fired, 3) << "disabled from its own callback";
  api->defer_enable(e, 1);
  EXPECT_TRUE(loop.wait([&] { return c.fired >= 4; }, 5000));
  api->defer_free(e);
  for (int k = 0; k < 5; ++k) QCoreApplication::processEvents();
  const int after_free = c.fired;
  for (int k = 0; k < 5; ++k) QCoreApplication::processEvents();
  EXPECT_EQ(c.fired, after_free);
}

// What a descriptor's callback enables runs as soon as that dispatch ends, before anything the
// callback posted (as a poll loop runs its deferred events before it polls again), and what a
// bounded wait leaves enabled when it returns still runs on the Qt loop.
TEST(PaQtMainloop, DeferredEventsEnabledByACallbackRunWhenItsDispatchEnds) {
  pa_qt_mainloop loop;
  pa_mainloop_api* api = loop.api();
  struct state {
    std::string order;
    pa_defer_event* defer = nullptr;
    bool done = false;
  } st;
  st.defer = api->defer_new(
      api,
      [](pa_mainloop_api* a, pa_defer_event* ev, void* u) {
        static_cast<state*>(u)->order += 'D';
        a->defer_enable(ev, 0);
      },
      &st);
  api->defer_enable(st.defer, 0);
  for (int k = 0; k < 5; ++k) QCoreApplication::processEvents();
  ASSERT_EQ(st.order, "");
  pipe_pair p;
  pa_io_event* e = api->io_new(
      api, p.fd[0], PA_IO_EVENT_INPUT,
      [](pa_mainloop_api* a, pa_io_event*, int fd, pa_io_event_flags_t, void* u) {
        auto* st = static_cast<state*>(u);
        char ch;
        EXPECT_EQ(::read(fd, &ch, 1), 1);
        st->order += 'I';
        QMetaObject::invokeMethod(QCoreApplication::instance(), [st] { st->order += 'P'; },
                                  Qt::QueuedConnection);
        a->defer_enable(st->defer, 1);
        st->done = true;
      },
      &st);
  p.put();
  ASSERT_TRUE(qt_until([&] { return st.order.size() >= 3; }));
  EXPECT_EQ(st.order, "IDP");

  // The wait ends with the callback that enabled the deferred event.
  st.order.clear();
  st.done = false;
  p.put();
  ASSERT_TRUE(loop.wait([&] { return st.done; }, 5000));
  ASSERT_TRUE(qt_until([&] { return st.order.find('D') != std::string::npos; }))
      << "the deferred event left enabled by the wait never ran";
  EXPECT_EQ(st.order.substr(0, 1), "I");
  api->io_free(e);
  api->defer_free(st.defer);
  for (int k = 0; k < 5; ++k) QCoreApplication::processEvents();
}

}  // namespace
}  // namespace murmelin
