// The run in process, over a recording service: what it asks of the session,
// what it shows, the log it writes and the status it ends with.
#include "app/zorvexrun.h"

#include <sys/stat.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/run_error.h"
#include "app/message_box.h"
#include "tests/support/ftp_server.h"
#include "tests/support/recording_service.h"

namespace zorvex {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testsupport::ReadFile;
using testsupport::RecordingService;
using testsupport::TempDir;
using testsupport::WriteFile;

// The process's own platform with a fixed time of day.
class FixedTimeEnv : public platform::EnvWrapper {
 public:
  FixedTimeEnv() : EnvWrapper(platform::Env::Default()) {}
  std::string TimeOfDay() override { return "9:05:07"; }
};

class ZorvexRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = SetMessageSink(
        [this](std::string_view text) { messages_.emplace_back(text); });
    WriteFile(dir_ / "zorvex", "ftp.test,alice,s3cret,1,0,\r\n");
    WriteFile(dir_ / "a.txt", "payload");
  }
  void TearDown() override { SetMessageSink(previous_); }

  int Run(const std::string& tail) {
    RunEnvironment env;
    env.env = &os_;
    env.exe_folder = dir_.path();
    env.tail = tail;
    env.make_service = [this] { return service_; };
    ZorvexRun run(env);
    run.Form_Load();
    return run.exit_status();
  }
  std::string Log() { return ReadFile(dir_ / "zorvexlog.txt"); }

  FixedTimeEnv os_;
  TempDir dir_;
  std::shared_ptr<RecordingService> service_ =
      std::make_shared<RecordingService>();
  std::vector<std::string> messages_;
  MessageSink previous_;
};

TEST_F(ZorvexRunTest, UploadConnectsTransfersAndLogsTheEnd) {
  EXPECT_EQ(Run("/p " + dir_ / "a.txt" + ", /pub/a.txt "), kExitSuccess);
  EXPECT_THAT(messages_, IsEmpty());
  EXPECT_EQ(Log(), "Start=9:05:07 - End=9:05:07\r\n");
  const auto connect = service_->Last("InternetConnectA");
  EXPECT_EQ(connect.Str(1), "ftp.test");
  EXPECT_EQ(connect.Num(2), 21u);
  EXPECT_EQ(connect.Str(3), "alice");
  EXPECT_EQ(connect.Str(4), "s3cret");
  EXPECT_EQ(connect.Num(6), 0u);  // active mode
  const auto put = service_->Last("FtpPutFileA");
  EXPECT_EQ(put.Str(1), dir_ / "a.txt");
  EXPECT_EQ(put.Str(2), "/pub/a.txt");
  EXPECT_EQ(put.Num(3), inet::FTP_TRANSFER_TYPE_BINARY);
  EXPECT_THAT(service_->Names(),
              ElementsAre("InternetOpenA", "InternetConnectA", "FtpPutFileA",
                          "InternetCloseHandle", "InternetCloseHandle"));
}

TEST_F(ZorvexRunTest, DownloadJoinsFolderAndNameWithoutSeparator) {
  WriteFile(dir_ / "zorvex", "\"[::1]:2121\",bob,,0,1,x\n");
  EXPECT_EQ(Run("/g /pub/dir/a.txt," + dir_.path()), kExitSuccess);
  const auto connect = service_->Last("InternetConnectA");
  EXPECT_EQ(connect.Str(1), "::1");
  EXPECT_EQ(connect.Num(2), 2121u);
  EXPECT_EQ(connect.Str(4), std::nullopt);  // empty password: absent
  EXPECT_EQ(connect.Num(6), inet::INTERNET_FLAG_PASSIVE);
  const auto get = service_->Last("FtpGetFileA");
  EXPECT_EQ(get.Str(1), "/pub/dir/a.txt");
  EXPECT_EQ(get.Str(2), dir_.path() + "a.txt");
  EXPECT_EQ(get.Num(3), 0u);  // an existing local file is replaced
  EXPECT_EQ(get.Num(5) & 3u, inet::FTP_TRANSFER_TYPE_ASCII);

  service_->ClearCalls();
  EXPECT_EQ(Run("/g /a.txt," + dir_ / ""), kExitSuccess);
  EXPECT_EQ(service_->Last("FtpGetFileA").Str(1), "/a.txt");
  EXPECT_EQ(service_->Last("FtpGetFileA").Str(2), dir_ / "a.txt");
}

