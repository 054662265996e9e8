// Nimbrel against the recording fake: FindFile, NextFile and the record that
// they fill.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "inet/errors.h"
#include "tests/ftp/nimbrel_fake_fixture.h"

namespace zorvex {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testsupport::RecordingService;

using NimbrelSearchTest = NimbrelFakeTest;

TEST_F(NimbrelSearchTest, ListsEntriesUntilTheEnd) {
  fake_->Then("FtpFindFirstFileA", 44);
  Nimbrel& n = Connected();
  fake_->AddFindData(RecordingService::FindData(
      "a.txt", 128, 0, 1234, RecordingService::FileTime(2001, 3, 7, 9, 5, 0, 250)));
  fake_->AddFindData(RecordingService::FindData(
      "sub", 16, 0, 0, RecordingService::FileTime(2024, 2, 29, 23, 59, 59)));
  fake_->Then("InternetFindNextFileA", 1).Fail("InternetFindNextFileA",
                                               inet::ERROR_NO_MORE_FILES);
  n.FindFile("/pub/*.txt");
  EXPECT_EQ(fake_->Last("FtpFindFirstFileA").ToString(),
            "FtpFindFirstFileA(2, \"/pub/*.txt\", 1, 0, 0)");
  EXPECT_EQ(NimbrelTestAccess::hFind(n), 44u);

  auto file = n.RemoteFile();
  EXPECT_FALSE(file->SearchEnd);
  EXPECT_EQ(file->FileName, "a.txt");
  EXPECT_EQ(file->FileSize, 1234);
  EXPECT_EQ(file->FileType, 0);
  EXPECT_EQ(file->FileDate.ToString(), "2001-03-07 09:05:00");

  n.NextFile();
  EXPECT_EQ(fake_->Last("InternetFindNextFileA").ToString(),
            "InternetFindNextFileA(44, 1)");
  EXPECT_EQ(n.RemoteFile(), file);  // the same record, moved on
  EXPECT_EQ(file->FileName, "sub");
  EXPECT_EQ(file->FileType, 16);
  EXPECT_EQ(file->FileDate.ToString(), "2024-02-29 23:59:59");

  // The end: no event, SearchEnd set, the last entry kept, handle still open.
  n.NextFile();
  EXPECT_TRUE(file->SearchEnd);
  EXPECT_EQ(file->FileName, "sub");
  EXPECT_EQ(file->FileType, 16);
  EXPECT_EQ(file->FileDate.ToString(), "2024-02-29 23:59:59");
  EXPECT_EQ(NimbrelTestAccess::hFind(n), 44u);
  EXPECT_THAT(events_, IsEmpty());

  // After the end, NextFile calls nothing.
  fake_->ClearCalls();
  n.NextFile();
  EXPECT_THAT(fake_->calls(), IsEmpty());

  // The next FindFile closes the old listing first.
  n.FindFile("");
  EXPECT_EQ(fake_->calls()[0].ToString(), "InternetCloseHandle(44)");
  EXPECT_EQ(fake_->calls()[1].name, "FtpFindFirstFileA");
}

TEST_F(NimbrelSearchTest, NothingMatchingEndsQuietlyWithAFreshRecord) {
  Nimbrel& n = Connected();
  fake_->AddFindData(RecordingService::FindData("old", 128, 0, 9));
  n.FindFile("*");
  const auto old = n.RemoteFile();
  fake_->Fail("FtpFindFirstFileA", inet::ERROR_NO_MORE_FILES);
  n.FindFile("*.none");
  EXPECT_THAT(events_, IsEmpty());
  const auto file = n.RemoteFile();
  EXPECT_NE(file, old);
  EXPECT_TRUE(file->SearchEnd);
  EXPECT_EQ(file->FileName, "");
  EXPECT_EQ(file->FileSize, 0);
  EXPECT_EQ(file->FileType, 0);
  EXPECT_EQ(NimbrelTestAccess::hFind(n), 0u);
  // Whoever kept the old record keeps its values.
  EXPECT_EQ(old->FileName, "old");
  EXPECT_EQ(old->FileSize, 9);
  EXPECT_FALSE(old->SearchEnd);
}

TEST_F(NimbrelSearchTest, FailedStartRaisesBeforeSearchEndIsSet) {
  Nimbrel& n = Connected();
  fake_->SetResponse(550, "550 No such directory.\r\n");
  fake_->Fail("FtpFindFirstFileA", inet::ERROR_INTERNET_EXTENDED_ERROR);
  std::vector<bool> search_end_seen;
  n.OnFTPFrr([&](int32_t, const std::string&) {
    search_end_seen.push_back(n.RemoteFile()->SearchEnd);
  });
  n.FindFile("missing/*");
  EXPECT_THAT(search_end_seen, ElementsAre(false));
  EXPECT_TRUE(n.RemoteFile()->SearchEnd);
  EXPECT_EQ(NimbrelTestAccess::hFind(n), 0u);
  EXPECT_THAT(events_, ElementsAre(FtpEvent{550, "550 No such directory.\r\n"}));
  // And NextFile now does nothing.
  fake_->ClearCalls();
  n.NextFile();
  EXPECT_THAT(fake_->calls(), IsEmpty());
}

TEST_F(NimbrelSearchTest, FailedNextKeepsTheEntryAndSearchEndFalse) {
  Nimbrel& n = Connected();
  fake_->AddFindData(RecordingService::FindData("a", 128, 0, 5));
  n.FindFile("");
  fake_->Fail("InternetFindNextFileA", inet::ERROR_INTERNET_CONNECTION_RESET);
  n.NextFile();
  EXPECT_FALSE(n.RemoteFile()->SearchEnd);
  EXPECT_EQ(n.RemoteFile()->FileName, "a");
  ASSERT_EQ(events_.size(), 1u);
  EXPECT_EQ(events_[0].number, 12031);
}

TEST_F(NimbrelSearchTest, NextBeforeAnyFindUsesHandleZero) {
  Nimbrel& n = Connected();
  fake_->Fail("InternetFindNextFileA", inet::ERROR_INVALID_HANDLE);
  n.NextFile();
  EXPECT_EQ(fake_->Last("InternetFindNextFileA").Num(0), 0u);
  EXPECT_THAT(events_, ElementsAre(FtpEvent{6, kNoTextText}));
}

TEST_F(NimbrelSearchTest, FailedCloseOfTheOldListingStillStartsTheNew) {
  fake_->Then("FtpFindFirstFileA", 50).Then("FtpFindFirstFileA", 51);
  Nimbrel& n = Connected();
  n.FindFile("");
  fake_->Fail("InternetCloseHandle", inet::ERROR_INVALID_HANDLE);
  n.FindFile("");
  EXPECT_EQ(events_.size(), 1u);
  EXPECT_EQ(NimbrelTestAccess::hFind(n), 51u);
}

TEST_F(NimbrelSearchTest, SizesFromBothHalves) {
  Nimbrel& n = Connected();
  fake_->AddFindData(RecordingService::FindData("big", 128, 1, 1073741824));
  fake_->AddFindData(RecordingService::FindData("low", 128, 0, 3221225472u));
  fake_->AddFindData(RecordingService::FindData("max", 128, 0xFFFFFFFFu, 0xFFFFFFFFu));
  n.FindFile("");
  EXPECT_EQ(n.RemoteFile()->FileSize, 5368709120.0);
  n.NextFile();
  EXPECT_EQ(n.RemoteFile()->FileSize, 3221225472.0);
  n.NextFile();
  EXPECT_EQ(n.RemoteFile()->FileSize, 18446744073709551615.0);
}

TEST_F(NimbrelSearchTest, TypeIsSixteenOnlyForAPlainDirectory) {
  Nimbrel& n = Connected();
  for (inet::DWORD attributes : {16u, 17u, 128u, 0u, 48u})
    fake_->AddFindData(RecordingService::FindData("e", attributes));
  n.FindFile("");
  std::vector<int32_t> types{n.RemoteFile()->FileType};
  for (int i = 0; i < 4; ++i) {
    n.NextFile();
    types.push_back(n.RemoteFile()->FileType);
  }
  EXPECT_THAT(types, ElementsAre(16, 0, 0, 0, 0));
}

TEST_F(NimbrelSearchTest, NamesAreCutAtTheFirstNulAnd259BytesSurvive) {
  Nimbrel& n = Connected();
  const std::string longest(259, 'n');
  fake_->AddFindData(RecordingService::FindData(longest, 128));
  fake_->AddFindData(RecordingService::FindData(std::string("ab\0cd", 5), 128));
  // A service that fills all 260 bytes gets its name cut at the field's end.
  fake_->AddFindData(RecordingService::FindData(std::string(260, 'f'), 128));
  fake_->AddFindData(RecordingService::FindData("with space \"q\"", 128));
  n.FindFile("");
  EXPECT_EQ(n.RemoteFile()->FileName, longest);
  n.NextFile();
  EXPECT_EQ(n.RemoteFile()->FileName, "ab");
  n.NextFile();
  EXPECT_EQ(n.RemoteFile()->FileName, std::string(260, 'f'));
  n.NextFile();
  EXPECT_EQ(n.RemoteFile()->FileName, "with space \"q\"");
  // Each call hands the service a record whose name field is all NULs.
  for (const auto& c : fake_->CallsTo("InternetFindNextFileA"))
    EXPECT_EQ(c.Num(1), 1u);
}

TEST_F(NimbrelSearchTest, UnconvertibleTimeGivesTheZeroDate) {
  Nimbrel& n = Connected();
  fake_->AddFindData(RecordingService::FindData(
      "dated", 128, 0, 1, RecordingService::FileTime(2020, 1, 2, 3, 4, 5)));
  // Beyond what the conversion accepts: it fails and leaves the fields 0.
  fake_->AddFindData(RecordingService::FindData(
      "undated", 128, 0, 1, inet::FILETIME{0xFFFFFFFFu, 0xFFFFFFFFu}));
  // Calendar fields past 9999 are no date either.
  fake_->AddFindData(RecordingService::FindData("far", 128));
  inet::SYSTEMTIME far{};
  far.wYear = 30828;
  far.wMonth = 9;
  far.wDay = 14;
  n.FindFile("");
  EXPECT_EQ(n.RemoteFile()->FileDate.ToString(), "2020-01-02 03:04:05");
  n.NextFile();
  EXPECT_EQ(n.RemoteFile()->FileName, "undated");
  EXPECT_EQ(n.RemoteFile()->FileDate, Date());  // not the previous entry's
  fake_->AddSystemTime(far);
  n.NextFile();
  EXPECT_EQ(n.RemoteFile()->FileDate, Date());
  EXPECT_THAT(events_, IsEmpty());
}

TEST_F(NimbrelSearchTest, RecordReplacedByTheCallerIsFilled) {
  Nimbrel& n = Connected();
  auto mine = std::make_shared<FTPFile>();
  fake_->AddFindData(RecordingService::FindData("a", 128));
  fake_->AddFindData(RecordingService::FindData("b", 128));
  n.FindFile("");
  n.RemoteFile(mine);
  n.NextFile();
  EXPECT_EQ(mine->FileName, "b");
  n.RemoteFile(nullptr);  // cleared: the next use creates a fresh one
  n.NextFile();           // the fake has nothing left: a zeroed record
  EXPECT_EQ(n.RemoteFile()->FileName, "");
  EXPECT_EQ(mine->FileName, "b");
}

}  // namespace
}  // namespace zorvex
