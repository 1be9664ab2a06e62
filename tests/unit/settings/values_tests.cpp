// SPDX-License-Identifier: GPL-3.0-or-later
// Typed writes and reads: defaults, kinds, wrong types, payload sizes, the conversions and the
// 80-bit float.
#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <limits>
#include <random>

#include "arrconv.h"
#include "extended80.h"
#include "settings_test_util.h"

using namespace murmelin;
using namespace settings_test;

namespace {

// The message of the EQOBfileError that f raises, or "" when it raises none.
template <typename F>
std::string qob_error(F f) {
  try {
    f();
  } catch (const EQOBfileError& e) {
    return e.what();
  }
  return "";
}

double decode(const char* hexbytes) {
  const QByteArray b = hex(hexbytes);
  return extended_to_double(reinterpret_cast<const uint8_t*>(b.constData()));
}

}  // namespace

TEST(QOBValues, EveryKindRoundTripsAndMissingNamesGiveTheDefault) {
  TQOBFile s;
  EXPECT_EQ(s.readbool("a", "b", true), true);
  EXPECT_EQ(s.readinteger("a", "b", -7), -7);
  EXPECT_EQ(s.readfloat("Noise", "Level", -10.0), -10.0);
  EXPECT_EQ(s.readstring("a", "b", "dflt"), "dflt");
  EXPECT_EQ(s.readsmallintarr("a", "b", {}), tsmallintarr{});
  EXPECT_EQ(s.readdoublearr("a", "b", {1.5}), tdoublearr{1.5});
  EXPECT_EQ(s.readcomplexarr("a", "b", {{1, 2}}), (tcomplexarr{{1, 2}}));
  EXPECT_EQ(s.readsinglearr("a", "b", {0.5f}), tsinglearr{0.5f});
  EXPECT_EQ(s.readsinglecomplexarr("a", "b", {{3, 4}}), (tsinglecomplexarr{{3, 4}}));
  EXPECT_EQ(s.nnodes(), 0);  // reads add nothing

  s.writebool("v", "bool", false);
  s.writeinteger("v", "int", INT32_MIN);
  s.writefloat("v", "float", 0.1);
  s.writestring("v", "string", std::string("a\0b", 3));
  s.writestring("v", "empty", "");
  s.writesmallintarr("v", "small", {-32768, -1, 0, 32767});
  s.writesmallintarr("v", "nosmall", {});
  s.writedoublearr("v", "double", tdoublearr{-0.0, 1e-310, DBL_MAX});
  s.writecomplexarr("v", "complex", tcomplexarr{{1.25, -2.5}, {0, 1e300}});
  s.writesinglearr("v", "single", tsinglearr{FLT_MIN, -3.5f});
  s.writesinglecomplexarr("v", "scomplex", tsinglecomplexarr{{1.5f, -0.25f}});
  EXPECT_EQ(s.readbool("v", "bool", true), false);
  EXPECT_EQ(s.readinteger("v", "int", 0), INT32_MIN);
  EXPECT_EQ(s.readfloat("v", "float", 0), 0.1);
  EXPECT_EQ(s.readstring("v", "string", ""), std::string("a\0b", 3));
  EXPECT_EQ(s.readstring("v", "empty", "x"), "");
  EXPECT_EQ(s.readsmallintarr("v", "small", {}), (tsmallintarr{-32768, -1, 0, 32767}));
  EXPECT_EQ(s.readsmallintarr("v", "nosmall", {5}), tsmallintarr{});
  const tdoublearr d = s.readdoublearr("v", "double", {});
  ASSERT_EQ(d.size(), 3u);
  EXPECT_TRUE(std::signbit(d[0]));
  EXPECT_EQ(d[1], 1e-310);
  EXPECT_EQ(d[2], DBL_MAX);
  EXPECT_EQ(s.readcomplexarr("v", "complex", {}), (tcomplexarr{{1.25, -2.5}, {0, 1e300}}));
  EXPECT_EQ(s.readsinglearr("v", "single", {}), (tsinglearr{FLT_MIN, -3.5f}));
  EXPECT_EQ(s.readsinglecomplexarr("v", "scomplex", {}), (tsinglecomplexarr{{1.5f, -0.25f}}));
  // Any non-zero byte reads as true.
  Folder dir;
  TQOBFile f;
  f.open_file(dir.write("b.qobfile", header() + i32(1) + node("a", "b", 10, "\x02")));
  EXPECT_TRUE(f.readbool("a", "b", false));
}

