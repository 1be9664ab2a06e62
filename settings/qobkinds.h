// SPDX-License-Identifier: GPL-3.0-or-later
// The kinds of value the settings store keeps, one row each: the tag, the payload (one value of
// a fixed size, or a run of elements of a fixed size) with its encoding and decoding, the
// messages of a read that finds another tag or size, and the store's public read. The store's
// typed writes and reads and the fuzz harness all work from these rows; a new kind is one more
// row and one more pair of public operations.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "arrconv.h"
#include "cQOBFile.h"
#include "extended80.h"

namespace murmelin::qobkinds {

// ---- bytes ------------------------------------------------------------------------------------

template <typename U>
void store_le(uint8_t* p, U v) {
  for (std::size_t i = 0; i < sizeof(U); ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

template <typename U>
U load_le(const uint8_t* p) {
  U v = 0;
  for (std::size_t i = 0; i < sizeof(U); ++i) v |= static_cast<U>(U{p[i]} << (8 * i));
  return v;
}

// ---- messages ---------------------------------------------------------------------------------

inline void check_tag(const tdata& d, int32_t expected) {
  if (d.id != expected)
    throw EQOBfileError("Data has wrong type: " + std::to_string(d.id) + ", not" +
                        std::to_string(expected));
}

inline EQOBfileError wrong_size(const tdata& d, const std::string& wanted) {
  return EQOBfileError("Data has wrong size: " + std::to_string(d.arr.size()) + " bytes of type " +
                       std::to_string(d.id) + ", not " + wanted);
}

// The payload size of count elements of elemsize bytes; the file counts it in 32 bits.
inline std::size_t checked_payload_size(std::size_t count, std::size_t elemsize) {
  if (count > static_cast<std::size_t>(INT32_MAX) / elemsize)
    throw ERangeError("Range check error: a value of " + std::to_string(count) + " elements of " +
                      std::to_string(elemsize) + " bytes is too large for the settings file");
  return count * elemsize;
}

// ---- element codecs: size, put, get -------------------------------------------------------------

template <typename T, typename U>
struct le_codec {  // a number stored as the little-endian bits of U
  static constexpr std::size_t size = sizeof(U);
  static void put(uint8_t* p, T v) { store_le(p, std::bit_cast<U>(v)); }
  static T get(const uint8_t* p) { return std::bit_cast<T>(load_le<U>(p)); }
};

template <typename T, typename Part>
struct complex_codec {  // re, then im
  static constexpr std::size_t size = 2 * Part::size;
  static void put(uint8_t* p, const T& c) {
    Part::put(p, c.re);
    Part::put(p + Part::size, c.im);
  }
  static T get(const uint8_t* p) { return T{Part::get(p), Part::get(p + Part::size)}; }
};

struct bool_codec {
  static constexpr std::size_t size = 1;
  static void put(uint8_t* p, bool v) { p[0] = v ? 1 : 0; }
  static bool get(const uint8_t* p) { return p[0] != 0; }
};

struct extended_codec {
  static constexpr std::size_t size = 10;
  static void put(uint8_t* p, double v) {
    const textended80 e = double_to_extended(v);
    std::copy(e.begin(), e.end(), p);
  }
  static double get(const uint8_t* p) { return extended_to_double(p); }
};

using double_codec = le_codec<double, uint64_t>;
using single_codec = le_codec<float, uint32_t>;

// ---- the rows ---------------------------------------------------------------------------------

// Whether the payload is one value of exactly Codec::size bytes, or any number of elements
// of Codec::size bytes each (an empty payload is an empty value).
enum class shape { one_value, elements };

template <typename T, int32_t Tag, shape Shape, typename Codec>
struct value_kind {
  using type = T;
  static constexpr int32_t tag = Tag;
  static constexpr std::size_t size = Codec::size;

  static std::vector<uint8_t> encode(const T& v) {
    if constexpr (Shape == shape::one_value) {
      std::vector<uint8_t> out(size);
      Codec::put(out.data(), v);
      return out;
    } else {
      std::vector<uint8_t> out(checked_payload_size(v.size(), size));
      for (std::size_t i = 0; i < v.size(); ++i) Codec::put(out.data() + i * size, v[i]);
      return out;
    }
  }

  // Raises EQOBfileError for another tag or a payload of another size.
  static T decode(const tdata& d) {
    check_tag(d, Tag);
    if constexpr (Shape == shape::one_value) {
      if (d.arr.size() != size) throw wrong_size(d, std::to_string(size));
      return Codec::get(d.arr.data());
    } else {
      if (d.arr.size() % size != 0) throw wrong_size(d, "a multiple of " + std::to_string(size));
      T r(d.arr.size() / size, typename T::value_type{});
      for (std::size_t i = 0; i < r.size(); ++i) r[i] = Codec::get(d.arr.data() + i * size);
      return r;
    }
  }
};

struct kind_bool : value_kind<bool, tag_bool, shape::one_value, bool_codec> {
  static constexpr auto read = &TQOBFile::readbool;
};
struct kind_integer : value_kind<int32_t, tag_integer, shape::one_value, le_codec<int32_t, uint32_t>> {
  static constexpr auto read = &TQOBFile::readinteger;
};
struct kind_float : value_kind<double, tag_float, shape::one_value, extended_codec> {
  static constexpr auto read = &TQOBFile::readfloat;
};
struct kind_string : value_kind<std::string, tag_string, shape::elements, le_codec<char, uint8_t>> {
  static constexpr auto read = &TQOBFile::readstring;
};
struct kind_smallintarr : value_kind<tsmallintarr, tag_smallintarr, shape::elements, le_codec<int16_t, uint16_t>> {
  static constexpr auto read = &TQOBFile::readsmallintarr;
};
struct kind_doublearr : value_kind<tdoublearr, tag_doublearr, shape::elements, double_codec> {
  static constexpr auto read = &TQOBFile::readdoublearr;
};
struct kind_singlearr : value_kind<tsinglearr, tag_singlearr, shape::elements, single_codec> {
  static constexpr auto read = &TQOBFile::readsinglearr;
};
struct kind_singlecomplexarr
    : value_kind<tsinglecomplexarr, tag_singlecomplexarr, shape::elements, complex_codec<tsinglecomplex, single_codec>> {
  static constexpr auto read = &TQOBFile::readsinglecomplexarr;
};
struct kind_complexarr
    : value_kind<tcomplexarr, tag_complexarr, shape::elements, complex_codec<tcomplex, double_codec>> {
  static constexpr auto read = &TQOBFile::readcomplexarr;
  // Also takes a single-precision complex node, widened; another tag is refused naming 16.
  static tcomplexarr decode(const tdata& d) {
    if (d.id == kind_singlecomplexarr::tag) return singlecomplex_to_complex_arr(kind_singlecomplexarr::decode(d));
    return value_kind::decode(d);
  }
};

using value_kinds = std::tuple<kind_bool, kind_integer, kind_float, kind_string, kind_smallintarr,
                               kind_doublearr, kind_complexarr, kind_singlearr, kind_singlecomplexarr>;

// Calls f(Kind{}) for every row, in tag order.
template <typename F>
void for_each_kind(F&& f) {
  std::apply([&](auto... kind) { (f(kind), ...); }, value_kinds{});
}

}  // namespace murmelin::qobkinds
