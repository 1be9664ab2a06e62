// SPDX-License-Identifier: GPL-3.0-or-later
// The program's command line: --version and --help answer without a display; anything else
// is refused with one line.
#pragma once

#include <cstdio>

namespace murmelin {

// What the command line asks for.
enum class command_line_action {
  run,      // no options: start the program
  exit_ok,  // --version or --help: answered, exit 0
  misuse,   // an unknown option or an argument: one line on standard error, exit 2
};

// Reads the arguments (argv[1..argc-1]) and answers --version and --help on OUT, a misuse on
// ERR. Touches no file and needs no display.
command_line_action read_command_line(int argc, const char* const* argv, std::FILE* out,
                                      std::FILE* err);

}  // namespace murmelin
