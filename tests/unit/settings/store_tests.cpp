// SPDX-License-Identifier: GPL-3.0-or-later
// The node list: lookup by folded names, order, letter case, clear and indexing.
#include <gtest/gtest.h>

#include <random>

#include "namefold.h"
#include "settings_test_util.h"

using namespace murmelin;
using namespace settings_test;

TEST(QOBStore, NamesMatchWithoutLetterCaseAndKeepTheFirstSpelling) {
  TQOBFile s;
  s.writeinteger("Mainwindow", "Top", 120);
  EXPECT_EQ(s.readinteger("MainWindow", "TOP", 0), 120);
  ASSERT_EQ(s.nnodes(), 1);
  EXPECT_EQ(s.get_nodeno(0)->section, "Mainwindow");

  s.writebool("Noise", "PlayLeft", true);
  s.writestring("General", "Soundcard", "x");
  s.writeinteger("noise", "playleft", 3);  // same node, new kind, same place
  ASSERT_EQ(s.nnodes(), 3);
  const pnode n = s.get_nodeno(1);
  EXPECT_EQ(n->section, "Noise");
  EXPECT_EQ(n->key, "PlayLeft");
  EXPECT_EQ(n->data.id, 11);
  EXPECT_EQ(s.readinteger("NOISE", "PLAYLEFT", 0), 3);
  // Section and key must both match.
  EXPECT_EQ(s.readinteger("Noise", "Top", -1), -1);
  EXPECT_EQ(s.readinteger("Mainwindow", "PlayLeft", -1), -1);
}

TEST(QOBStore, NamesFoldBeyondAsciiAndEndAtNulOrAfterTheLengthLimit) {
  TQOBFile s;
  s.writeinteger("ÄRGER", "ΣΟΦΙΑ", 1);
  EXPECT_EQ(s.readinteger("ärger", "σοφια", 0), 1);
  EXPECT_EQ(s.nnodes(), 1);

  // The Kelvin sign lower-cases to an ASCII k: the two spellings name one node.
  s.writeinteger("Temp", "\xE2\x84\xAA", 5);
  EXPECT_EQ(s.readinteger("temp", "k", 0), 5);
  s.writeinteger("TEMP", "K", 6);
  EXPECT_EQ(s.readinteger("temp", "\xE2\x84\xAA", 0), 6);
  EXPECT_EQ(s.nnodes(), 2);
  EXPECT_EQ(folded_name_hash("\xE2\x84\xAA"), folded_name_hash("k"));

  s.writeinteger(std::string("Cut\0here", 8), "k", 2);
  EXPECT_EQ(s.readinteger("cut", "K", 0), 2);

  const std::string longname(kMaxFoldedNameLength, 'a');
  s.writeinteger(longname + "X", "k", 3);
  EXPECT_EQ(s.readinteger(longname + "Y", "k", 0), 3);  // differ only after the limit
  EXPECT_EQ(s.readinteger(longname.substr(1) + "B", "k", 0), 0);  // differ inside it
  EXPECT_EQ(s.nnodes(), 4);
}

TEST(QOBStore, BytesThatAreNotUtf8StayDistinctNames) {
  EXPECT_NE(fold_name("\xff"), fold_name("\xfe"));
  EXPECT_NE(fold_name("\xff"), fold_name("\xc3\xbf"));       // ÿ spelled validly
  EXPECT_NE(fold_name("\xc3"), fold_name("\xc3\xbf"));
  EXPECT_NE(fold_name("\xed\xa0\x80"), fold_name("\xef\xbf\xbd"));  // encoded surrogate vs U+FFFD
  EXPECT_EQ(fold_name("\xc3\x84"), fold_name("\xc3\xa4"));   // Ä and ä
  EXPECT_EQ(fold_name("A\xff"), fold_name("a\xff"));
  EXPECT_EQ(fold_name("\xf0\x9f\x8e\xb5Key"), fold_name("\xf0\x9f\x8e\xb5KEY"));  // non-BMP

  TQOBFile s;
  s.writeinteger("\xff", "k", 1);
  s.writeinteger("\xfe", "k", 2);
  EXPECT_EQ(s.nnodes(), 2);
  EXPECT_EQ(s.readinteger("\xff", "K", 0), 1);
}

