// SPDX-License-Identifier: GPL-3.0-or-later
// Reading and writing the bytes of a settings file, with the rules for what stands at its
// name: symbolic links are followed; only a regular file is ever read, created or replaced;
// a character device or FIFO (say a link to /dev/null, to throw the settings away) is written
// to directly, never blocking.
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>
#include <string>

namespace murmelin {

// The largest settings file that is read; a larger one counts as damaged.
constexpr qint64 kMaxSettingsFileSize = 16 * 1024 * 1024;

// The first at most max_bytes bytes of the regular file at path; nothing when there is no
// regular file there, it cannot be read, or it is larger than max_size (then it is not read).
std::optional<QByteArray> read_regular_file(const QString& path, qint64 max_bytes, qint64 max_size);

// Puts bytes into the file at path (name, the 8-bit spelling, is for messages):
// - a regular file, or nothing yet, is replaced atomically; when its folder allows no
//   temporary file, an existing writable file is overwritten in place;
// - a character device or FIFO is written to directly when that cannot block;
// - anything else is left alone.
// Raises EInOutError "Unable to create file <name>: <why>" or "Unable to write file <name>:
// <why>"; a regular file is then left as it was.
void write_file_bytes(const QString& path, const std::string& name, const QByteArray& bytes);

}  // namespace murmelin
