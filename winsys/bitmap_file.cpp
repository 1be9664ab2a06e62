// SPDX-License-Identifier: GPL-3.0-or-later
#include "bitmap_file.h"

#include <QtEndian>

#include <cstdint>
#include <cstring>

#include "exceptions.h"

namespace murmelin {

namespace {

// Little-endian fields of the headers.
uint32_t read_le(const QByteArray& b, int at, int size) {
  if (at < 0 || size > b.size() - at) throw EConvertError("Bitmap resource too short for its header");
  uint32_t v = 0;
  for (int i = size - 1; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(b.at(at + i));
  return v;
}
uint32_t read_u32(const QByteArray& b, int at) { return read_le(b, at, 4); }
uint16_t read_u16(const QByteArray& b, int at) { return static_cast<uint16_t>(read_le(b, at, 2)); }
void write_u32(QByteArray& b, int at, uint32_t v) {
  v = qToLittleEndian(v);
  std::memcpy(b.data() + at, &v, 4);
}

}  // namespace

QByteArray bitmap_file_from_dib(const QByteArray& dib) {
  constexpr int file_header = 14;
  if (dib.size() < 40) throw EConvertError("Bitmap resource too short for its header");
  const uint32_t info_size = read_u32(dib, 0);
  const uint16_t bits = read_u16(dib, 14);
  const uint32_t compression = read_u32(dib, 16);
  uint32_t colours = read_u32(dib, 32);
  if (colours == 0 && bits <= 8) colours = 1u << bits;
  // Bit fields follow a 40-byte header as three masks.
  const uint32_t masks = (info_size == 40 && compression == 3) ? 12 : 0;
  const uint64_t pixels_at = uint64_t{file_header} + info_size + masks + uint64_t{colours} * 4;
  if (info_size < 40 || colours > 256 || pixels_at > uint64_t(dib.size()) + file_header) {
    throw EConvertError("Bitmap resource has an invalid header");
  }
  QByteArray file(file_header, '\0');
  file[0] = 'B';
  file[1] = 'M';
  write_u32(file, 2, static_cast<uint32_t>(file_header + dib.size()));
  write_u32(file, 10, static_cast<uint32_t>(pixels_at));
  file.append(dib);
  return file;
}

}  // namespace murmelin