TEST(QOBStore, ClearDropsNodesButKeepsHeaderStrings) {
  Folder dir;
  TQOBFile s;
  s.open_file(dir.write("f.qobfile", header("QOB1", "Id", "2.0", "Prod") + i32(1) +
                                         node("a", "b", 10, "\x01")));
  ASSERT_EQ(s.nnodes(), 1);
  s.set_FileVersion("0.0");
  s.clear();
  EXPECT_EQ(s.nnodes(), 0);
  EXPECT_EQ(s.FileId(), "Id");
  EXPECT_EQ(s.FileVersion(), "0.0");
  EXPECT_EQ(s.readfileversion(), "2.0");
  EXPECT_EQ(s.readproductname(), "Prod");
  EXPECT_EQ(s.readproductversion(), "0.1");
  EXPECT_TRUE(s.readbool("a", "b", false) == false);
}

TEST(QOBStore, NodesAreIndexedInOrderOfFirstWrite) {
  TQOBFile s;
  EXPECT_THROW(s.get_nodeno(0), EListError);
  s.writeinteger("s", "one", 1);
  s.writeinteger("s", "two", 2);
  s.writeinteger("S", "ONE", 11);
  ASSERT_EQ(s.nnodes(), 2);
  EXPECT_EQ(s.get_nodeno(0)->key, "one");
  EXPECT_EQ(s.get_nodeno(1)->key, "two");
  EXPECT_THROW(s.get_nodeno(s.nnodes()), EListError);
  EXPECT_THROW(s.get_nodeno(-1), EListError);
  try {
    s.get_nodeno(2);
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "List index out of bounds (2)");
  }
}

TEST(QOBStore, OwnedByItsWindowAndStartsEmpty) {
  TComponent owner;
  auto* s = new TQOBFile(&owner);
  EXPECT_EQ(owner.ComponentCount(), 1);
  EXPECT_EQ(s->nnodes(), 0);
  EXPECT_EQ(s->ProgId(), nullptr);
  EXPECT_EQ(s->FileId(), "");
  EXPECT_EQ(s->FileVersion(), "");
  EXPECT_TRUE(s->SettingsFileName().isEmpty());
  s->writedoublearr("a", "b", tdoublearr{1.0, 2.0});  // released with its owner
}

TEST(QOBStore, LookupsAgreeWithAWalkFromTheNewestNodeForManyNodes) {
  // Names from a small pool in changing letter case, so that files bring duplicates and writes
  // hit existing nodes; every lookup must find what a walk from the newest node finds.
  std::mt19937 rng(7);
  const std::vector<std::string> pool = {"Noise", "Level", "Top", "\xc3\x84rger", "\xff", "k", "\xE2\x84\xAA",
                                         std::string("a\0b", 3), "Soundcard"};
  auto name = [&] {
    std::string n = pool[rng() % pool.size()] + std::to_string(rng() % 40);
    for (char& c : n)
      if (rng() % 2 && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return n;
  };
  auto walk = [](const TQOBFile& s, const std::string& sec, const std::string& key) {
    for (int32_t i = s.nnodes(); i-- > 0;)
      if (fold_name(s.get_nodeno(i)->section) == fold_name(sec) && fold_name(s.get_nodeno(i)->key) == fold_name(key))
        return i;
    return -1;
  };
  QByteArray file = header() + i32(2000);
  for (int i = 0; i < 2000; ++i) file += node(QByteArray::fromStdString(name()), QByteArray::fromStdString(name()), 11, i32(i));
  Folder dir;
  TQOBFile s;
  s.open_file(dir.write("many.qobfile", file));
  ASSERT_EQ(s.nnodes(), 2000);
  for (int round = 0; round < 1500; ++round) {
    const std::string sec = name(), key = name();
    if (round % 3 == 0) s.writeinteger(sec, key, 100000 + round);
    const int32_t at = walk(s, sec, key);
    const int32_t want = at < 0 ? -1 : static_cast<int32_t>(s.get_nodeno(at)->data.arr[0] |
                                                             s.get_nodeno(at)->data.arr[1] << 8 |
                                                             s.get_nodeno(at)->data.arr[2] << 16);
    ASSERT_EQ(s.readinteger(sec, key, -1), want) << round;
  }
  EXPECT_GT(s.nnodes(), 2000);
}
