// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>

#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "error_boundary.h"
#include "hidden_window.h"

namespace murmelin {
namespace {

struct seen_message {
  uint32_t msg;
  uintptr_t wparam;
  intptr_t lparam;
  QThread* thread;
};

class HiddenWindow : public ::testing::Test {
protected:
  void TearDown() override { set_exception_reporter(nullptr); }

  hidden_window::handler_type recorder() {
    return [this](TMessage& m) {
      seen.push_back({m.Msg, m.WParam, m.LParam, QThread::currentThread()});
    };
  }

  std::vector<seen_message> seen;
};

TEST_F(HiddenWindow, PostedMessagesArriveLaterInOrderWithTheirParameters) {
  hidden_window w(recorder());
  ASSERT_NE(w.handle(), 0u);
  ASSERT_TRUE(is_window(w.handle()));
  for (uint32_t k = 0; k < 5; ++k)
    ASSERT_TRUE(post_message(w.handle(), 0x400 + k, k * 10, -static_cast<intptr_t>(k)));
  EXPECT_TRUE(seen.empty()) << "a posted message must not be handled inside the post";
  QCoreApplication::sendPostedEvents();
  ASSERT_EQ(seen.size(), 5u);
  for (uint32_t k = 0; k < 5; ++k) {
    EXPECT_EQ(seen[k].msg, 0x400 + k);
    EXPECT_EQ(seen[k].wparam, k * 10);
    EXPECT_EQ(seen[k].lparam, -static_cast<intptr_t>(k));
  }
}

TEST_F(HiddenWindow, MessagesPostedFromAnotherThreadAreHandledOnTheWindowsThread) {
  hidden_window w(recorder());
  const HWND h = w.handle();
  std::thread t([h] {
    for (int k = 0; k < 100; ++k) post_message(h, 0x500, static_cast<uintptr_t>(k), 0);
  });
  t.join();
  QCoreApplication::sendPostedEvents();
  ASSERT_EQ(seen.size(), 100u);
  for (std::size_t k = 0; k < seen.size(); ++k) {
    EXPECT_EQ(seen[k].wparam, k);
    EXPECT_EQ(seen[k].thread, QThread::currentThread());
  }
}

TEST_F(HiddenWindow, HandlesAreUniqueAndDieWithTheWindow) {
  HWND first;
  {
    hidden_window a(recorder());
    hidden_window b(recorder());
    EXPECT_NE(a.handle(), b.handle());
    first = a.handle();
    ASSERT_TRUE(post_message(first, 0x401, 0, 0));
  }
  // The waiting message is dropped with the window, the handle is dead and not reused.
  QCoreApplication::sendPostedEvents();
  EXPECT_TRUE(seen.empty());
  EXPECT_FALSE(is_window(first));
  EXPECT_FALSE(post_message(first, 0x401, 0, 0));
  EXPECT_EQ(send_message(first, 0x401, 0, 0), 0);
  hidden_window c(recorder());
  EXPECT_NE(c.handle(), first);
  EXPECT_FALSE(post_message(0, 0x401, 0, 0));
}

TEST_F(HiddenWindow, SendMessageReturnsTheResultTheHandlerLeaves) {
  hidden_window w([](TMessage& m) {
    if (m.Msg == 0x410) {
      m.Result = static_cast<intptr_t>(m.WParam) + m.LParam;
    } else {
      m.Result = def_window_proc(0, m.Msg, m.WParam, m.LParam);
    }
  });
  EXPECT_EQ(send_message(w.handle(), 0x410, 40, 2), 42);
  EXPECT_EQ(send_message(w.handle(), 0x411, 40, 2), 0);
  hidden_window plain(nullptr);  // no handler: everything gets the default handling
  EXPECT_EQ(send_message(plain.handle(), 0x410, 40, 2), 0);
  EXPECT_TRUE(post_message(plain.handle(), 0x410, 40, 2));
  QCoreApplication::sendPostedEvents();
}

TEST_F(HiddenWindow, AnExceptionFromTheHandlerIsReportedAndTheLoopGoesOn) {
  std::vector<std::string> reported;
  set_exception_reporter([&](const std::exception& e) { reported.push_back(e.what()); });
  int handled = 0;
  hidden_window w([&](TMessage& m) {
    ++handled;
    if (m.Msg == 0x420) throw std::runtime_error("handler failed");
  });
  post_message(w.handle(), 0x420, 0, 0);
  post_message(w.handle(), 0x421, 0, 0);
  EXPECT_NO_THROW(QCoreApplication::sendPostedEvents());
  EXPECT_EQ(handled, 2);
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_EQ(reported[0], "handler failed");
}

}  // namespace
}  // namespace murmelin
