// SPDX-License-Identifier: GPL-3.0-or-later
// The settings file's bytes: what save_file writes and what open_file accepts or rejects.
#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "alloc_probe.h"
#include "settings_test_util.h"

using namespace murmelin;
using namespace settings_test;

namespace {

using Store = murmelin_store;

const char* const kWorkedExample =
    "514F4231"                          // QOB1
    "10000000" "4D75726D656C696E53657474696E6773"  // MurmelinSettings
    "03000000" "302E30"                 // 0.0
    "08000000" "4D75726D656C696E"       // Murmelin
    "03000000" "302E31"                 // 0.1
    "01000000"                          // one node
    "09000000" "536F756E6463617264"     // Soundcard
    "02000000" "6673"                   // fs
    "0B000000" "04000000" "44AC0000";   // integer 44100

void expect_rejected(const TQOBFile& s) {
  EXPECT_EQ(s.nnodes(), 0);
  EXPECT_EQ(s.readfileversion(), "");
  EXPECT_EQ(s.readproductname(), "");
  EXPECT_EQ(s.readproductversion(), "");
}

}  // namespace

TEST(QOBFormat, WorkedExampleIsWrittenAndReadByteForByte) {
  Folder dir;
  Store st;
  st.s.writeinteger("Soundcard", "fs", 44100);
  const std::string name = dir.path("example.qobfile");
  st.s.save_file(name);
  const QByteArray bytes = Folder::read(name);
  EXPECT_EQ(bytes.size(), 85);
  EXPECT_EQ(bytes, hex(kWorkedExample));
  EXPECT_EQ(st.s.nnodes(), 1);  // saving keeps the nodes

  TQOBFile other;
  other.set_FileId("something else");
  other.open_file(dir.write("given.qobfile", hex(kWorkedExample)));
  EXPECT_EQ(other.FileId(), "MurmelinSettings");
  EXPECT_EQ(other.readfileversion(), "0.0");
  EXPECT_EQ(other.readproductname(), "Murmelin");
  EXPECT_EQ(other.readproductversion(), "0.1");
  ASSERT_EQ(other.nnodes(), 1);
  EXPECT_EQ(other.get_nodeno(0)->section, "Soundcard");
  EXPECT_EQ(other.get_nodeno(0)->key, "fs");
  EXPECT_EQ(other.get_nodeno(0)->data.id, 11);
  EXPECT_EQ(other.readinteger("soundcard", "FS", 0), 44100);
}

TEST(QOBFormat, FloatPayloadsAreEightyBitExtended) {
  Store st;
  st.s.writefloat("Noise", "One", 1.0);
  st.s.writefloat("Noise", "Level", -10.0);
  const auto payload = [&](int i) {
    const auto& a = st.s.get_nodeno(i)->data.arr;
    return QByteArray(reinterpret_cast<const char*>(a.data()), static_cast<qsizetype>(a.size()));
  };
  EXPECT_EQ(st.s.get_nodeno(0)->data.id, 12);
  EXPECT_EQ(payload(0), hex("000000000000008" "0FF3F"));
  EXPECT_EQ(payload(1), hex("00000000000000A002C0"));
  EXPECT_EQ(st.s.readfloat("noise", "level", 0.0), -10.0);
}

TEST(QOBFormat, StoreWithoutNodesAndEmptyValuesHaveNoPayloadBytes) {
  Folder dir;
  Store st;
  st.s.save_file(dir.path("empty.qobfile"));
  EXPECT_EQ(Folder::read(dir.path("empty.qobfile")), hex(kWorkedExample).left(50) + i32(0));

  st.s.writestring("a", "s", "");
  st.s.writesmallintarr("a", "arr", {});
  st.s.save_file(dir.path("values.qobfile"));
  EXPECT_EQ(Folder::read(dir.path("values.qobfile")),
            hex(kWorkedExample).left(50) + i32(2) + node("a", "s", 13, "") +
                node("a", "arr", 14, ""));
}

