// SPDX-License-Identifier: GPL-3.0-or-later
#include "command_line.h"

#include <cstring>

#include "version.h"

namespace murmelin {

command_line_action read_command_line(int argc, const char* const* argv, std::FILE* out,
                                      std::FILE* err) {
  if (argc <= 1) return command_line_action::run;
  const char* arg = argv[1];
  if (argc == 2 && (std::strcmp(arg, "--version") == 0 || std::strcmp(arg, "-v") == 0)) {
    std::fprintf(out,
                 "Murmelin " MURMELIN_VERSION "\n"
                 "Copyright (C) BriskoData\n"
                 "License " MURMELIN_LICENSE ": GNU GPL version 3 or later "
                 "<https://gnu.org/licenses/gpl.html>.\n"
                 "This is free software: you are free to change and redistribute it.\n"
                 "There is NO WARRANTY, to the extent permitted by law.\n");
    return command_line_action::exit_ok;
  }
  if (argc == 2 && (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0)) {
    std::fprintf(out,
                 "Usage: murmelin [OPTION]\n"
                 "Plays continuous 16-bit stereo pink noise on an audio output device. Press "
                 "Play in the\nwindow to start and stop the noise; \"Settings...\" chooses the "
                 "level, sample rate,\nchannels, soft onset and output device.\n"
                 "\n"
                 "Options:\n"
                 "  -h, --help     show this help and exit\n"
                 "  -v, --version  show the version and licence and exit\n"
                 "\n"
                 "Settings file: ~/.config/BriskoData/Murmelin/" MURMELIN_VERSION
                 "/MurmelinSettings.qobfile\n"
                 "  (under $XDG_CONFIG_HOME instead of ~/.config when that is set)\n"
                 "Home page: " MURMELIN_HOMEPAGE "\n");
    return command_line_action::exit_ok;
  }
  std::fprintf(err, "murmelin: unknown option '%s' (try 'murmelin --help')\n", arg);
  return command_line_action::misuse;
}

}  // namespace murmelin
