// Splitting the control stream into lines and lines into replies.
#include "inet/reply.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "inet/line_splitter.h"

namespace inet {
namespace {

// Feeds `stream` in chunks of `chunk` bytes; returns the replies found, or
// stops at the first error (recorded as code -1).
std::vector<Reply> Parse(const std::string& stream, size_t chunk,
                         size_t max_reply = kMaxReplySize) {
  LineSplitter lines(kMaxReplyLine);
  ReplyAssembler assembler(max_reply);
  std::vector<Reply> out;
  std::string_view line;
  for (size_t pos = 0; pos < stream.size(); pos += chunk) {
    lines.Append(std::string_view(stream).substr(pos, chunk));
    for (;;) {
      auto st = lines.Next(&line);
      if (st == LineSplitter::Status::kNeedMore) break;
      if (st == LineSplitter::Status::kTooLong) {
        out.push_back(Reply{-1, "too long"});
        return out;
      }
      auto rs = assembler.Add(line);
      if (rs == ReplyAssembler::Status::kDone) out.push_back(assembler.Take());
      if (rs == ReplyAssembler::Status::kError) {
        out.push_back(Reply{-1, std::string(line)});
        return out;
      }
    }
  }
  return out;
}

TEST(ReplyTest, SingleAndMultiLineRepliesInAnyChunking) {
  const std::string stream =
      "220 ready\r\n"
      "211-Features:\r\n"
      " MLST type*;size*;\r\n"
      "211 ends here? no: this line has a different meaning\r\n"
      "230\r\n"
      "150-first\n"
      "150 last\r\n";
  for (size_t chunk : {1u, 2u, 3u, 7u, 1000u}) {
    SCOPED_TRACE(chunk);
    auto replies = Parse(stream, chunk);
    ASSERT_EQ(replies.size(), 4u);
    EXPECT_EQ(replies[0].code, 220);
    EXPECT_EQ(replies[0].text, "220 ready");
    EXPECT_EQ(replies[1].code, 211);
    EXPECT_EQ(replies[1].text,
              "211-Features:\r\n MLST type*;size*;\r\n"
              "211 ends here? no: this line has a different meaning");
    EXPECT_EQ(replies[2].code, 230);
    EXPECT_EQ(replies[2].text, "230");
    EXPECT_EQ(replies[3].text, "150-first\r\n150 last");
  }
}

TEST(ReplyTest, LinesThatLookLikeOtherCodesStayInsideTheReply) {
  auto replies = Parse(
      "257-The directory\r\n"
      "200 is not the end\r\n"
      "257-nor is this\r\n"
      "257 but this is\r\n", 5);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].code, 257);
  EXPECT_EQ(replies[0].text,
            "257-The directory\r\n200 is not the end\r\n257-nor is this\r\n"
            "257 but this is");
}

TEST(ReplyTest, MalformedFirstLinesAreErrors) {
  for (const char* bad : {"hello\r\n", "22 short\r\n", "2200 no separator\r\n",
                          "600 out of range\r\n", "099 too small\r\n",
                          "\r\n", "abc def\r\n"}) {
    SCOPED_TRACE(bad);
    auto replies = Parse(bad, 64);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].code, -1);
  }
}

TEST(ReplyTest, EndlessMultiLineReplyStopsAtTheBound) {
  ReplyAssembler assembler(1024 * 1024);
  ASSERT_EQ(assembler.Add("211-start"), ReplyAssembler::Status::kNeedMore);
  const std::string filler(1000, 'y');
  size_t added = 0;
  ReplyAssembler::Status st = ReplyAssembler::Status::kNeedMore;
  while (st == ReplyAssembler::Status::kNeedMore && added < 4 * 1024 * 1024) {
    st = assembler.Add(filler);
    added += filler.size();
  }
  EXPECT_EQ(st, ReplyAssembler::Status::kError);
  EXPECT_LE(added, 1024u * 1024u + filler.size());
}

TEST(ReplyTest, QuotedPathOfA257Reply) {
  EXPECT_EQ(ParseQuotedPath("257 \"/\" is the current directory"), "/");
  EXPECT_EQ(ParseQuotedPath("257 \"/a \"\"b\"\" c\" created"), "/a \"b\" c");
  EXPECT_EQ(ParseQuotedPath("257 \"\"\"\"\"\""), "\"\"");
  EXPECT_EQ(ParseQuotedPath("257 \"\""), "");
  EXPECT_EQ(ParseQuotedPath("257-\"/multi\" line\r\n257 end"), "/multi");
  EXPECT_FALSE(ParseQuotedPath("257 /no/quotes"));
  EXPECT_FALSE(ParseQuotedPath("257 \"/unbalanced"));
  EXPECT_FALSE(ParseQuotedPath("257 \"/ends with doubled\"\""));
  EXPECT_FALSE(ParseQuotedPath("257"));
  EXPECT_FALSE(ParseQuotedPath("257 \"/only\r\n257 next line\""));
}

}  // namespace
}  // namespace inet