TEST(QOBFormat, AutoVersionIdentityWritesFixedVersion) {
  Folder dir;
  Store st;
  st.id.set_AutoVersion(true);
  st.s.save_file(dir.path("v.qobfile"));
  EXPECT_EQ(Folder::read(dir.path("v.qobfile")),
            header("QOB1", "MurmelinSettings", "0.0", "Murmelin", "3.0") + i32(0));
}

TEST(QOBFormat, MagicIsOnlyCheckedByIsQOBfile) {
  Folder dir;
  const QByteArray body = header("XYZ!") + i32(1) + node("Soundcard", "fs", 11, i32(44100));
  const std::string bad = dir.write("bad.qobfile", body);
  const std::string good = dir.write("good.qobfile", hex(kWorkedExample));
  TQOBFile s;
  s.set_FileId("kept");
  s.writebool("x", "y", true);
  EXPECT_FALSE(s.isQOBfile(bad));
  EXPECT_TRUE(s.isQOBfile(good));
  EXPECT_TRUE(s.isQOBfile(dir.write("short_but_magic.qobfile", "QOB1")));
  EXPECT_FALSE(s.isQOBfile(dir.write("three.qobfile", "QOB")));
  EXPECT_FALSE(s.isQOBfile(dir.path("missing.qobfile")));
  EXPECT_FALSE(s.isQOBfile(dir.root().toStdString()));  // a folder
  EXPECT_FALSE(s.isQOBfile(""));
  // isQOBfile touches nothing.
  EXPECT_EQ(s.nnodes(), 1);
  EXPECT_EQ(s.FileId(), "kept");

  s.open_file(bad);
  EXPECT_EQ(s.readinteger("Soundcard", "fs", 0), 44100);
  EXPECT_EQ(s.readproductname(), "Murmelin");
}

TEST(QOBFormat, MalformedFilesAreRejectedWhole) {
  const QByteArray h = header();
  const QByteArray n1 = node("Noise", "Level", 11, i32(1));
  const QByteArray n2 = node("Noise", "Text", 13, "hello");
  struct Case {
    const char* what;
    QByteArray bytes;
    const char* fileid;  // FileId afterwards: the file's when it held a complete one
  };
  const char* const mine = "before";
  const char* const theirs = "MurmelinSettings";
  const std::vector<Case> cases = {
      {"empty file", "", mine},
      {"magic only", "QOB1", mine},
      {"cut in file id", "QOB1" + i32(16) + "Murmelin", mine},
      {"file id of length 0", "QOB1" + i32(0) + counted("0.0") + counted("P") + counted("1") + i32(0), mine},
      {"file version of negative length", "QOB1" + counted("id") + i32(-3) + "0.0", "id"},
      {"product version of length 0", "QOB1" + counted("id") + counted("0.0") + counted("P") + i32(0) + i32(0), "id"},
      {"no node count", h, theirs},
      {"cut in node count", h + QByteArray("\x01\x00", 2), theirs},
      {"cut in the middle of the last node", h + i32(2) + n1 + n2.left(n2.size() - 3), theirs},
      {"count larger than the nodes", h + i32(3) + n1 + n2, theirs},
      {"section of length 0", h + i32(1) + i32(0) + counted("k") + i32(11) + i32(4) + i32(5), theirs},
      {"key of negative length", h + i32(2) + n1 + counted("s") + i32(-1) + i32(11) + i32(4) + i32(5), theirs},
      {"negative payload length", h + i32(2) + n1 + counted("s") + counted("k") + i32(13) + i32(-1), theirs},
      {"payload length of 2 GB", h + i32(1) + counted("s") + counted("k") + i32(13) + i32(0x7FFFFFFF) + "abc", theirs},
      {"section length of 2 GB", h + i32(1) + i32(0x7FFFFFF0) + "Noise", theirs},
      {"file id length of 2 GB", "QOB1" + i32(0x7FFFFFFF) + "id", mine},
  };
  Folder dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TQOBFile s;
    s.set_FileId(mine);
    s.writeinteger("old", "node", 5);
    reset_largest_allocation();
    s.open_file(dir.write("bad.qobfile", c.bytes));
    // Nothing is allocated for what the file merely claims to hold.
    EXPECT_LT(largest_allocation(), 1u << 20);
    expect_rejected(s);
    EXPECT_EQ(s.FileId(), c.fileid);
  }
}

