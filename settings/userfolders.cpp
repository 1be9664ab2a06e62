// SPDX-License-Identifier: GPL-3.0-or-later
#include "userfolders.h"

#include <QDir>
#include <QFile>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace murmelin {

namespace {

QString absolute_from_env(const char* name) {
  const QString value = QFile::decodeName(qgetenv(name));
  return !value.isEmpty() && QDir::isAbsolutePath(value) ? value : QString();
}

QString account_home_folder() {
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(static_cast<std::size_t>(size > 0 ? size : 16384));
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
      found->pw_dir == nullptr)
    return {};
  const QString home = QFile::decodeName(found->pw_dir);
  return QDir::isAbsolutePath(home) ? home : QString();
}

}  // namespace

QString user_home_folder() {
  const QString home = absolute_from_env("HOME");
  return home.isEmpty() ? account_home_folder() : home;
}

QString user_config_folder() {
  const QString config = absolute_from_env("XDG_CONFIG_HOME");
  if (!config.isEmpty()) return config;
  const QString home = user_home_folder();
  return home.isEmpty() ? QString() : QDir(home).filePath(QStringLiteral(".config"));
}

}  // namespace murmelin
