// SPDX-License-Identifier: GPL-3.0-or-later
// What the tests reach inside the main window that the program itself keeps private.
#pragma once

#include <QString>

#include "smurmelin1.h"
#include "spinknoise.h"

namespace murmelin {

struct form1_test_access {
  static tpinknoise& pinknoise(TForm1& f) { return f.pinknoise; }
  static bool activated(const TForm1& f) { return f.activated; }
  static void load_settings(TForm1& f, const QString& fname) { f.load_settings(fname); }
};

}  // namespace murmelin
