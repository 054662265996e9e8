// Nimbrel against the recording fake: creation and termination, connection
// properties, OpenSession/CloseSession, transfers and error reporting.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>

#include "inet/errors.h"
#include "tests/ftp/nimbrel_fake_fixture.h"

namespace zorvex {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testsupport::RecordingService;

constexpr uint64_t kPassive = 0x08000000;

// --- Creation and termination ------------------------------------------------

using NimbrelCreationTest = NimbrelFakeTest;

TEST_F(NimbrelCreationTest, OpensTheInternetHandleAndStartsEmpty) {
  fake_->Then("InternetOpenA", 41);
  Nimbrel n(fake_);
  ASSERT_EQ(fake_->Names(), (std::vector<std::string>{"InternetOpenA"}));
  EXPECT_EQ(fake_->calls()[0].ToString(), "InternetOpenA(null, 0, null, null, 0)");
  EXPECT_EQ(n.hInternet(), 41);
  EXPECT_EQ(n.hFTP(), 0);
  EXPECT_EQ(n.RemotePort(), 21);
  EXPECT_EQ(n.RemoteHost(), "");
  EXPECT_EQ(n.User(), "");
  EXPECT_EQ(n.Password(), "");
  EXPECT_FALSE(n.PassiveFlag());
  EXPECT_EQ(n.ClassName(), "Nimbrel Class Module");
  EXPECT_EQ(n.Version(), "0.9 b");
  EXPECT_FALSE(n.Copyright().empty());
  EXPECT_EQ(n.Copyright().find('\n'), std::string::npos);

  const auto file = n.RemoteFile();
  ASSERT_TRUE(file);
  EXPECT_EQ(file->FileName, "");
  EXPECT_EQ(file->FileSize, 0);
  EXPECT_EQ(file->FileType, 0);
  EXPECT_EQ(file->FileDate, Date());
  EXPECT_FALSE(file->SearchEnd);
  EXPECT_EQ(n.RemoteFile(), file);  // created once, then kept
}

TEST_F(NimbrelCreationTest, FailedOpenLeavesHandleZeroAndPort21) {
  fake_->Fail("InternetOpenA", 12345);
  Nimbrel n(fake_);
  EXPECT_EQ(n.hInternet(), 0);
  EXPECT_EQ(n.RemotePort(), 21);
  // The failure went through the error reporter (whose event nobody hears).
  EXPECT_EQ(fake_->Names(true),
            (std::vector<std::string>{"InternetOpenA", "GetLastError",
                                      "FormatMessageA"}));
  EXPECT_EQ(fake_->Last("FormatMessageA").Num(2), 12345u);
}

TEST_F(NimbrelCreationTest, TerminationClosesSearchConnectionThenInternet) {
  fake_->Then("InternetOpenA", 5).Then("InternetConnectA", 6).Then(
      "FtpFindFirstFileA", 7);
  auto n = std::make_unique<Nimbrel>(fake_);
  n->OpenSession();
  n->FindFile("*");
  fake_->ClearCalls();
  n.reset();
  const auto closes = fake_->CallsTo("InternetCloseHandle");
  ASSERT_EQ(closes.size(), 3u);
  EXPECT_EQ(closes[0].Num(0), 7u);
  EXPECT_EQ(closes[1].Num(0), 6u);
  EXPECT_EQ(closes[2].Num(0), 5u);
}

TEST_F(NimbrelCreationTest, TerminationClosesAZeroHandleAndReportsTheFailure) {
  fake_->Fail("InternetOpenA", 12001);
  fake_->Fail("InternetCloseHandle", inet::ERROR_INVALID_HANDLE);
  fake_->SetMessage(inet::ERROR_INVALID_HANDLE, "The handle is invalid.");
  Make();
  EXPECT_EQ(nimbrel_->hInternet(), 0);
  nimbrel_.reset();
  // Not connected: the only close is that of hInternet, made with 0.
  EXPECT_EQ(fake_->Names(),
            (std::vector<std::string>{"InternetCloseHandle", "FormatMessageA"}));
  EXPECT_EQ(fake_->Last("InternetCloseHandle").Num(0), 0u);
  EXPECT_THAT(events_, ElementsAre(FtpEvent{6, "The handle is invalid."}));
}

TEST_F(NimbrelCreationTest, TerminationSwallowsAThrowingListener) {
  Make();
  nimbrel_->OnFTPFrr([](int32_t, const std::string&) {
    throw std::runtime_error("listener");
  });
  fake_->Fail("InternetCloseHandle", 6);
  EXPECT_NO_THROW(nimbrel_.reset());
  EXPECT_EQ(events_.size(), 1u);
}

// --- Connection properties and OpenSession -----------------------------------

using NimbrelOpenSessionTest = NimbrelFakeTest;

TEST_F(NimbrelOpenSessionTest, AbsentTextsGoAsNullPointers) {
  Nimbrel& n = Make();
  n.OpenSession();
  EXPECT_EQ(fake_->Last("InternetConnectA").ToString(),
            "InternetConnectA(1, null, 21, null, null, 1, 0, 0)");
  EXPECT_EQ(n.hFTP(), 2);

  // Written, then emptied again: reads "" and is absent once more.
  n.RemoteHost("ftp.example");
  n.User("alice");
  n.Password("secret");
  EXPECT_EQ(n.User(), "alice");
  n.RemoteHost("");
  n.User("");
  n.Password("");
  EXPECT_EQ(n.RemoteHost(), "");
  EXPECT_EQ(n.User(), "");
  EXPECT_EQ(n.Password(), "");
  n.OpenSession();
  EXPECT_EQ(fake_->Last("InternetConnectA").ToString(),
            "InternetConnectA(1, null, 21, null, null, 1, 0, 0)");
}

TEST_F(NimbrelOpenSessionTest, PassesSettingsInOrder) {
  fake_->Then("InternetOpenA", 9);
  Nimbrel& n = Make();
  n.RemoteHost("127.0.0.1");
  n.User("alice");
  n.Password("p w");
  n.RemotePort(2121);
  n.PassiveFlag(true);
  EXPECT_TRUE(n.PassiveFlag());
  n.OpenSession();
  EXPECT_EQ(fake_->Last("InternetConnectA").ToString(),
            "InternetConnectA(9, \"127.0.0.1\", 2121, \"alice\", \"p w\", 1, " +
                std::to_string(kPassive) + ", 0)");
  n.PassiveFlag(false);
  EXPECT_FALSE(n.PassiveFlag());
  n.OpenSession();
  EXPECT_EQ(fake_->Last("InternetConnectA").Num(6), 0u);
}

TEST_F(NimbrelOpenSessionTest, PortIsPassedUncheckedAndUserAloneStaysAlone) {
  Nimbrel& n = Make();
  n.RemotePort(-1);
  n.User("bob");
  n.OpenSession();
  const auto call = fake_->Last("InternetConnectA");
  EXPECT_EQ(static_cast<int64_t>(call.Num(2)), -1);
  EXPECT_EQ(call.Str(3), "bob");
  EXPECT_EQ(call.Str(4), std::nullopt);
}

TEST_F(NimbrelOpenSessionTest, FailureLeavesHFTPZeroAndRaisesBeforeReturn) {
  Nimbrel& n = Make();
  bool returned = false;
  n.OnFTPFrr([&](int32_t, const std::string&) {
    EXPECT_FALSE(returned);
    EXPECT_EQ(n.hFTP(), 0);
  });
  fake_->Fail("InternetConnectA", inet::ERROR_INTERNET_NAME_NOT_RESOLVED);
  n.RemoteHost("no.such.host.invalid");
  n.OpenSession();
  returned = true;
  EXPECT_EQ(n.hFTP(), 0);
  EXPECT_THAT(events_, ElementsAre(FtpEvent{12007, kNameNotResolvedText}));
}

TEST_F(NimbrelOpenSessionTest, TlsAsksForItsTrustBeforeEveryConnect) {
  fake_->Then("InternetOpenA", 9);
  Nimbrel& n = Make();
  EXPECT_EQ(n.Security(), FtpSecurity::kPlain);
  n.Security(FtpSecurity::kExplicitTls);
  n.TrustFile("/etc/zorvex/ca.pem");
  n.PassiveFlag(true);
  n.OpenSession();
  n.Security(FtpSecurity::kImplicitTls);
  n.TrustFile("");  // an earlier session's file does not linger
  n.OpenSession();
  n.Security(FtpSecurity::kPlain);
  n.OpenSession();
  EXPECT_THAT(fake_->Names(),
              ElementsAre("InternetSetOptionA", "InternetConnectA",
                          "InternetSetOptionA", "InternetConnectA",
                          "InternetConnectA"));
  const auto calls = fake_->ServiceCalls();
  EXPECT_EQ(calls[0].ToString(),
            "InternetSetOptionA(9, 31233, \"/etc/zorvex/ca.pem\", 18)");
  EXPECT_EQ(calls[1].Num(6), kPassive | inet::INTERNET_FLAG_SECURE);
  EXPECT_EQ(calls[2].ToString(), "InternetSetOptionA(9, 31233, \"\", 0)");
  EXPECT_EQ(calls[3].Num(6), kPassive | inet::INTERNET_FLAG_SECURE |
                                 inet::INTERNET_FLAG_SECURE_IMPLICIT);
  EXPECT_EQ(calls[4].Num(6), kPassive);
}

TEST_F(NimbrelOpenSessionTest, TrustThatCannotBeSetMeansNoConnection) {
  Nimbrel& n = Make();
  n.Security(FtpSecurity::kExplicitTls);
  fake_->Fail("InternetSetOptionA", inet::ERROR_INVALID_HANDLE);
  fake_->SetMessage(inet::ERROR_INVALID_HANDLE, "The handle is not valid.");
  n.OpenSession();
  EXPECT_EQ(n.hFTP(), 0);
  EXPECT_TRUE(fake_->CallsTo("InternetConnectA").empty());
  EXPECT_THAT(events_, ElementsAre(FtpEvent{6, "The handle is not valid."}));
}

TEST_F(NimbrelOpenSessionTest, SecondOpenReplacesTheHandleWithoutClosing) {
  fake_->Then("InternetConnectA", 11).Then("InternetConnectA", 12);
  Nimbrel& n = Make();
  n.OpenSession();
  n.OpenSession();
  EXPECT_EQ(n.hFTP(), 12);
  EXPECT_THAT(fake_->CallsTo("InternetCloseHandle"), IsEmpty());
}

// --- CloseSession and CloseFind ------------------------------------------------

using NimbrelCloseTest = NimbrelFakeTest;

TEST_F(NimbrelCloseTest, NothingToCloseMakesNoCall) {
  Nimbrel& n = Make();
  n.CloseSession();
  NimbrelTestAccess::CloseFind(n);
  EXPECT_THAT(fake_->calls(), IsEmpty());
  EXPECT_THAT(events_, IsEmpty());
}

TEST_F(NimbrelCloseTest, ClosesOnceThenNothing) {
  Nimbrel& n = Connected();
  n.CloseSession();
  EXPECT_EQ(n.hFTP(), 0);
  n.CloseSession();
  ASSERT_EQ(fake_->calls().size(), 1u);
  EXPECT_EQ(fake_->calls()[0].ToString(), "InternetCloseHandle(2)");
}

TEST_F(NimbrelCloseTest, FailedCloseKeepsTheHandle) {
  Nimbrel& n = Connected();
  fake_->Fail("InternetCloseHandle", inet::ERROR_INVALID_HANDLE);
  n.CloseSession();
  EXPECT_EQ(n.hFTP(), 2);
  EXPECT_THAT(events_, ElementsAre(FtpEvent{6, kNoTextText}));
  n.CloseSession();  // tried again, and now it goes
  EXPECT_EQ(n.hFTP(), 0);
}

TEST_F(NimbrelCloseTest, ClosesTheSearchFirstAndGoesOnWhenThatFails) {
  fake_->Then("FtpFindFirstFileA", 30);
  Nimbrel& n = Connected();
  n.FindFile("");
  fake_->ClearCalls();
  fake_->Fail("InternetCloseHandle", inet::ERROR_INVALID_HANDLE);
  n.CloseSession();
  const auto closes = fake_->CallsTo("InternetCloseHandle");
  ASSERT_EQ(closes.size(), 2u);
  EXPECT_EQ(closes[0].Num(0), 30u);
  EXPECT_EQ(closes[1].Num(0), 2u);
  EXPECT_EQ(NimbrelTestAccess::hFind(n), 30u);  // the failed close kept it
  EXPECT_EQ(n.hFTP(), 0);
  EXPECT_EQ(events_.size(), 1u);
  // The next CloseFind tries again.
  NimbrelTestAccess::CloseFind(n);
  EXPECT_EQ(NimbrelTestAccess::hFind(n), 0u);
}

// --- Transfers --------------------------------------------------------------------

using NimbrelTransferTest = NimbrelFakeTest;

TEST_F(NimbrelTransferTest, PutFileFlagsAndArguments) {
  Nimbrel& n = Connected();
  EXPECT_EQ(n.PutFile("/tmp/a.txt", "/pub/a.txt", 1), 1);
  EXPECT_EQ(fake_->Last("FtpPutFileA").ToString(),
            "FtpPutFileA(2, \"/tmp/a.txt\", \"/pub/a.txt\", 1, 0)");
  for (int32_t nTransfer : {0, 2, -1, 3}) {
    n.PutFile("l", "r", nTransfer);
    EXPECT_EQ(fake_->Last("FtpPutFileA").Num(3), 2u) << nTransfer;
  }
  n.PutFile("", "", 2);  // empty paths are empty strings, never null
  EXPECT_EQ(fake_->Last("FtpPutFileA").Str(1), "");
  EXPECT_EQ(fake_->Last("FtpPutFileA").Str(2), "");
}

TEST_F(NimbrelTransferTest, GetFileFlagsAndArguments) {
  Nimbrel& n = Connected();
  n.GetFile("/pub/a.txt", "/tmp/a.txt", true, 1);
  EXPECT_EQ(fake_->Last("FtpGetFileA").ToString(),
            "FtpGetFileA(2, \"/pub/a.txt\", \"/tmp/a.txt\", 1, 0, " +
                std::to_string(0x80000001u) + ", 0)");
  n.GetFile("r", "l", false, 0);
  EXPECT_EQ(fake_->Last("FtpGetFileA").Num(3), 0u);
  EXPECT_EQ(fake_->Last("FtpGetFileA").Num(5), 0x80000002u);
  n.GetFile("r", "l", false, 2);
  EXPECT_EQ(fake_->Last("FtpGetFileA").Num(5), 0x80000002u);
}

TEST_F(NimbrelTransferTest, ResultComesBackUnchanged) {
  Nimbrel& n = Connected();
  fake_->Then("FtpPutFileA", 7).Then("FtpGetFileA", 7);
  EXPECT_EQ(n.PutFile("l", "r", 2), 7);
  EXPECT_EQ(n.GetFile("r", "l", false, 2), 7);
  EXPECT_THAT(events_, IsEmpty());
}

TEST_F(NimbrelTransferTest, FailureReturnsZeroAfterTheEvent) {
  Nimbrel& n = Connected();
  fake_->SetMessage(inet::ERROR_FILE_EXISTS, "The file exists.");
  fake_->Fail("FtpGetFileA", inet::ERROR_FILE_EXISTS);
  bool returned = false;
  n.OnFTPFrr([&](int32_t, const std::string&) { EXPECT_FALSE(returned); });
  EXPECT_EQ(n.GetFile("r", "l", true, 2), 0);
  returned = true;
  EXPECT_THAT(events_, ElementsAre(FtpEvent{80, "The file exists."}));
  // The last error is read right after the failed call, before anything else.
  const auto names = fake_->Names(true);
  ASSERT_GE(names.size(), 2u);
  EXPECT_EQ(names[0], "FtpGetFileA");
  EXPECT_EQ(names[1], "GetLastError");
}

TEST_F(NimbrelTransferTest, WithoutAConnectionTheServiceGetsHandleZero) {
  Nimbrel& n = Make();
  fake_->Fail("FtpPutFileA", inet::ERROR_INVALID_HANDLE);
  EXPECT_EQ(n.PutFile("l", "r", 2), 0);
  EXPECT_EQ(fake_->Last("FtpPutFileA").Num(0), 0u);
  EXPECT_EQ(events_.size(), 1u);
  EXPECT_EQ(events_[0].number, 6);
}

// --- Error reporting ------------------------------------------------------------------

using NimbrelErrorTest = NimbrelFakeTest;

TEST_F(NimbrelErrorTest, ExtendedErrorCarriesTheResponseAndItsCode) {
  Nimbrel& n = Connected();
  fake_->SetResponse(550, "550 a.txt: No such file or directory.\r\n");
  fake_->Fail("FtpGetFileA", inet::ERROR_INTERNET_EXTENDED_ERROR);
  n.GetFile("a.txt", "/tmp/a.txt", false, 2);
  // Asked with 12003, a 255-byte length and a zeroed 256-byte buffer.
  EXPECT_EQ(fake_->Last("InternetGetLastResponseInfoA").ToString(),
            "InternetGetLastResponseInfoA(12003, 255, 1)");
  EXPECT_THAT(events_, ElementsAre(FtpEvent{
                           550, "550 a.txt: No such file or directory.\r\n"}));
  EXPECT_THAT(fake_->CallsTo("FormatMessageA"), IsEmpty());
}

TEST_F(NimbrelErrorTest, ExtendedErrorTextIsCutAtItsBuffer) {
  Nimbrel& n = Make();
  // A reply longer than the buffer fills all 255 bytes offered, no NUL.
  fake_->SetResponse(226, std::string(300, 'x'));
  NimbrelTestAccess::RaiseFtpError(n, 12003);
  ASSERT_EQ(events_.size(), 1u);
  EXPECT_EQ(events_[0].text, std::string(255, 'x'));
  // An empty reply gets the fallback text but keeps the service's code.
  fake_->SetResponse(421, "");
  NimbrelTestAccess::RaiseFtpError(n, 12003);
  EXPECT_EQ(events_[1], (FtpEvent{421, kNoTextText}));
}

TEST_F(NimbrelErrorTest, NameNotResolvedHasItsFixedText) {
  Nimbrel& n = Make();
  NimbrelTestAccess::RaiseFtpError(n, 12007);
  EXPECT_THAT(events_, ElementsAre(FtpEvent{12007, kNameNotResolvedText}));
  EXPECT_THAT(fake_->calls(), IsEmpty());
}

TEST_F(NimbrelErrorTest, OtherCodesUseTheMessageTable) {
  Nimbrel& n = Make();
  fake_->SetMessage(12029, "A connection with the server could not be established");
  NimbrelTestAccess::RaiseFtpError(n, 12029);
  EXPECT_EQ(fake_->Last("FormatMessageA").ToString(),
            "FormatMessageA(" + std::to_string(0x12FF) + ", 0, 12029, 1024, 255, 0)");
  NimbrelTestAccess::RaiseFtpError(n, 4242);  // no text for this one
  EXPECT_THAT(events_,
              ElementsAre(FtpEvent{12029, "A connection with the server could "
                                          "not be established"},
                          FtpEvent{4242, kNoTextText}));
}

TEST_F(NimbrelErrorTest, SystemMessageTakesOnlyTheCountedBytes) {
  Nimbrel& n = Make();
  fake_->SetMessage(5, "Access is denied.");
  fake_->Then("FormatMessageA", 6);
  EXPECT_EQ(NimbrelTestAccess::GetSystemMessage(n, 5), "Access");
  // A count beyond the buffer offered is held to the buffer.
  fake_->Then("FormatMessageA", 100000);
  EXPECT_EQ(NimbrelTestAccess::GetSystemMessage(n, 5), "Access is denied.");
  EXPECT_EQ(NimbrelTestAccess::GetSystemMessage(n, 77), "");
}

TEST_F(NimbrelErrorTest, NoMoreFilesSetsSearchEndOnAFreshRecordOnly) {
  Nimbrel& n = Make();
  n.RemoteFile(nullptr);
  NimbrelTestAccess::RaiseFtpError(n, 18);
  EXPECT_THAT(events_, IsEmpty());
  EXPECT_THAT(fake_->calls(), IsEmpty());
  ASSERT_TRUE(n.RemoteFile());
  EXPECT_TRUE(n.RemoteFile()->SearchEnd);
  EXPECT_EQ(n.RemoteFile()->FileName, "");
}

TEST_F(NimbrelErrorTest, EveryListenerInOrderAndNoneIsFine) {
  std::vector<int> order;
  Nimbrel n(fake_);
  NimbrelTestAccess::RaiseFtpError(n, 12007);  // nobody listens: goes on
  n.OnFTPFrr([&](int32_t, const std::string&) { order.push_back(1); });
  n.OnFTPFrr([&](int32_t, const std::string&) {
    order.push_back(2);
    n.OnFTPFrr([&](int32_t, const std::string&) { order.push_back(3); });
  });
  NimbrelTestAccess::RaiseFtpError(n, 12007);
  EXPECT_THAT(order, ElementsAre(1, 2, 3));
}

TEST_F(NimbrelErrorTest, ThrowingListenerLeavesStateConsistentThenPropagates) {
  Nimbrel& n = Connected();
  int later = 0;
  n.OnFTPFrr([](int32_t, const std::string&) { throw std::runtime_error("a"); });
  n.OnFTPFrr([&](int32_t, const std::string&) { ++later; });
  fake_->Fail("FtpFindFirstFileA", inet::ERROR_PATH_NOT_FOUND);
  EXPECT_THROW(n.FindFile("missing"), std::runtime_error);
  EXPECT_EQ(later, 1);
  EXPECT_TRUE(n.RemoteFile()->SearchEnd);
  EXPECT_EQ(NimbrelTestAccess::hFind(n), 0u);
  // Nothing is left pending for the next operation.
  EXPECT_NO_THROW(n.PutFile("l", "r", 2));
}

// --- MakeLangId -------------------------------------------------------------------------

using NimbrelMakeLangIdTest = NimbrelFakeTest;

TEST_F(NimbrelMakeLangIdTest, ComputesAndHandlesOverflow) {
  Nimbrel& n = Make();
  EXPECT_EQ(NimbrelTestAccess::MakeLangId(n, 0, 1), 1024);
  EXPECT_EQ(NimbrelTestAccess::MakeLangId(n, 7, 2), 2055);
  EXPECT_EQ(NimbrelTestAccess::MakeLangId(n, -1, 0), -1);
  EXPECT_EQ(NimbrelTestAccess::MakeLangId(n, 0, -2097152),
            std::numeric_limits<int32_t>::min());
  EXPECT_EQ(NimbrelTestAccess::MakeLangId(n, 1023, 2097151),
            std::numeric_limits<int32_t>::max());

  EXPECT_EQ(NimbrelTestAccess::MakeLangId(n, 0, 2097152), 0);
  EXPECT_EQ(NimbrelTestAccess::MakeLangId(n, -1, -2097152), 0);
  EXPECT_THAT(shown_, ElementsAre("6\r\n", "6\r\n"));
}

}  // namespace
}  // namespace zorvex