TEST(QOBFormat, MissingFileOrFolderLeavesEmptyStoreAndFileId) {
  Folder dir;
  TQOBFile s;
  s.set_FileId("MurmelinSettings");
  s.open_file(dir.write("ok.qobfile", hex(kWorkedExample)));
  ASSERT_EQ(s.nnodes(), 1);
  s.set_FileId("mine");
  s.open_file(dir.path("missing.qobfile"));
  expect_rejected(s);
  EXPECT_EQ(s.FileId(), "mine");
  s.open_file(dir.root().toStdString());
  expect_rejected(s);
  EXPECT_EQ(s.FileId(), "mine");
}

TEST(QOBFormat, NodeCountOfZeroOrLessAndTrailingBytesAreAccepted) {
  Folder dir;
  for (int32_t count : {0, -1, INT32_MIN}) {
    SCOPED_TRACE(count);
    TQOBFile s;
    s.open_file(dir.write("n.qobfile", header("QOB1", "Other") + i32(count) +
                                           node("a", "b", 11, i32(1))));
    EXPECT_EQ(s.nnodes(), 0);
    EXPECT_EQ(s.FileId(), "Other");
    EXPECT_EQ(s.readproductversion(), "0.1");
  }
  TQOBFile s;
  s.open_file(dir.write("t.qobfile", hex(kWorkedExample) + QByteArray("\x00\xFFmore", 6)));
  ASSERT_EQ(s.nnodes(), 1);
  EXPECT_EQ(s.readinteger("Soundcard", "fs", 0), 44100);
}

TEST(QOBFormat, UnknownTagAndDuplicatesSurviveLoadAndSave) {
  Folder dir;
  const QByteArray original = header() + i32(4) + node("x", "y", 7, "\x01\x02\x03") +
                              node("Noise", "Level", 11, i32(1)) +
                              node("z", "empty", -5, "") + node("NOISE", "level", 11, i32(2));
  Store st;
  st.s.open_file(dir.write("in.qobfile", original));
  ASSERT_EQ(st.s.nnodes(), 4);
  EXPECT_EQ(st.s.readinteger("noise", "LEVEL", 0), 2);  // the later one wins
  EXPECT_THROW(st.s.readstring("x", "y", ""), EQOBfileError);
  st.s.save_file(dir.path("out.qobfile"));
  EXPECT_EQ(Folder::read(dir.path("out.qobfile")), original);

  // A write goes to the later one too, in place; the earlier one keeps its value.
  st.s.writeinteger("Noise", "Level", 3);
  ASSERT_EQ(st.s.nnodes(), 4);
  EXPECT_EQ(st.s.get_nodeno(3)->data.arr, std::vector<uint8_t>({3, 0, 0, 0}));
  EXPECT_EQ(st.s.get_nodeno(1)->data.arr, std::vector<uint8_t>({1, 0, 0, 0}));
  // After a clear the names are free again.
  st.s.clear();
  EXPECT_EQ(st.s.readinteger("noise", "level", -1), -1);
  st.s.writeinteger("NOISE", "LEVEL", 4);
  EXPECT_EQ(st.s.nnodes(), 1);
  EXPECT_EQ(st.s.readinteger("noise", "level", -1), 4);
}

TEST(QOBFormat, NonAsciiNamesAndValuesPassUnchanged) {
  Folder dir;
  Store st;
  st.s.writestring("Général", "Gerät", "Lautsprecher (Größe) ♪");
  st.s.save_file(dir.path("u.qobfile"));
  TQOBFile s;
  s.open_file(dir.path("u.qobfile"));
  ASSERT_EQ(s.nnodes(), 1);
  EXPECT_EQ(s.get_nodeno(0)->section, "Général");
  EXPECT_EQ(s.readstring("GÉNÉRAL", "GERÄT", ""), "Lautsprecher (Größe) ♪");
}
