// SPDX-License-Identifier: GPL-3.0-or-later
// Bitmap files from the header-less bitmaps that resources hold.
#pragma once

#include <QByteArray>

namespace murmelin {

// The bytes of a bitmap file for a header-less bitmap: a 14-byte file header whose type is
// "BM", with the file size and the offset of the pixels filled in, followed by dib. Raises
// EConvertError when dib is too short to hold an info header and its colour table.
QByteArray bitmap_file_from_dib(const QByteArray& dib);

}  // namespace murmelin
