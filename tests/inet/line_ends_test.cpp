// ASCII line-end conversion, whole and cut at every possible point.
#include "inet/line_ends.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace inet {
namespace {

std::string Upload(const std::string& in, size_t chunk) {
  LfToCrlf conv;
  std::string out;
  for (size_t i = 0; i < in.size(); i += chunk)
    conv.Convert(std::string_view(in).substr(i, chunk), &out);
  return out;
}

std::string Download(const std::string& in, size_t chunk) {
  CrlfToLf conv;
  std::string out;
  for (size_t i = 0; i < in.size(); i += chunk)
    conv.Convert(std::string_view(in).substr(i, chunk), &out);
  conv.Finish(&out);
  return out;
}

// As a download receives: each chunk lands one byte into a buffer of its own
// (the byte in front is room for a held-back CR) and is converted there.
std::string DownloadInPlace(const std::string& in, size_t chunk) {
  CrlfToLf conv;
  std::string out;
  std::string buffer(chunk + 1, '#');
  for (size_t i = 0; i < in.size(); i += chunk) {
    const size_t n = std::min(chunk, in.size() - i);
    in.copy(buffer.data() + 1, n, i);
    const std::string_view text = conv.ConvertInPlace(buffer.data() + 1, n);
    EXPECT_GE(text.data(), buffer.data());
    EXPECT_LE(text.data() + text.size(), buffer.data() + 1 + n);
    out += text;
  }
  conv.Finish(&out);
  return out;
}

TEST(LineEndsTest, UploadAddsCrOnlyBeforeBareLf) {
  const std::string in = "a\nb\r\nc\rd\n\n\r\r\ne";
  const std::string want = "a\r\nb\r\nc\rd\r\n\r\n\r\r\ne";
  for (size_t chunk = 1; chunk <= in.size(); ++chunk) {
    SCOPED_TRACE(chunk);
    EXPECT_EQ(Upload(in, chunk), want);
  }
  EXPECT_EQ(Upload("", 1), "");
  EXPECT_EQ(Upload("\n", 1), "\r\n");
}

TEST(LineEndsTest, DownloadDropsCrOnlyBeforeLf) {
  const std::string in = "a\r\nb\nc\rd\r\r\n\r";
  const std::string want = "a\nb\nc\rd\r\n\r";
  for (size_t chunk = 1; chunk <= in.size(); ++chunk) {
    SCOPED_TRACE(chunk);
    EXPECT_EQ(Download(in, chunk), want);
  }
}

TEST(LineEndsTest, CrAtTheEndOfOneChunkAndLfAtTheStartOfTheNext) {
  CrlfToLf down;
  std::string out;
  down.Convert("line\r", &out);
  EXPECT_EQ(out, "line");  // the CR waits for the next chunk
  down.Convert("\nnext\r", &out);
  down.Convert("x", &out);
  down.Finish(&out);
  EXPECT_EQ(out, "line\nnext\rx");

  LfToCrlf up;
  out.clear();
  up.Convert("line\r", &out);
  up.Convert("\nnext", &out);
  up.Convert("\n", &out);
  EXPECT_EQ(out, "line\r\nnext\r\n");
}

// Byte-at-a-time forms of the two rules, to check the block-wise conversion
// against.
std::string ReferenceUpload(const std::string& in) {
  std::string out;
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] == '\n' && (i == 0 || in[i - 1] != '\r')) out += '\r';
    out += in[i];
  }
  return out;
}

std::string ReferenceDownload(const std::string& in) {
  std::string out;
  for (size_t i = 0; i < in.size(); ++i)
    if (!(in[i] == '\r' && i + 1 < in.size() && in[i + 1] == '\n')) out += in[i];
  return out;
}

TEST(LineEndsTest, LongTextCutAnywhereMatchesTheByteRules) {
  // Runs of plain text longer and shorter than a block, with CR, LF and CR LF
  // at every offset, including block edges and chunk edges.
  std::string text;
  uint32_t x = 12345;
  for (int i = 0; i < 20000; ++i) {
    x = x * 1103515245u + 12345u;
    const uint32_t r = (x >> 16) % 64;
    if (r < 4) text += "\r\n";
    else if (r < 6) text += '\n';
    else if (r < 7) text += '\r';
    else text += static_cast<char>('a' + r % 26);
  }
  const std::string up = ReferenceUpload(text);
  const std::string down = ReferenceDownload(text);
  for (size_t chunk : {1u, 15u, 16u, 17u, 31u, 4096u, 100000u}) {
    SCOPED_TRACE(chunk);
    EXPECT_TRUE(Upload(text, chunk) == up);
    EXPECT_TRUE(Download(text, chunk) == down);
    EXPECT_TRUE(DownloadInPlace(text, chunk) == down);
  }
}

