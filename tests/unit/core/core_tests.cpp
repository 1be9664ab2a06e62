// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "TComponent.h"
#include "checked_int.h"
#include "exceptions.h"

using namespace murmelin;

namespace {

// Records its own destruction and Loaded calls in a shared log.
class Probe : public TComponent {
public:
  Probe(TComponent* owner, std::string name, std::vector<std::string>& log)
      : TComponent(owner), fname(std::move(name)), flog(log) {}
  ~Probe() override { flog.push_back("destroy " + fname); }
  void Loaded() override { flog.push_back("loaded " + fname); }

private:
  std::string fname;
  std::vector<std::string>& flog;
};

}  // namespace

TEST(TComponent, OwnerDestroysOwnedComponentsAndLoadsThemInOrder) {
  std::vector<std::string> log;
  auto* root = new Probe(nullptr, "root", log);
  auto* a = new Probe(root, "a", log);
  new Probe(a, "a1", log);
  new Probe(root, "b", log);
  ASSERT_EQ(root->ComponentCount(), 2);
  EXPECT_EQ(root->Components(0), a);
  EXPECT_THROW(root->Components(2), EListError);

  root->loaded_components();
  EXPECT_EQ(log, (std::vector<std::string>{"loaded a", "loaded b"}));
  log.clear();

  delete root;
  EXPECT_EQ(log, (std::vector<std::string>{"destroy root", "destroy b", "destroy a", "destroy a1"}));
}

TEST(TComponent, ComponentDeletedByHandLeavesItsOwner) {
  std::vector<std::string> log;
  Probe root(nullptr, "root", log);
  auto* a = new Probe(&root, "a", log);
  new Probe(&root, "b", log);
  delete a;
  ASSERT_EQ(root.ComponentCount(), 1);
  log.clear();
  // root's destructor must not touch the deleted component again (ASan would catch it).
}

TEST(CheckedInt, OverflowRaisesInsteadOfWrapping) {
  EXPECT_EQ(checked_mul(2, 44100), 88200);
  EXPECT_EQ(checked_mul(-65536, 32768), INT32_MIN);
  EXPECT_EQ(checked_add(INT32_MAX - 1, 1), INT32_MAX);
  EXPECT_EQ(checked_sub(INT32_MIN + 1, 1), INT32_MIN);

  for (auto f : {+[] { checked_mul(2, 1073741824); }, +[] { checked_mul(INT32_MIN, -1); },
                 +[] { checked_add(INT32_MAX, 1); }, +[] { checked_sub(INT32_MIN, 1); },
                 +[] { checked_int32(static_cast<long long>(INT32_MAX) + 1); }}) {
    try {
      f();
      ADD_FAILURE() << "no overflow raised";
    } catch (const EIntOverflow& e) {
      EXPECT_STREQ(e.what(), "Integer overflow");
    }
  }
}

TEST(CheckedInt, IndexOutsideContainerRaisesRangeError) {
  std::vector<int> v{1, 2, 3};
  EXPECT_EQ(checked_at(v, 2), 3);
  EXPECT_THROW(checked_at(v, 3), ERangeError);
  EXPECT_THROW(checked_at(v, -1), ERangeError);
  std::vector<int> empty;
  EXPECT_THROW(checked_at(empty, 0), ERangeError);
}
