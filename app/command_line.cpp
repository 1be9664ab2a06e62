// SPDX-License-Identifier: GPL-3.0-or-later
#include "command_line.h"

#include <QString>

#include <cstring>

#include "translation.h"
#include "version.h"

namespace murmelin {

namespace {

// TEXT written to FILE as the locale encodes it.
void print(std::FILE* file, const QString& text) {
  std::fputs(text.toLocal8Bit().constData(), file);
}


}  // namespace

command_line_action read_command_line(int argc, const char* const* argv, std::FILE* out,
                                      std::FILE* err) {
  if (argc <= 1) return command_line_action::run;
  const char* arg = argv[1];
  if (argc == 2 && (std::strcmp(arg, "--version") == 0 || std::strcmp(arg, "-v") == 0)) {
    print(out, translated("command_line",
                          "Murmelin %1\n"
                          "Copyright (C) BriskoData\n"
                          "License %2: GNU GPL version 3 or later "
                          "<https://gnu.org/licenses/gpl.html>.\n"
                          "This is free software: you are free to change and redistribute it.\n"
                          "There is NO WARRANTY, to the extent permitted by law.\n")
                   .arg(QStringLiteral(MURMELIN_VERSION), QStringLiteral(MURMELIN_LICENSE)));
    return command_line_action::exit_ok;
  }
  if (argc == 2 && (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0)) {
    print(out, translated("command_line",
                          "Usage: murmelin [OPTION]\n"
                          "Plays continuous 16-bit stereo pink noise on an audio output device. "
                          "Press Play in the\nwindow to start and stop the noise; "
                          "\"Settings...\" chooses the level, sample rate,\nchannels, soft "
                          "onset, output device and a time after which the noise stops.\n"
                          "\n"
                          "Options:\n"
                          "  -h, --help     show this help and exit\n"
                          "  -v, --version  show the version and licence and exit\n"
                          "\n"
                          "Settings file: %1\n"
                          "  (under $XDG_CONFIG_HOME instead of ~/.config when that is set)\n"
                          "Home page: %2\n")
                   .arg(QStringLiteral("~/.config/BriskoData/Murmelin/" MURMELIN_VERSION
                                       "/MurmelinSettings.qobfile"),
                        QStringLiteral(MURMELIN_HOMEPAGE)));
    return command_line_action::exit_ok;
  }
  print(err, translated("command_line", "murmelin: unknown option '%1' (try 'murmelin --help')\n")
                 .arg(QString::fromLocal8Bit(arg)));
  return command_line_action::misuse;
}

}  // namespace murmelin
