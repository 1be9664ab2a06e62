// SPDX-License-Identifier: GPL-3.0-or-later
// Shared set-up of the player tests: a test backend selected for the test, posted messages
// delivered on request, and errors that reach the event loop's boundary collected.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <string>
#include <vector>

#include "cMPC.h"
#include "error_boundary.h"
#include "waveout_test_backend.h"

namespace murmelin::testing {

class PlayerTest : public ::testing::Test {
protected:
  PlayerTest() : tb(QStringList{"Speakers", "Headphones"}) {
    set_exception_reporter([this](const std::exception& e) { reported.push_back(e.what()); });
  }
  ~PlayerTest() override {
    set_exception_reporter(nullptr);
    QCoreApplication::sendPostedEvents();
  }

  // Hands every waiting message to its window, including messages posted while doing so.
  static void deliver() {
    for (int k = 0; k < 10; ++k) QCoreApplication::sendPostedEvents();
  }

  // Plays the oldest queued buffer and lets the player handle its return.
  bool play_one() {
    if (!tb->play_next()) return false;
    deliver();
    return true;
  }

  waveout_test_backend_scope tb;
  std::vector<std::string> reported;
};

}  // namespace murmelin::testing
