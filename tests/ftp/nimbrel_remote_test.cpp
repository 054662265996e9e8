// Nimbrel against the recording fake: rename, delete, make and remove
// directories, and the current directory.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "inet/errors.h"
#include "tests/ftp/nimbrel_fake_fixture.h"

namespace zorvex {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using NimbrelRemoteOpTest = NimbrelFakeTest;

// One of the four methods, the service operation it calls and the arguments
// it should send for ("a dir/x.txt", "b.txt").
struct RemoteOp {
  const char* op;
  std::function<int32_t(Nimbrel&)> call;
  const char* expected;
};

std::vector<RemoteOp> RemoteOps() {
  return {
      {"FtpRenameFileA",
       [](Nimbrel& n) { return n.RenameFile("a dir/x.txt", "b.txt"); },
       "FtpRenameFileA(2, \"a dir/x.txt\", \"b.txt\")"},
      {"FtpDeleteFileA", [](Nimbrel& n) { return n.DeleteFile("a dir/x.txt"); },
       "FtpDeleteFileA(2, \"a dir/x.txt\")"},
      {"FtpCreateDirectoryA",
       [](Nimbrel& n) { return n.CreateDir("a dir/x.txt"); },
       "FtpCreateDirectoryA(2, \"a dir/x.txt\")"},
      {"FtpRemoveDirectoryA",
       [](Nimbrel& n) { return n.RemoveDir("a dir/x.txt"); },
       "FtpRemoveDirectoryA(2, \"a dir/x.txt\")"},
  };
}

TEST_F(NimbrelRemoteOpTest, ArgumentsAndUnchangedResults) {
  Nimbrel& n = Connected();
  for (const RemoteOp& op : RemoteOps()) {
    fake_->Then(op.op, 7);
    EXPECT_EQ(op.call(n), 7) << op.op;
    EXPECT_EQ(fake_->Last(op.op).ToString(), op.expected);
  }
  EXPECT_THAT(events_, IsEmpty());
}

TEST_F(NimbrelRemoteOpTest, FailureReturnsZeroAfterTheEvent) {
  Nimbrel& n = Connected();
  fake_->SetResponse(550, "550 No such file or directory.\r\n");
  bool returned = false;
  size_t before_return = 0;
  n.OnFTPFrr([&](int32_t, const std::string&) {
    if (!returned) ++before_return;
  });
  for (const RemoteOp& op : RemoteOps()) {
    events_.clear();
    returned = false;
    before_return = 0;
    fake_->Fail(op.op, inet::ERROR_INTERNET_EXTENDED_ERROR);
    EXPECT_EQ(op.call(n), 0) << op.op;
    returned = true;
    EXPECT_EQ(before_return, 1u) << op.op;
    EXPECT_THAT(events_,
                ElementsAre(FtpEvent{550, "550 No such file or directory.\r\n"}))
        << op.op;
  }
}

TEST_F(NimbrelRemoteOpTest, EmptyNamesAreEmptyStringsAndHandleZeroIsSent) {
  Nimbrel& n = Make();  // not connected
  fake_->Fail("FtpRenameFileA", inet::ERROR_INVALID_HANDLE);
  EXPECT_EQ(n.RenameFile("old", ""), 0);
  EXPECT_EQ(fake_->Last("FtpRenameFileA").ToString(),
            "FtpRenameFileA(0, \"old\", \"\")");
  EXPECT_THAT(events_, ElementsAre(FtpEvent{6, kNoTextText}));
  n.DeleteFile("");
  EXPECT_EQ(fake_->Last("FtpDeleteFileA").Str(1), "");
}

TEST_F(NimbrelRemoteOpTest, ErrorEighteenRaisesNothing) {
  Nimbrel& n = Connected();
  fake_->Fail("FtpDeleteFileA", inet::ERROR_NO_MORE_FILES);
  EXPECT_EQ(n.DeleteFile("x"), 0);
  EXPECT_THAT(events_, IsEmpty());
  EXPECT_TRUE(n.RemoteFile()->SearchEnd);
}

// --- CurDir -----------------------------------------------------------------------

using NimbrelCurDirTest = NimbrelFakeTest;

TEST_F(NimbrelCurDirTest, ReadOffers260OfAZeroed261ByteBuffer) {
  Nimbrel& n = Connected();
  fake_->SetCurrentDirectory("/pub/\"quoted\" dir");
  EXPECT_EQ(n.CurDir(), "/pub/\"quoted\" dir");
  EXPECT_EQ(fake_->Last("FtpGetCurrentDirectoryA").ToString(),
            "FtpGetCurrentDirectoryA(2, 260, 1)");
}

TEST_F(NimbrelCurDirTest, ReadKeepsA259ByteNameAndCutsAtTheFirstNul) {
  Nimbrel& n = Connected();
  const std::string long_name = "/" + std::string(258, 'd');
  fake_->SetCurrentDirectory(long_name);
  EXPECT_EQ(n.CurDir(), long_name);
  // A service that fills all 260 bytes offered still gives a terminated text.
  fake_->SetCurrentDirectory(std::string(400, 'e'));
  EXPECT_EQ(n.CurDir(), std::string(260, 'e'));
  fake_->SetCurrentDirectory(std::string("/a\0b", 4));
  EXPECT_EQ(n.CurDir(), "/a");
}

TEST_F(NimbrelCurDirTest, FailedReadIsEmptyAfterTheEvent) {
  Nimbrel& n = Connected();
  fake_->SetResponse(550, "550 Gone.");
  fake_->Fail("FtpGetCurrentDirectoryA", inet::ERROR_INTERNET_EXTENDED_ERROR);
  bool returned = false;
  n.OnFTPFrr([&](int32_t, const std::string&) { EXPECT_FALSE(returned); });
  EXPECT_EQ(n.CurDir(), "");
  returned = true;
  EXPECT_THAT(events_, ElementsAre(FtpEvent{550, "550 Gone."}));
}

TEST_F(NimbrelCurDirTest, WriteRemovesOneLeadingSeparatorOnly) {
  Nimbrel& n = Connected();
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/pub/data", "pub/data"}, {"\\pub/data", "pub/data"},
      {"\\pub", "pub"},          {"//pub", "/pub"},
      {"/", ""},                 {"", ""},
      {"pub/", "pub/"},          {"\\\\srv", "\\srv"},
      {"/a dir/\"q\"", "a dir/\"q\""}};
  for (const auto& [in, sent] : cases) {
    n.CurDir(in);
    EXPECT_EQ(fake_->Last("FtpSetCurrentDirectoryA").Str(1), sent) << in;
    EXPECT_EQ(fake_->Last("FtpSetCurrentDirectoryA").Num(0), 2u);
  }
  EXPECT_THAT(events_, IsEmpty());
}

TEST_F(NimbrelCurDirTest, FailedWriteReportsOnlyThroughTheEvent) {
  Nimbrel& n = Make();
  fake_->SetMessage(inet::ERROR_INVALID_HANDLE, "The handle is invalid.");
  fake_->Fail("FtpSetCurrentDirectoryA", inet::ERROR_INVALID_HANDLE);
  n.CurDir("/pub");
  EXPECT_EQ(fake_->Last("FtpSetCurrentDirectoryA").ToString(),
            "FtpSetCurrentDirectoryA(0, \"pub\")");
  EXPECT_THAT(events_, ElementsAre(FtpEvent{6, "The handle is invalid."}));
}

}  // namespace
}  // namespace zorvex
