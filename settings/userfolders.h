// SPDX-License-Identifier: GPL-3.0-or-later
// The user's folders that the settings file lives in.
#pragma once

#include <QString>

namespace murmelin {

// HOME when it is an absolute path; otherwise the account's home folder from the user
// database; empty when neither can be had.
QString user_home_folder();

// The per-user configuration folder by the XDG base directory rules: XDG_CONFIG_HOME when it
// is an absolute path (a relative one is ignored), otherwise <home>/.config; empty without a
// home folder.
QString user_config_folder();

}  // namespace murmelin