TEST(QOBValues, WrongKindRaisesAndChangesNothing) {
  TQOBFile s;
  s.writestring("General", "Soundcard", "dev");
  s.writesinglearr("a", "single", tsinglearr{1.0f});
  s.writecomplexarr("a", "complex", tcomplexarr{{1, 2}});
  s.writedoublearr("a", "double", tdoublearr{1.0});
  const tnode before = *s.get_nodeno(0);
  EXPECT_EQ(qob_error([&] { s.readinteger("General", "Soundcard", 0); }),
            "Data has wrong type: 13, not11");
  EXPECT_EQ(*s.get_nodeno(0), before);
  EXPECT_EQ(s.nnodes(), 4);
  EXPECT_EQ(qob_error([&] { s.readbool("general", "soundcard", false); }),
            "Data has wrong type: 13, not10");
  EXPECT_EQ(qob_error([&] { s.readfloat("General", "Soundcard", 0); }),
            "Data has wrong type: 13, not12");
  EXPECT_EQ(qob_error([&] { s.readstring("a", "single", ""); }), "Data has wrong type: 17, not13");
  EXPECT_EQ(qob_error([&] { s.readsmallintarr("a", "single", {}); }),
            "Data has wrong type: 17, not14");
  EXPECT_EQ(qob_error([&] { s.readdoublearr("a", "single", {}); }),
            "Data has wrong type: 17, not15");
  EXPECT_EQ(qob_error([&] { s.readsinglearr("a", "double", {}); }),
            "Data has wrong type: 15, not17");
  EXPECT_EQ(qob_error([&] { s.readsinglecomplexarr("a", "complex", {}); }),
            "Data has wrong type: 16, not18");
  EXPECT_EQ(qob_error([&] { s.readcomplexarr("a", "double", {}); }),
            "Data has wrong type: 15, not16");
}

TEST(QOBValues, ComplexReadWidensSingleComplexNodes) {
  TQOBFile s;
  s.writesinglecomplexarr("a", "b", tsinglecomplexarr{{0.1f, -0.2f}, {3.0f, 4.0f}});
  const tcomplexarr c = s.readcomplexarr("a", "b", {});
  EXPECT_EQ(c, (tcomplexarr{{double(0.1f), double(-0.2f)}, {3.0, 4.0}}));
  EXPECT_EQ(s.get_nodeno(0)->data.id, 18);
}

TEST(QOBValues, SecondFormsConvertAndStoreTheTagOfTheirName) {
  TQOBFile s;
  s.writedoublearr("a", "d", tsinglearr{0.1f, -FLT_MAX});
  EXPECT_EQ(s.get_nodeno(0)->data.id, 15);
  EXPECT_EQ(s.readdoublearr("a", "d", {}), (tdoublearr{double(0.1f), -double(FLT_MAX)}));

  s.writecomplexarr("a", "c", tsinglecomplexarr{{0.1f, 2.0f}});
  EXPECT_EQ(s.get_nodeno(1)->data.id, 16);
  EXPECT_EQ(s.get_nodeno(1)->data.arr.size(), 16u);
  EXPECT_EQ(s.readcomplexarr("a", "c", {}), (tcomplexarr{{double(0.1f), 2.0}}));

  // Rounded to nearest, ties to even; values just above FLT_MAX that still round to it are fine.
  const double tie_down = 1.0 + std::ldexp(1.0, -24);      // halfway between 1 and next float
  const double tie_up = 1.0 + 3 * std::ldexp(1.0, -24);    // halfway, next one is even
  const double near_max = std::nextafter(0x1.ffffffp127, 0.0);
  s.writesinglearr("a", "s", tdoublearr{0.1, tie_down, tie_up, near_max, -1e-50,
                                        std::numeric_limits<double>::infinity()});
  EXPECT_EQ(s.get_nodeno(2)->data.id, 17);
  const tsinglearr f = s.readsinglearr("a", "s", {});
  ASSERT_EQ(f.size(), 6u);
  EXPECT_EQ(f[0], 0.1f);
  EXPECT_EQ(f[1], 1.0f);
  EXPECT_EQ(f[2], 1.0f + 4 * std::ldexp(1.0f, -24));
  EXPECT_EQ(f[3], FLT_MAX);
  EXPECT_EQ(f[4], 0.0f);
  EXPECT_TRUE(std::signbit(f[4]));
  EXPECT_TRUE(std::isinf(f[5]));

  s.writesinglecomplexarr("a", "sc", tcomplexarr{{0.5, -0.1}});
  EXPECT_EQ(s.get_nodeno(3)->data.id, 18);
  EXPECT_EQ(s.readsinglecomplexarr("a", "sc", {}), (tsinglecomplexarr{{0.5f, -0.1f}}));
}

