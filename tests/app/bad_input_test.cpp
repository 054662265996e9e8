// zorvexrun against hostile input of its own user: settings files and command
// tails that are huge, hold NUL bytes or bytes that are not text, or try to
// smuggle an FTP command onto the control connection. Each run must end with
// its documented message and exit status, and never crash.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/app/run_sandbox.h"
#include "tests/support/ftp_server.h"

namespace {

using ::testing::MatchesRegex;
using runsandbox::kLogFailed;
using runsandbox::Message;
using runsandbox::Outcome;
using runsandbox::Sandbox;
using testsupport::Exists;
using testsupport::FtpServer;
using testsupport::ReadFile;
using testsupport::ServerKind;
using testsupport::WriteFile;

// Nobody listens on port 1 of the loopback address.
const std::string kClosed = "127.0.0.1:1";

struct SettingsCase {
  const char* name;
  std::string settings;
  std::string message;
  int status;
};

class BadSettingsTest : public ::testing::TestWithParam<SettingsCase> {};

TEST_P(BadSettingsTest, EndsWithItsMessageAndStatus) {
  const SettingsCase& c = GetParam();
  Sandbox box;
  box.Settings(c.settings);
  WriteFile(box.work() + "/a.txt", "local");
  const Outcome out = box.Run("/p " + box.work() + "/a.txt,/a.txt");
  EXPECT_EQ(out.err, Message(c.message));
  EXPECT_EQ(out.status, c.status);
  EXPECT_EQ(out.out, "");
  EXPECT_THAT(box.Log(), MatchesRegex(kLogFailed));
  EXPECT_EQ(ReadFile(box.work() + "/a.txt"), "local");
}

std::string Repeat(char c, size_t n) { return std::string(n, c); }

INSTANTIATE_TEST_SUITE_P(
    Settings, BadSettingsTest,
    ::testing::Values(
        // Nothing but NUL bytes: one field, then the end of the file.
        SettingsCase{"OnlyNulBytes", Repeat('\0', 4096),
                     "Input past end of file", 1},
        // Six fields of NUL bytes: the host is no name at all.
        SettingsCase{"NulFields", std::string("\0,\0,\0,0,0,\0", 11),
                     "Conect Error ", 5},
        SettingsCase{"NulInANumber", kClosed + std::string(",u,p,1\0,0,", 10),
                     "Type mismatch", 1},
        SettingsCase{"InvalidBytesInANumber", kClosed + ",u,p,\xff\xfe,0,",
                     "Type mismatch", 1},
        // A numeric field of megabytes: cut to its bound, then too large.
        SettingsCase{"MegabytesOfDigits",
                     kClosed + ",u,p," + Repeat('7', 3 << 20) + ",0,",
                     "Overflow", 1},
        // Megabytes of blanks before a number are skipped.
        SettingsCase{"MegabytesOfBlanks",
                     kClosed + ",u,p," + Repeat(' ', 3 << 20) + "1,0,",
                     "Conect Error ", 5},
        // A quoted password of megabytes holding commas and line ends.
        SettingsCase{"MegabytesOfQuotedPassword",
                     kClosed + ",u,\"" + Repeat(',', 2 << 20) +
                         Repeat('\n', 2 << 20) + "\",1,0,",
                     "Conect Error ", 5},
        // Megabytes without any separator: one field, then the end.
        SettingsCase{"MegabytesInOneField", Repeat('x', 6 << 20),
                     "Input past end of file", 1},
        SettingsCase{"CrLineEnds", kClosed + "\ru\rp\r1\r0\rreserved\r",
                     "Conect Error ", 5},
        SettingsCase{"OnlyLineEnds", "\r\n\r\n\r\n\r\n\r\n\r\n",
                     "Conect Error ", 5},
        SettingsCase{"QuoteNeverClosedAfterFiveFields",
                     kClosed + ",u,p,1,0,\"reserved", "Conect Error ", 5},
        SettingsCase{"InvalidUtf8Everywhere",
                     kClosed + ",\xc3\x28\xff,\xed\xa0\x80\xf8,1,0,\xfe",
                     "Conect Error ", 5}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BadTailTest, TailOfAMegabyteOverManyArguments) {
  // One argument may hold at most 128 KiB; sixteen of 64 KiB make a tail of
  // a megabyte, joined by spaces.
  Sandbox box;
  box.Settings(kClosed + ",u,p,1,0,\r\n");
  std::vector<std::string> args = {"/p"};
  for (int i = 0; i < 16; ++i) args.push_back(std::string(64 * 1024, 'a' + i));
  args.back() += ",/a.txt";
  std::string local;
  for (size_t i = 1; i < args.size(); ++i) {
    local += (i > 1 ? " " : "") + args[i];
  }
  local.resize(local.size() - std::string(",/a.txt").size());
  Outcome out = box.RunArgs(args);
  EXPECT_EQ(out.err, Message("Not found infile " + local));
  EXPECT_EQ(out.status, 4);

  // The same megabyte as a remote path to download: it reaches the connect.
  args[0] = "/g";
  args[1] = "/" + args[1];
  args.back() = std::string(64 * 1024, 'z') + "," + box.work() + "/";
  out = box.RunArgs(args);
  EXPECT_EQ(out.err, Message("Conect Error "));
  EXPECT_EQ(out.status, 5);
  EXPECT_THAT(box.Log(), MatchesRegex(kLogFailed));
}

TEST(BadTailTest, TailsThatAreNotText) {
  Sandbox box;
  box.Settings(kClosed + ",u,p,1,0,\r\n");
  // A download into a folder whose name is not valid UTF-8.
  Outcome out = box.Run("/g /\xff\xfe/a\xc3,\xc3\x28");
  EXPECT_EQ(out.err, Message("Not found outfolder \xc3\x28"));
  EXPECT_EQ(out.status, 4);
  // A multi-byte character in place of the skipped third one, and a comma
  // right after it: an empty local path.
  out = box.Run("/p\xe2\x82\xac,x");
  EXPECT_EQ(out.err, Message("Not found infile "));
  EXPECT_EQ(out.status, 4);
  // A lone lead byte as the third character is skipped like any other.
  out = box.Run("/p\xe2/none,x");
  EXPECT_EQ(out.err, Message("Not found infile /none"));
  EXPECT_EQ(out.status, 4);
  out = box.Run(",,,,,,");
  EXPECT_EQ(out.err, Message("Command Error Not /p or /g ,,,,,,"));
  EXPECT_EQ(out.status, 3);
  // Control characters in the tail are passed through, not interpreted.
  out = box.Run("/p \x01\x1b[2J\t,\x7f");
  EXPECT_EQ(out.err, Message("Not found infile \x01\x1b[2J\t"));
  EXPECT_EQ(out.status, 4);
}

// Paths and settings that hold a line end would, sent as they are, end the
// FTP command early and pass the rest as a command of its own.
class CommandInjectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = FtpServer::Start(ServerKind::kPyftpdlib);
    ASSERT_NE(server_, nullptr);
    WriteFile(server_->root() + "/victim.txt", "keep");
    WriteFile(box_.work() + "/a.txt", "local");
  }
  std::string Settings(const std::string& user, const std::string& password) {
    return server_->address() + ":" + std::to_string(server_->port()) + ",\"" +
           user + "\",\"" + password + "\",1,1,\r\n";
  }
  void ExpectVictimKept() {
    EXPECT_EQ(ReadFile(server_->root() + "/victim.txt"), "keep");
  }