TEST_F(ZorvexRunTest, TlsSchemesChooseSecurityPortAndTrustFile) {
  const uint64_t kSecure = inet::INTERNET_FLAG_SECURE;
  const uint64_t kImplicit = inet::INTERNET_FLAG_SECURE_IMPLICIT;
  WriteFile(dir_ / "zorvex", "ftps://ftp.test,alice,s3cret,1,1,\r\n");
  EXPECT_EQ(Run("/p " + dir_ / "a.txt,/a.txt"), kExitSuccess);
  auto connect = service_->Last("InternetConnectA");
  EXPECT_EQ(connect.Str(1), "ftp.test");
  EXPECT_EQ(connect.Num(2), 990u);
  EXPECT_EQ(connect.Num(6), inet::INTERNET_FLAG_PASSIVE | kSecure | kImplicit);
  // No trust file beside the settings: the system's store.
  EXPECT_EQ(service_->Last("InternetSetOptionA").Str(2), "");

  WriteFile(dir_ / "zorvex.pem", "certificates");
  WriteFile(dir_ / "zorvex", "FTPES://[::1]:2121/,alice,s3cret,1,0,\r\n");
  EXPECT_EQ(Run("/p " + dir_ / "a.txt,/a.txt"), kExitSuccess);
  connect = service_->Last("InternetConnectA");
  EXPECT_EQ(connect.Str(1), "::1");
  EXPECT_EQ(connect.Num(2), 2121u);
  EXPECT_EQ(connect.Num(6), kSecure);
  EXPECT_EQ(service_->Last("InternetSetOptionA").Str(2), dir_ / "zorvex.pem");

  // Plain FTP never reads the trust file.
  service_->ClearCalls();
  WriteFile(dir_ / "zorvex", "ftp://ftp.test:2121,alice,s3cret,1,0,\r\n");
  EXPECT_EQ(Run("/p " + dir_ / "a.txt,/a.txt"), kExitSuccess);
  EXPECT_EQ(service_->Last("InternetConnectA").Num(6), 0u);
  EXPECT_TRUE(service_->CallsTo("InternetSetOptionA").empty());
  EXPECT_THAT(messages_, IsEmpty());
}

TEST_F(ZorvexRunTest, AMalformedHostAfterASchemeIsAConnectErrorWithoutTraffic) {
  WriteFile(dir_ / "zorvex", "ftps://user@ftp.test/dir,alice,s3cret,1,0,\r\n");
  EXPECT_EQ(Run("/p " + dir_ / "a.txt,/a.txt"), kExitConnection);
  EXPECT_THAT(messages_, ElementsAre("Conect Error "));
  EXPECT_TRUE(service_->CallsTo("InternetConnectA").empty());
  EXPECT_EQ(Log(), "Start=9:05:07 - \r\n");
}

TEST_F(ZorvexRunTest, SessionFailuresShowTheirMessageAndLogNoEnd) {
  service_->Fail("InternetConnectA", 12029);
  EXPECT_EQ(Run("/p " + dir_ / "a.txt,/a.txt"), kExitConnection);
  EXPECT_THAT(messages_, ElementsAre("Conect Error "));
  EXPECT_EQ(Log(), "Start=9:05:07 - \r\n");

  messages_.clear();
  service_->Fail("FtpPutFileA", 12003);
  EXPECT_EQ(Run("/p " + dir_ / "a.txt,/a.txt"), kExitTransfer);
  EXPECT_THAT(messages_, ElementsAre("Put Error "));

  messages_.clear();
  service_->Fail("FtpGetFileA", 12003);
  EXPECT_EQ(Run("/g /a.txt," + dir_ / ""), kExitTransfer);
  EXPECT_THAT(messages_, ElementsAre("Get Error "));
  EXPECT_EQ(Log(), "Start=9:05:07 - \r\n");
}