TEST(QOBValues, NarrowingBeyondTheSingleRangeRaisesAndStoresNothing) {
  TQOBFile s;
  s.writesinglearr("a", "s", tsinglearr{7.0f});
  EXPECT_THROW(s.writesinglearr("a", "s", tdoublearr{1.0, 0x1.ffffffp127}), EOverflow);
  EXPECT_THROW(s.writesinglearr("a", "new", tdoublearr{-1e39}), EOverflow);
  EXPECT_THROW(s.writesinglecomplexarr("a", "c", tcomplexarr{{0.0, DBL_MAX}}), EOverflow);
  EXPECT_THROW(s.writesinglecomplexarr("a", "c", tcomplexarr{{-1e300, 0.0}}), EOverflow);
  ASSERT_EQ(s.nnodes(), 1);
  EXPECT_EQ(s.readsinglearr("a", "s", {}), tsinglearr{7.0f});
  try {
    double_to_single(1e40);
  } catch (const EOverflow& e) {
    EXPECT_STREQ(e.what(), "Floating point overflow");
  }
  EXPECT_TRUE(std::isnan(double_to_single(std::nan(""))));
}

TEST(QOBValues, PayloadOfTheWrongSizeRaisesWithoutReadingPastIt) {
  Folder dir;
  TQOBFile s;
  s.open_file(dir.write(
      "sizes.qobfile",
      header() + i32(9) + node("a", "int3", 11, "\x01\x02\x03") +
          node("a", "int5", 11, QByteArray(5, '\x01')) + node("a", "float9", 12, QByteArray(9, 0)) +
          node("a", "bool0", 10, "") + node("a", "bool2", 10, "\x01\x01") +
          node("a", "small3", 14, "\x01\x02\x03") + node("a", "double12", 15, QByteArray(12, 0)) +
          node("a", "sc12", 18, QByteArray(12, 0)) + node("a", "single5", 17, QByteArray(5, 0))));
  ASSERT_EQ(s.nnodes(), 9);
  EXPECT_EQ(qob_error([&] { s.readinteger("a", "int3", 0); }),
            "Data has wrong size: 3 bytes of type 11, not 4");
  EXPECT_EQ(qob_error([&] { s.readinteger("a", "int5", 0); }),
            "Data has wrong size: 5 bytes of type 11, not 4");
  EXPECT_EQ(qob_error([&] { s.readfloat("a", "float9", 0); }),
            "Data has wrong size: 9 bytes of type 12, not 10");
  EXPECT_NE(qob_error([&] { s.readbool("a", "bool0", false); }), "");
  EXPECT_NE(qob_error([&] { s.readbool("a", "bool2", false); }), "");
  EXPECT_EQ(qob_error([&] { s.readsmallintarr("a", "small3", {}); }),
            "Data has wrong size: 3 bytes of type 14, not a multiple of 2");
  EXPECT_NE(qob_error([&] { s.readdoublearr("a", "double12", {}); }), "");
  EXPECT_NE(qob_error([&] { s.readsinglecomplexarr("a", "sc12", {}); }), "");
  EXPECT_NE(qob_error([&] { s.readcomplexarr("a", "sc12", {}); }), "");
  EXPECT_NE(qob_error([&] { s.readsinglearr("a", "single5", {}); }), "");
  EXPECT_EQ(s.nnodes(), 9);
  EXPECT_EQ(s.get_nodeno(0)->data.arr, (std::vector<uint8_t>{1, 2, 3}));
}

