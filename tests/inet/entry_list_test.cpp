// The compact listing store: names and fields come back as added, across
// many shared blocks and with names too long to share one, and a name handed
// out stays valid while the list grows.
#include "inet/entry_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace inet {
namespace {

std::string NameFor(size_t i) {
  // Mostly short names; now and then an empty one, one near the limit of a
  // shared block and one far beyond it.
  if (i % 997 == 0) return std::string(20000 + i % 7, static_cast<char>('a' + i % 26));
  if (i % 499 == 0) return std::string(16384, 'x') + std::to_string(i);
  if (i % 1000 == 1) return "";
  return "entry " + std::to_string(i) + (i % 3 ? ".dat" : " with spaces.txt");
}

TEST(EntryListTest, GivesBackEveryEntryInOrderAcrossBlocks) {
  EntryList list;
  std::vector<std::string_view> early;
  constexpr size_t kCount = 30000;
  for (size_t i = 0; i < kCount; ++i) {
    const std::string name = NameFor(i);
    list.Add(name, i % 5 == 0, uint64_t{1} << (i % 64),
             FILETIME{static_cast<DWORD>(i), static_cast<DWORD>(i * 7)});
    if (i < 50) early.push_back(list[i].name);
  }
  ASSERT_EQ(list.size(), kCount);
  for (size_t i = 0; i < kCount; ++i) {
    const EntryList::Entry e = list[i];
    ASSERT_EQ(e.name, NameFor(i)) << i;
    EXPECT_EQ(e.is_directory, i % 5 == 0);
    EXPECT_EQ(e.size, uint64_t{1} << (i % 64));
    EXPECT_EQ(e.mtime.dwLowDateTime, static_cast<DWORD>(i));
    EXPECT_EQ(e.mtime.dwHighDateTime, static_cast<DWORD>(i * 7));
  }
  // Views taken before thousands more entries were added still read right.
  for (size_t i = 0; i < early.size(); ++i) EXPECT_EQ(early[i], NameFor(i));
}

TEST(EntryListTest, CopiesTheNameItIsGiven) {
  EntryList list;
  std::string name = "first";
  list.Add(name, false, 1, FILETIME{});
  name = "changed";
  EntryList other;
  other.Add(list[0]);
  list = EntryList();  // the copy in `other` does not depend on `list`
  EXPECT_TRUE(list.empty());
  ASSERT_EQ(other.size(), 1u);
  EXPECT_EQ(other[0].name, "first");
  EXPECT_EQ(other[0].size, 1u);
}

}  // namespace
}  // namespace inet