TEST(LineEndsTest, ACrEndingAChunkOfWholeBlocksIsHeldBack) {
  // The byte after the chunk is an LF that belongs to nobody: the CR must
  // wait for the next chunk, not look past the end.
  for (size_t size : {16u, 32u}) {
    SCOPED_TRACE(size);
    std::string buffer(size - 1, 'a');
    buffer += "\r\n";
    CrlfToLf copying;
    char out[64];
    EXPECT_EQ(copying.Convert(buffer.data(), size, out), size - 1);
    std::string held;
    copying.Finish(&held);
    EXPECT_EQ(held, "\r");
    CrlfToLf in_place;
    EXPECT_EQ(in_place.ConvertInPlace(buffer.data() + 1, size - 1).size(),
              size - 2);
    EXPECT_EQ(in_place.ConvertInPlace(buffer.data() + 1, size - 1).size(),
              size - 1);
    std::string rest;
    in_place.Finish(&rest);
    EXPECT_EQ(rest, "\r");
  }
}

TEST(LineEndsTest, InPlaceDownloadMatchesTheByteRules) {
  const std::string in = "a\r\nb\nc\rd\r\r\n\r";
  for (size_t chunk = 1; chunk <= in.size(); ++chunk) {
    SCOPED_TRACE(chunk);
    EXPECT_EQ(DownloadInPlace(in, chunk), "a\nb\nc\rd\r\n\r");
  }
  // Blocks of 16 with CRs packed close, so that the output falls behind the
  // input by more and more while later bytes are still to be read.
  std::string dense;
  for (int i = 0; i < 300; ++i)
    dense += (i % 7 == 0) ? "\r\r\n" : (i % 5 == 0 ? "x\r" : "\r\nabcdefghijklmnopq");
  for (size_t chunk : {1u, 2u, 15u, 16u, 17u, 33u, 1000u, 100000u}) {
    SCOPED_TRACE(chunk);
    EXPECT_TRUE(DownloadInPlace(dense, chunk) == ReferenceDownload(dense));
  }
}

TEST(LineEndsTest, InPlaceHeldBackCrAcrossChunks) {
  CrlfToLf conv;
  char buf[16];
  auto convert = [&](const char* text) {
    const size_t n = std::strlen(text);
    std::memcpy(buf + 1, text, n);
    return std::string(conv.ConvertInPlace(buf + 1, n));
  };
  EXPECT_EQ(convert("line\r"), "line");  // the CR waits
  EXPECT_EQ(convert("\nnext"), "\nnext");  // and goes with the LF
  EXPECT_EQ(convert("lone\r"), "lone");
  // No LF follows: the CR comes out first, in the room before the chunk.
  const std::string after = convert("x\r\n");
  EXPECT_EQ(after, "\rx\n");
  EXPECT_EQ(convert("\r"), "");  // a chunk of a single CR is held whole
  EXPECT_EQ(convert("\r"), "\r");  // the next CR frees the one before
  EXPECT_EQ(convert(""), "");  // an empty chunk changes nothing
  std::string rest;
  conv.Finish(&rest);
  EXPECT_EQ(rest, "\r");  // the final CR stays
  EXPECT_EQ(convert("plain\n"), "plain\n");
}

TEST(LineEndsTest, UnchangedOnlyWithoutAnyCr) {
  CrlfToLf down;
  EXPECT_TRUE(down.Unchanged("plain\ntext\n", 11));
  EXPECT_FALSE(down.Unchanged("a\r\nb", 5));
  EXPECT_FALSE(down.Unchanged("lone\rcr", 8));
  std::string out;
  down.Convert("held\r", &out);  // the CR waits for the next chunk
  EXPECT_FALSE(down.Unchanged("next", 4));
}

TEST(LineEndsTest, RoundTripRestoresLfText) {
  std::string text;
  for (int i = 0; i < 5000; ++i) text += "row " + std::to_string(i) + "\n";
  for (size_t chunk : {1u, 4096u, 65536u})
    EXPECT_EQ(Download(Upload(text, chunk), chunk + 1), text);
}

}  // namespace
}  // namespace inet
