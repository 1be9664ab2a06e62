// SPDX-License-Identifier: GPL-3.0-or-later
#include "hidden_window.h"

#include <QCoreApplication>
#include <QThread>

#include <mutex>
#include <unordered_map>
#include <vector>

#include "error_boundary.h"

namespace murmelin {

namespace {

// Storage for posted messages, reused so that posting allocates nothing once warmed up:
// Qt deletes each delivered event through its virtual destructor, which hands the block back
// here. Blocks are never returned to the heap.
class message_pool {
public:
  void* take(std::size_t size) {
    if (size > block_size) return ::operator new(size);
    std::lock_guard<std::mutex> g(lock);
    if (free_blocks.empty()) {
      free_blocks.reserve(made + 1);  // room to give every block back without allocating
      void* p = ::operator new(block_size);
      ++made;
      return p;
    }
    void* p = free_blocks.back();
    free_blocks.pop_back();
    return p;
  }
  void give(void* p, std::size_t size) noexcept {
    if (size > block_size) {
      ::operator delete(p);
      return;
    }
    std::lock_guard<std::mutex> g(lock);
    free_blocks.push_back(p);  // never allocates: capacity was reserved when p was made
  }
  static constexpr std::size_t block_size = 64;

private:
  std::mutex lock;
  std::vector<void*> free_blocks;
  std::size_t made = 0;  // blocks taken from the heap so far
};

message_pool& pool() {
  static message_pool* p = new message_pool;  // lives until the process ends
  return *p;
}

// A posted window message.
class message_event : public QEvent {
public:
  explicit message_event(const TMessage& m) : QEvent(hidden_window::message_event_type()), msg(m) {}
  TMessage msg;

  static void* operator new(std::size_t size) { return pool().take(size); }
  static void operator delete(void* p, std::size_t size) noexcept { pool().give(p, size); }
};
static_assert(sizeof(message_event) <= message_pool::block_size);

// Handle -> window. Posting looks the window up and posts under the same lock that the
// window's destructor takes to unregister, so a message is never posted to a window being
// destroyed.
struct window_registry {
  std::mutex lock;
  std::unordered_map<HWND, hidden_window*> windows;
  HWND next = 0;
};

window_registry& registry() {
  static window_registry r;
  return r;
}

}  // namespace

QEvent::Type hidden_window::message_event_type() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

intptr_t def_window_proc(HWND, uint32_t, uintptr_t, intptr_t) { return 0; }

hidden_window::hidden_window(handler_type handler, QObject* parent)
    : QObject(parent), fhandler(std::move(handler)) {
  message_event_type();  // registers the type on the creating thread, before any post
  auto& r = registry();
  std::lock_guard<std::mutex> g(r.lock);
  do {
    ++r.next;
  } while (r.next == 0 || r.windows.count(r.next) != 0);
  fhandle = r.next;
  r.windows.emplace(fhandle, this);
}

hidden_window::~hidden_window() {
  {
    auto& r = registry();
    std::lock_guard<std::mutex> g(r.lock);
    r.windows.erase(fhandle);
  }
  // Messages still waiting for this window are dropped.
  QCoreApplication::removePostedEvents(this, message_event_type());
}

void hidden_window::dispatch(TMessage& m) {
  if (fhandler) {
    guarded([&] { fhandler(m); });
  } else {
    m.Result = def_window_proc(fhandle, m.Msg, m.WParam, m.LParam);
  }
}

bool hidden_window::event(QEvent* e) {
  if (e->type() == message_event_type()) {
    dispatch(static_cast<message_event*>(e)->msg);
    return true;
  }
  return QObject::event(e);
}

bool post_message(HWND hwnd, uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  auto& r = registry();
  std::lock_guard<std::mutex> g(r.lock);
  auto it = r.windows.find(hwnd);
  if (it == r.windows.end()) return false;
  TMessage m;
  m.Msg = msg;
  m.WParam = wparam;
  m.LParam = lparam;
  QCoreApplication::postEvent(it->second, new message_event(m));
  return true;
}

intptr_t send_message(HWND hwnd, uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  hidden_window* w = nullptr;
  {
    auto& r = registry();
    std::lock_guard<std::mutex> g(r.lock);
    auto it = r.windows.find(hwnd);
    if (it == r.windows.end()) return 0;
    w = it->second;
  }
  TMessage m;
  m.Msg = msg;
  m.WParam = wparam;
  m.LParam = lparam;
  w->dispatch(m);
  return m.Result;
}

}  // namespace murmelin

namespace murmelin {

bool is_window(HWND hwnd) {
  auto& r = registry();
  std::lock_guard<std::mutex> g(r.lock);
  return r.windows.count(hwnd) != 0;
}

}  // namespace murmelin
