// SPDX-License-Identifier: GPL-3.0-or-later
#include "namefold.h"

#include <algorithm>

namespace murmelin {

namespace {

// Length of a valid UTF-8 sequence starting at s[i] and its code point, or 0 when invalid.
int decode_utf8(const std::string& s, std::size_t i, char32_t& cp) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char b0 = byte(i);
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  }
  int len;
  char32_t min;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2;
    cp = b0 & 0x1F;
    min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3;
    cp = b0 & 0x0F;
    min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4;
    cp = b0 & 0x07;
    min = 0x10000;
  } else {
    return 0;
  }
  if (s.size() - i < static_cast<std::size_t>(len)) return 0;
  for (int k = 1; k < len; ++k) {
    const unsigned char b = byte(i + k);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

// ASCII names, nearly all of them, fold to themselves with A-Z lower-cased, ended at the first
// NUL and cut to the length limit.
bool is_ascii(const std::string& name) {
  return std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::size_t ascii_folded_length(const std::string& name) {
  return std::min({name.find('\0'), name.size(), static_cast<std::size_t>(kMaxFoldedNameLength)});
}

char16_t ascii_lower(char c) { return static_cast<char16_t>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c); }

// FNV-1a over UTF-16 units.
constexpr uint64_t kHashStart = 0xcbf29ce484222325u;
inline uint64_t hash_unit(uint64_t h, char16_t u) { return (h ^ u) * 0x100000001b3u; }

}  // namespace

QString fold_name(const std::string& name) {
  if (is_ascii(name)) {
    QString folded(static_cast<qsizetype>(ascii_folded_length(name)), Qt::Uninitialized);
    for (qsizetype i = 0; i < folded.size(); ++i) folded[i] = QChar(ascii_lower(name[static_cast<std::size_t>(i)]));
    return folded;
  }
  QString wide;
  wide.reserve(static_cast<qsizetype>(std::min<std::size_t>(name.size(), kMaxFoldedNameLength)));
  std::size_t i = 0;
  while (i < name.size() && wide.size() < kMaxFoldedNameLength) {
    char32_t cp;
    const int len = decode_utf8(name, i, cp);
    if (len == 0) {
      wide.append(QChar(static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(name[i]))));
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      wide.append(QChar(QChar::highSurrogate(cp)));
      wide.append(QChar(QChar::lowSurrogate(cp)));
    } else {
      wide.append(QChar(static_cast<char16_t>(cp)));
    }
    i += static_cast<std::size_t>(len);
  }
  wide.truncate(kMaxFoldedNameLength);
  // Lower-case the text between the stand-ins for stray bytes; the stand-ins stay as they are
  // (lower-casing would turn a lone surrogate into U+FFFD and merge different names).
  QString folded;
  folded.reserve(wide.size());
  qsizetype start = 0;
  for (qsizetype i = 0; i <= wide.size(); ++i) {
    if (i < wide.size() && !wide.at(i).isLowSurrogate()) continue;
    if (i < wide.size() && i > 0 && wide.at(i - 1).isHighSurrogate()) continue;  // a real pair
    folded += QStringView(wide).sliced(start, i - start).toString().toLower();
    if (i < wide.size()) folded += wide.at(i);
    start = i + 1;
  }
  const qsizetype nul = folded.indexOf(QChar(u'\0'));
  if (nul >= 0) folded.truncate(nul);
  return folded;
}

uint64_t folded_name_hash(const std::string& name) {
  uint64_t h = kHashStart;
  if (is_ascii(name)) {
    const std::size_t n = ascii_folded_length(name);
    for (std::size_t i = 0; i < n; ++i) h = hash_unit(h, ascii_lower(name[i]));
    return h;
  }
  for (const QChar c : fold_name(name)) h = hash_unit(h, c.unicode());
  return h;
}

}  // namespace murmelin
