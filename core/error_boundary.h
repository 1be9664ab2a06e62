// SPDX-License-Identifier: GPL-3.0-or-later
// The boundary between the event loop and the program's handlers: an exception that escapes a
// slot, an event() override or the hidden window's handler is handed to the application's
// default error handler here and never unwinds through Qt's own frames.
#pragma once

#include <exception>
#include <functional>
#include <stdexcept>
#include <utility>

namespace murmelin {

using exception_reporter = std::function<void(const std::exception&)>;

// Installs the application's default error handler; an empty function restores the fallback,
// which writes the message to standard error.
void set_exception_reporter(exception_reporter reporter);

// Hands the exception to the installed handler. Never throws.
void report_exception(const std::exception& e) noexcept;

// Runs f and reports whatever it throws.
template <typename F>
void guarded(F&& f) noexcept {
  try {
    std::forward<F>(f)();
  } catch (const std::exception& e) {
    report_exception(e);
  } catch (...) {
    report_exception(std::runtime_error("Unknown error"));
  }
}

}  // namespace murmelin
