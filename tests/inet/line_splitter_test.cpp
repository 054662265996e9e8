// Cutting a byte stream into bounded lines: chunks cut anywhere, CR LF and
// bare LF, and over-long lines dropped whole without unbounded buffering.
#include "inet/line_splitter.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace inet {
namespace {

constexpr size_t kMax = 64 * 1024;

std::vector<std::string> Split(const std::vector<std::string>& chunks,
                               size_t max_line, size_t* dropped = nullptr) {
  std::vector<std::string> lines;
  LineSplitter splitter(max_line);
  size_t too_long = 0;
  std::string_view line;
  for (const auto& c : chunks) {
    splitter.Append(c);
    for (LineSplitter::Status s;
         (s = splitter.Next(&line)) != LineSplitter::Status::kNeedMore;) {
      if (s == LineSplitter::Status::kLine) lines.emplace_back(line);
      else ++too_long;
    }
  }
  if (splitter.Finish(&line)) lines.emplace_back(line);
  if (dropped) *dropped = too_long;
  return lines;
}

TEST(LineSplitterTest, CutsLinesAcrossChunks) {
  using V = std::vector<std::string>;
  EXPECT_EQ(Split({"a\r\nb\nc"}, 100), (V{"a", "b", "c"}));
  EXPECT_EQ(Split({"ab", "c\r", "\nd", "", "e\r\n"}, 100), (V{"abc", "de"}));
  EXPECT_EQ(Split({"\n\r\n"}, 100), (V{"", ""}));
  EXPECT_EQ(Split({}, 100), V{});
  EXPECT_EQ(Split({"x\ry\n"}, 100), (V{"x\ry"}));
}

TEST(LineSplitterTest, DropsOverLongLinesAndKeepsTheRest) {
  using V = std::vector<std::string>;
  size_t dropped = 0;
  EXPECT_EQ(Split({"12345\n123456\r\n1234567\nok\n"}, 6, &dropped),
            (V{"12345", "123456", "ok"}));
  EXPECT_EQ(dropped, 1u);
  EXPECT_EQ(Split({"1234", "5678", "9", "\nok", "yes"}, 6, &dropped),
            (V{"okyes"}));
  EXPECT_EQ(dropped, 1u);
  EXPECT_EQ(Split({"ok\n", std::string(100, 'x')}, 6, &dropped), (V{"ok"}));
  EXPECT_EQ(dropped, 1u);
}

TEST(LineSplitterTest, OverLongLineIsReportedOnceInBoundedMemory) {
  LineSplitter lines(kMax);
  std::string_view line;
  const std::string block(4096, 'x');
  LineSplitter::Status st = LineSplitter::Status::kNeedMore;
  size_t fed = 0;
  while (st == LineSplitter::Status::kNeedMore && fed < 4 * kMax) {
    lines.Append(block);
    fed += block.size();
    st = lines.Next(&line);
    EXPECT_LE(lines.buffered(), kMax + block.size());
  }
  EXPECT_EQ(st, LineSplitter::Status::kTooLong);
  EXPECT_LE(fed, kMax + block.size());
  // The rest of the long line is thrown away; the next line comes through.
  lines.Append(block);
  EXPECT_EQ(lines.Next(&line), LineSplitter::Status::kNeedMore);
  EXPECT_EQ(lines.buffered(), 0u);
  lines.Append("tail\r\n200 ok\r\n");
  ASSERT_EQ(lines.Next(&line), LineSplitter::Status::kLine);
  EXPECT_EQ(line, "200 ok");
}

TEST(LineSplitterTest, FinishReturnsAnUnterminatedLastLine) {
  LineSplitter lines(16);
  std::string_view line;
  lines.Append("a\r\nb\r");
  ASSERT_EQ(lines.Next(&line), LineSplitter::Status::kLine);
  EXPECT_EQ(line, "a");
  EXPECT_EQ(lines.Next(&line), LineSplitter::Status::kNeedMore);
  ASSERT_TRUE(lines.Finish(&line));
  EXPECT_EQ(line, "b");
  EXPECT_FALSE(lines.Finish(&line));
}

}  // namespace
}  // namespace inet
