// SPDX-License-Identifier: GPL-3.0-or-later
// Test entry: the tests run on private session and system buses of their own.
#include "bus_rig.h"

int main(int argc, char** argv) { return bus_rig::run_with_private_buses(argc, argv); }
