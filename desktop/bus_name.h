// SPDX-License-Identifier: GPL-3.0-or-later
// Asking the session bus for a well-known name.
#pragma once

#include <QDBusMessage>
#include <QString>

namespace murmelin {

// The bus's RequestName call for name; the request fails at once rather than waiting in line
// when another connection owns the name.
inline QDBusMessage request_name_call(const QString& name) {
  constexpr uint do_not_queue = 4;
  QDBusMessage m = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
      QStringLiteral("org.freedesktop.DBus"), QStringLiteral("RequestName"));
  m << name << do_not_queue;
  return m;
}

}  // namespace murmelin
