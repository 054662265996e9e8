// The handle table: numbering, kinds and removal of a handle's descendants.
#include "inet/handles.h"

#include <gtest/gtest.h>

#include <set>

namespace inet {
namespace {

std::shared_ptr<void> Obj(int v) { return std::make_shared<int>(v); }

TEST(HandlesTest, HandlesAreNonZeroUniqueAndTyped) {
  HandleTable table;
  HINTERNET a = table.Add(HandleKind::kInternet, 0, Obj(1));
  HINTERNET b = table.Add(HandleKind::kConnection, a, Obj(2));
  ASSERT_NE(a, 0u);
  ASSERT_NE(b, 0u);
  EXPECT_NE(a, b);
  EXPECT_EQ(*table.Get<int>(b, HandleKind::kConnection), 2);
  EXPECT_EQ(table.Get<int>(b, HandleKind::kInternet), nullptr);
  EXPECT_EQ(table.Get<int>(a, HandleKind::kSearch), nullptr);
  EXPECT_EQ(table.Find(0, HandleKind::kInternet), nullptr);
  EXPECT_EQ(table.Find(12345, HandleKind::kInternet), nullptr);
}

TEST(HandlesTest, RemovingAParentRemovesItsDescendantsFirst) {
  HandleTable table;
  HINTERNET net = table.Add(HandleKind::kInternet, 0, Obj(1));
  HINTERNET other = table.Add(HandleKind::kInternet, 0, Obj(9));
  HINTERNET c1 = table.Add(HandleKind::kConnection, net, Obj(2));
  HINTERNET s1 = table.Add(HandleKind::kSearch, c1, Obj(3));
  HINTERNET c2 = table.Add(HandleKind::kConnection, other, Obj(4));
  auto removed = table.Remove(net);
  ASSERT_EQ(removed.size(), 3u);
  EXPECT_EQ(removed[0].handle, s1);
  EXPECT_EQ(removed[1].handle, c1);
  EXPECT_EQ(removed[2].handle, net);
  EXPECT_FALSE(table.Contains(s1));
  EXPECT_TRUE(table.Contains(c2));
  EXPECT_TRUE(table.Remove(net).empty());  // already closed
  EXPECT_TRUE(table.Remove(0).empty());
  EXPECT_EQ(table.RemoveAll().size(), 2u);
  EXPECT_EQ(table.size(), 0u);
}

TEST(HandlesTest, ClosedHandlesAreNotReusedAtOnceAndCapacityIsBounded) {
  HandleTable table(3);
  std::set<HINTERNET> seen;
  for (int i = 0; i < 10; ++i) {
    HINTERNET h = table.Add(HandleKind::kInternet, 0, Obj(i));
    ASSERT_NE(h, 0u);
    EXPECT_TRUE(seen.insert(h).second);
    table.Remove(h);
  }
  table.Add(HandleKind::kInternet, 0, Obj(1));
  table.Add(HandleKind::kInternet, 0, Obj(2));
  table.Add(HandleKind::kInternet, 0, Obj(3));
  EXPECT_EQ(table.Add(HandleKind::kInternet, 0, Obj(4)), 0u);
}

}  // namespace
}  // namespace inet