TEST_F(ZorvexRunTest, SettingsErrorsReachTheHandler) {
  WriteFile(dir_ / "zorvex", "h,u,p,yes,0,\n");
  EXPECT_EQ(Run("/p a,b"), kExitRunTimeError);
  EXPECT_THAT(messages_, ElementsAre("Type mismatch"));
  EXPECT_EQ(Log(), "Start=9:05:07 - \r\n");
  EXPECT_THAT(service_->CallsTo("InternetConnectA"), IsEmpty());
}

TEST_F(ZorvexRunTest, UnwritableLogAfterSuccessShowsItTwiceAndEndsAtOnce) {
  ASSERT_EQ(::mkdir((dir_ / "zorvexlog.txt").c_str(), 0755), 0);
  EXPECT_EQ(Run("/p " + dir_ / "a.txt,/a.txt"), kExitRunTimeError);
  EXPECT_THAT(messages_,
              ElementsAre("Path/File access error",
                          "Run-time error '75': Path/File access error"));
  // The tail never got to close the session: releasing it closes both handles.
  EXPECT_EQ(service_->CallsTo("InternetCloseHandle").size(), 2u);
}

TEST_F(ZorvexRunTest, FirstFailureDecidesTheStatus) {
  ASSERT_EQ(::mkdir((dir_ / "zorvexlog.txt").c_str(), 0755), 0);
  EXPECT_EQ(Run("/x a,b"), kExitCommandLine);
  EXPECT_EQ(messages_.size(), 3u);
}

// Splitting the tail: {tail, szInFile, szOutFolder, szGetDir, error number}.
struct SplitCase {
  std::string cmd;
  std::string in_file;
  std::string out_folder;
  std::string get_dir;
  int error;
};

void ExpectSplit(bool put, const SplitCase& c) {
  ZorvexRun run(RunEnvironment{});
  run.szCmd = c.cmd;
  int error = 0;
  try {
    put ? run.ftp_put_chk() : run.ftp_get_chk();
  } catch (const RunError& e) {
    error = e.number();
  }
  EXPECT_EQ(error, c.error) << c.cmd;
  if (error != 0) return;
  EXPECT_EQ(run.szInFile, c.in_file) << c.cmd;
  EXPECT_EQ(run.szOutFolder, c.out_folder) << c.cmd;
  EXPECT_EQ(run.szGetDir, c.get_dir) << c.cmd;
}

TEST(SplitTest, Upload) {
  for (const SplitCase& c : std::vector<SplitCase>{
           {"/p /tmp/a.txt,/pub/a.txt", "/tmp/a.txt", "/pub/a.txt", "", 0},
           {"/p_/tmp/a.txt,/pub/a.txt", "/tmp/a.txt", "/pub/a.txt", "", 0},
           {"/p   a b  ,  c d  ", "a b", "c d", "", 0},
           {"/p a,b,c", "a", "b,c", "", 0},
           {"/p a,   ", "a", "", "", 0},
           {"/p ,b", "", "b", "", 0},          // comma at 4
           {"/p,b", "", "", "", 5},            // comma at 3
           {"/p\xC3\xA9x,y", "x", "y", "", 0},  // a two-byte third character
       }) {
    ExpectSplit(true, c);
  }
}

TEST(SplitTest, Download) {
  for (const SplitCase& c : std::vector<SplitCase>{
           {"/g /pub/dir/a.txt,/in/", "a.txt", "/in/", "/pub/dir", 0},
           {"/g /pub/dir/a.txt,/in", "a.txt", "/in", "/pub/dir", 0},
           {"/g /a.txt,/in/", "a.txt", "/in/", "", 0},
           {"/g /pub/ , /in/ ", "", "/in/", "/pub", 0},
           {"/g  x y/a b ,/in/", "a b", "/in/", "x y", 0},
           {"/g a.txt,/in/", "", "", "", 5},  // no "/" in the remote path
           {"/g ,/in/", "", "", "", 5},       // comma at 4: empty remote path
           {"/g,/in/", "", "", "", 5},        // comma at 3
       }) {
    ExpectSplit(false, c);
  }
}

}  // namespace
}  // namespace zorvex
