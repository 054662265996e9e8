// Inputs that fuzzing turned up, kept as tests of the parsers they broke.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "inet/line_splitter.h"

namespace {

using Status = inet::LineSplitter::Status;

// A line of exactly the limit, ended by CR LF, must be read the same however
// the stream was cut: the CR of the line end does not count as a byte of the
// line, also while the LF has not arrived yet.
TEST(FuzzFindingsTest, LineAtTheLimitDoesNotDependOnWhereTheStreamIsCut) {
  const std::string stream = "abc\r\n200 x\r\n";
  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    SCOPED_TRACE(cut);
    inet::LineSplitter splitter(3);
    std::string_view line;
    std::vector<std::string> lines;
    int too_long = 0;
    for (const std::string& part : {stream.substr(0, cut), stream.substr(cut)}) {
      splitter.Append(part);
      for (Status s; (s = splitter.Next(&line)) != Status::kNeedMore;) {
        if (s == Status::kTooLong) ++too_long;
        else lines.emplace_back(line);
      }
    }
    EXPECT_EQ(lines, std::vector<std::string>{"abc"});
    EXPECT_EQ(too_long, 1);  // "200 x" is over the limit
  }
}

TEST(FuzzFindingsTest, LastLineWithoutLfEndingInCrFitsTheLimit) {
  inet::LineSplitter splitter(3);
  splitter.Append("abc\r");
  std::string_view line;
  EXPECT_EQ(splitter.Next(&line), Status::kNeedMore);
  ASSERT_TRUE(splitter.Finish(&line));
  EXPECT_EQ(line, "abc");
  // One byte more is over the limit, CR or not.
  inet::LineSplitter longer(3);
  longer.Append("abcd\r");
  EXPECT_EQ(longer.Next(&line), Status::kTooLong);
  EXPECT_FALSE(longer.Finish(&line));
}

}  // namespace