  std::unique_ptr<FtpServer> server_;
  Sandbox box_;
};

TEST_F(CommandInjectionTest, RemotePathWithALineEndIsRefused) {
  box_.Settings(Settings(server_->user(), server_->password()));
  Outcome out = box_.Run("/p " + box_.work() + "/a.txt,/x.txt\r\nDELE victim.txt");
  EXPECT_EQ(out.err, Message("Put Error "));
  EXPECT_EQ(out.status, 6);
  ExpectVictimKept();
  EXPECT_FALSE(Exists(server_->root() + "/x.txt"));

  out = box_.Run("/g /x\nDELE victim.txt\n/a.txt," + box_.work() + "/");
  EXPECT_EQ(out.err, Message("Get Error "));
  EXPECT_EQ(out.status, 6);
  ExpectVictimKept();
  EXPECT_EQ(ReadFile(box_.work() + "/a.txt"), "local");
  EXPECT_THAT(box_.Log(), MatchesRegex(kLogFailed));
}

TEST_F(CommandInjectionTest, UserOrPasswordWithALineEndIsRefused) {
  const std::string smuggled = "\r\nDELE victim.txt";
  for (const std::string& settings :
       {Settings(server_->user() + smuggled, server_->password()),
        Settings(server_->user(), server_->password() + smuggled)}) {
    box_.Settings(settings);
    const Outcome out = box_.Run("/p " + box_.work() + "/a.txt,/a.txt");
    EXPECT_EQ(out.err, Message("Conect Error "));
    EXPECT_EQ(out.status, 5);
    ExpectVictimKept();
    EXPECT_FALSE(Exists(server_->root() + "/a.txt"));
  }
}

}  // namespace
