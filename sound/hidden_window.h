// SPDX-License-Identifier: GPL-3.0-or-later
// The hidden message window: a QObject that is never shown and receives window messages
// (number, two parameters and a result) posted to it by handle, possibly from other threads.
// Every message goes to one handler; what the handler leaves to it gets the default handling.
#pragma once

#include <QEvent>
#include <QObject>

#include <cstdint>
#include <functional>

namespace murmelin {

// A window message: its number, two parameters and the result of its handling.
struct TMessage {
  uint32_t Msg = 0;
  uintptr_t WParam = 0;
  intptr_t LParam = 0;
  intptr_t Result = 0;
};

// Handle of a hidden window; 0 is never a valid handle.
using HWND = uint32_t;

// The default handling of a message that a handler does not handle itself: it does nothing
// and yields 0 as the message's result.
intptr_t def_window_proc(HWND hwnd, uint32_t msg, uintptr_t wparam, intptr_t lparam);

// Posts a message to the hidden window with this handle; it is handled later, in order, by the
// event loop of the thread that created the window, never inside this call. Safe to call from
// any thread. Returns false (and drops the message) when no such window exists.
bool post_message(HWND hwnd, uint32_t msg, uintptr_t wparam, intptr_t lparam);

// True while a hidden window with this handle exists.
bool is_window(HWND hwnd);

// Hands a message to the hidden window's handler at once and returns its result. Only from the
// thread that created the window. Returns 0 when no such window exists.
intptr_t send_message(HWND hwnd, uint32_t msg, uintptr_t wparam, intptr_t lparam);

class hidden_window : public QObject {
  Q_OBJECT
public:
  using handler_type = std::function<void(TMessage&)>;

  // An empty handler leaves every message to the default handling.
  explicit hidden_window(handler_type handler, QObject* parent = nullptr);
  ~hidden_window() override;

  // The handle by which messages are posted to this window; unique for the process lifetime.
  HWND handle() const { return fhandle; }

  // The event type that carries posted messages.
  static QEvent::Type message_event_type();

protected:
  bool event(QEvent* e) override;

private:
  friend intptr_t send_message(HWND, uint32_t, uintptr_t, intptr_t);
  void dispatch(TMessage& m);

  handler_type fhandler;
  HWND fhandle;
};

}  // namespace murmelin