TEST(Extended80, DoublesRoundTripExactly) {
  std::mt19937_64 rng(12345);
  std::vector<double> values = {0.0, -0.0, 1.0, -10.0, 0.1, DBL_MAX, -DBL_MAX, DBL_MIN,
                                std::numeric_limits<double>::denorm_min(), -1e-310,
                                std::numeric_limits<double>::infinity(),
                                -std::numeric_limits<double>::infinity()};
  for (int i = 0; i < 2000; ++i) values.push_back(std::bit_cast<double>(rng()));
  for (double v : values) {
    if (std::isnan(v)) continue;
    SCOPED_TRACE(v);
    const textended80 e = double_to_extended(v);
    const double back = extended_to_double(e.data());
    EXPECT_EQ(std::bit_cast<uint64_t>(back), std::bit_cast<uint64_t>(v));
  }
  const double nan = -std::numeric_limits<double>::quiet_NaN();
  const double back = extended_to_double(double_to_extended(nan).data());
  EXPECT_TRUE(std::isnan(back));
  EXPECT_TRUE(std::signbit(back));
}

TEST(Extended80, KnownEncodings) {
  const auto enc = [](double v) {
    const textended80 e = double_to_extended(v);
    return QByteArray(reinterpret_cast<const char*>(e.data()), 10).toHex().toUpper();
  };
  EXPECT_EQ(enc(1.0), "0000000000000080FF3F");
  EXPECT_EQ(enc(-10.0), "00000000000000A002C0");
  EXPECT_EQ(enc(0.0), "00000000000000000000");
  EXPECT_EQ(enc(-0.0), "00000000000000000080");
  EXPECT_EQ(enc(std::numeric_limits<double>::infinity()), "0000000000000080FF7F");
  // The smallest subnormal double, 2^-1074, is a normal extended number.
  EXPECT_EQ(enc(std::numeric_limits<double>::denorm_min()), "0000000000000080CD3B");
}

TEST(Extended80, ValuesBeyondADoubleAreRoundedOrRaise) {
  // Rounded to nearest, ties to even, at the 53rd significand bit.
  EXPECT_EQ(decode("0004000000000080FF3F"), 1.0);                     // exactly halfway, even
  EXPECT_EQ(decode("000C000000000080FF3F"), 1.0 + 2 * DBL_EPSILON);   // halfway, rounds up
  EXPECT_EQ(decode("0104000000000080FF3F"), 1.0 + DBL_EPSILON);       // above halfway
  EXPECT_EQ(decode("FFFFFFFFFFFFFFFFFF3F"), 2.0);                     // carries into exponent
  // Unnormal (integer bit clear) and pseudo-denormal read by their value.
  EXPECT_EQ(decode("0000000000000040FF3F"), 0.5);
  EXPECT_EQ(decode("00000000000000800000"), 0.0);  // 2^-16382, far below a double
  // Tiny values become subnormal doubles or zero of their sign.
  EXPECT_EQ(decode("0000000000000080CD3B"), std::numeric_limits<double>::denorm_min());
  EXPECT_EQ(decode("0000000000000080CC3B"), 0.0);   // half the smallest: tie to even zero
  EXPECT_EQ(decode("0100000000000080CC3B"), std::numeric_limits<double>::denorm_min());
  EXPECT_TRUE(std::signbit(decode("00000000000000800180")));
  // Infinity and NaN stay what they are.
  EXPECT_EQ(decode("0000000000000080FFFF"), -std::numeric_limits<double>::infinity());
  EXPECT_EQ(decode("0000000000000000FF7F"), std::numeric_limits<double>::infinity());
  EXPECT_TRUE(std::isnan(decode("00000000000000C0FF7F")));
  EXPECT_TRUE(std::isnan(decode("0100000000000080FF7F")));  // signalling, payload below 53 bits
  // Beyond the double range: the floating-point overflow error, as for any overflow.
  EXPECT_EQ(decode("00F8FFFFFFFFFFFFFE43"), DBL_MAX);
  EXPECT_THROW(decode("0000000000000080FF43"), EOverflow);   // 2^1024
  EXPECT_THROW(decode("FCFFFFFFFFFFFFFFFE43"), EOverflow);   // rounds up to 2^1024
  EXPECT_THROW(decode("0000000000000080FEFF"), EOverflow);

  Folder dir;
  TQOBFile s;
  s.open_file(dir.write("f.qobfile", header() + i32(1) + node("Noise", "Level", 12,
                                                              hex("0000000000000080FE7F"))));
  EXPECT_THROW(s.readfloat("Noise", "Level", -10.0), EOverflow);
  EXPECT_EQ(s.nnodes(), 1);
}
