// The node list: lookup by folded names, order, letter case, clear and indexing.
#include <gtest/gtest.h>

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
