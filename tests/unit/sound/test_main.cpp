// SPDX-License-Identifier: GPL-3.0-or-later
// Test entry with a core application, so posted messages have an event loop to go through.
#include <gtest/gtest.h>

#include <QCoreApplication>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // SDL never reaches a real sound server from these tests: its disk driver writes what it
  // plays to a file the tests read back.
  qputenv("SDL_AUDIODRIVER", "disk");
  QCoreApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
