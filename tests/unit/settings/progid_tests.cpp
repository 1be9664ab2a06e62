// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "cProgId.h"

using namespace murmelin;

TEST(TProgId, StartsEmptyAndStoresEachPropertyOnItsOwn) {
  TProgId id;
  EXPECT_TRUE(id.ProductName().isEmpty());
  EXPECT_TRUE(id.Version().isEmpty());
  EXPECT_FALSE(id.AutoVersion());
  id.set_ProductName("Murmelin");
  id.set_Company("BriskoData");
  id.set_Copyright("(c) 2024");
  id.set_Version("0.1");
  EXPECT_EQ(id.ProductName(), "Murmelin");
  EXPECT_EQ(id.Company(), "BriskoData");
  EXPECT_EQ(id.Copyright(), "(c) 2024");
  EXPECT_EQ(id.Version(), "0.1");
}

TEST(TProgId, AutoVersionShowsFixedVersionAndKeepsTheStoredOne) {
  TProgId id;
  id.set_Version("0.1");
  id.set_AutoVersion(true);
  EXPECT_EQ(id.Version(), "3.0");
  id.set_Version("7.2");  // stored, but hidden while AutoVersion is on
  EXPECT_EQ(id.Version(), "3.0");
  id.set_AutoVersion(false);
  EXPECT_EQ(id.Version(), "7.2");
}

TEST(TProgId, OwnerDestroysIt) {
  TComponent owner;
  auto* id = new TProgId(&owner);
  EXPECT_EQ(owner.ComponentCount(), 1);
  EXPECT_EQ(owner.Components(0), id);
}
