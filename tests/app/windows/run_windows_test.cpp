// The run on Windows, in process: the settings file and the run log beside
// the executable joined with "\", local paths in the system's forms, the
// download's folder and name joined as written, and FTP over TLS refused
// before any traffic.
#include "app/zorvexrun.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/message_box.h"
#include "platform/env.h"
#include "platform/errors.h"
#include "platform/locale.h"
#include "tests/support/recording_service.h"
#include "tests/support/temp_files.h"

namespace zorvex {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testsupport::ReadFile;
using testsupport::RecordingService;
using testsupport::TempDir;
using testsupport::WriteFile;

std::string Backslashed(std::string path) {
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

class FixedTimeEnv : public platform::EnvWrapper {
 public:
  FixedTimeEnv() : EnvWrapper(platform::Env::Default()) {}
  std::string TimeOfDay() override { return "9:05:07 PM"; }
};

class WindowsRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = SetMessageSink(
        [this](std::string_view text) { messages_.emplace_back(text); });
    WriteFile(dir_ / "zorvex", "ftp.test,alice,s3cret,1,1,\r\n");
    WriteFile(dir_ / "a.txt", "payload");
    std::filesystem::create_directory(dir_ / "in");
  }
  void TearDown() override { SetMessageSink(previous_); }

  // Runs with the executable in `folder` and the session over the fake
  // (or over the real client when `real_client`).
  int Run(const std::string& tail, bool real_client = false) {
    RunEnvironment env;
    env.env = &os_;
    env.exe_folder = folder_;
    env.tail = tail;
    if (!real_client) env.make_service = [this] { return service_; };
    ZorvexRun run(env);
    run.Form_Load();
    return run.exit_status();
  }

  FixedTimeEnv os_;
  TempDir dir_;
  const std::string folder_ = Backslashed(dir_.path());
  std::shared_ptr<RecordingService> service_ =
      std::make_shared<RecordingService>();
  std::vector<std::string> messages_;
  MessageSink previous_;
};

TEST_F(WindowsRunTest, SettingsAndLogLieBesideTheExecutable) {
  EXPECT_EQ(Run("/p " + folder_ + "\\a.txt,/pub/a.txt"), kExitSuccess);
  EXPECT_THAT(messages_, IsEmpty());
  EXPECT_EQ(ReadFile(dir_ / "zorvexlog.txt"),
            "Start=9:05:07 PM - End=9:05:07 PM\r\n");
  EXPECT_EQ(service_->Last("FtpPutFileA").Str(1), folder_ + "\\a.txt");

  std::filesystem::remove(dir_ / "zorvex");
  EXPECT_EQ(Run("/p " + folder_ + "\\a.txt,/pub/a.txt"), kExitSettings);
  EXPECT_THAT(messages_, ElementsAre("Not Found " + folder_ + "\\zorvex"));
}

TEST_F(WindowsRunTest, LocalPathsInTheSystemsForms) {
  // Either separator, and a wildcard checked with the system's search (the
  // upload names the path as written).
  for (const std::string& local :
       {folder_ + "\\a.txt", dir_.path() + "/a.txt", folder_ + "\\*.TXT",
        folder_ + "\\?.txt", "\\\\?\\" + folder_ + "\\a.txt"}) {
    messages_.clear();
    EXPECT_EQ(Run("/p " + local + ",/a.txt"), kExitSuccess) << local;
    EXPECT_THAT(messages_, IsEmpty());
    EXPECT_EQ(service_->Last("FtpPutFileA").Str(1), local);
  }
  EXPECT_EQ(Run("/p " + folder_ + "\\*.doc,/a.txt"), kExitLocalPath);
  EXPECT_EQ(messages_.back(), "Not found infile " + folder_ + "\\*.doc");
  EXPECT_EQ(Run("/g /a.txt," + folder_ + "\\none\\"), kExitLocalPath);
  EXPECT_EQ(messages_.back(), "Not found outfolder " + folder_ + "\\none\\");
}

TEST_F(WindowsRunTest, DownloadJoinsFolderAndNameDirectly) {
  EXPECT_EQ(Run("/g /pub/a.txt," + folder_ + "\\in\\"), kExitSuccess);
  EXPECT_EQ(service_->Last("FtpGetFileA").Str(1), "/pub/a.txt");
  EXPECT_EQ(service_->Last("FtpGetFileA").Str(2), folder_ + "\\in\\a.txt");
  // Without the final "\": the folder's name and the file's run together.
  EXPECT_EQ(Run("/g /pub/a.txt," + folder_ + "\\in"), kExitSuccess);
  EXPECT_EQ(service_->Last("FtpGetFileA").Str(2), folder_ + "\\ina.txt");
  EXPECT_THAT(messages_, IsEmpty());
}

TEST_F(WindowsRunTest, NamesInTheAnsiCodePage) {
  if (platform::AnsiCodeset() != "CP1252")
    GTEST_SKIP() << platform::AnsiCodeset();
  // "été.txt": UTF-8 in the tail, the code page's bytes for the service.
  std::filesystem::copy_file(
      dir_ / "a.txt",
      std::filesystem::path(dir_.path()) / L"\u00E9t\u00E9.txt");
  EXPECT_EQ(Run("/p " + folder_ + "\\\xC3\xA9t\xC3\xA9.txt,/a.txt"),
            kExitSuccess);
  EXPECT_EQ(service_->Last("FtpPutFileA").Str(1), folder_ + "\\\xE9t\xE9.txt");
  EXPECT_THAT(messages_, IsEmpty());
}

TEST_F(WindowsRunTest, TlsIsRefusedBeforeAnyTraffic) {
  std::unique_ptr<platform::Listener> listener;
  ASSERT_EQ(platform::Env::Default()->Listen(
                *platform::Address::Parse("127.0.0.1"), &listener),
            0u);
  const std::string port = std::to_string(listener->LocalAddress().port);
  for (const std::string scheme : {"ftpes://", "ftps://"}) {
    messages_.clear();
    WriteFile(dir_ / "zorvex",
              scheme + "127.0.0.1:" + port + ",alice,s3cret,1,1,\r\n");
    EXPECT_EQ(Run("/p " + folder_ + "\\a.txt,/a.txt", /*real_client=*/true),
              kExitConnection);
    EXPECT_THAT(messages_, ElementsAre("Conect Error "));
    EXPECT_EQ(ReadFile(dir_ / "zorvexlog.txt"), "Start=9:05:07 PM - \r\n");
  }
  std::unique_ptr<platform::Stream> connection;
  EXPECT_EQ(listener->Accept(300, *platform::Address::Parse("127.0.0.1"),
                             &connection),
            platform::ERROR_INTERNET_TIMEOUT);
}

}  // namespace
}  // namespace zorvex
