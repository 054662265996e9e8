// A download's local side on Windows: targets written with "\", and text in
// ASCII mode, whose local form is the network's own (CR LF) there.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>

#include "inet/errors.h"
#include "inet/file_transfer.h"
#include "inet/local_file.h"
#include "tests/support/fault_env.h"
#include "tests/support/temp_files.h"

namespace inet {
namespace {

using testsupport::FaultEnv;
using testsupport::ReadFile;
using testsupport::TempDir;

std::string Backslashed(std::string path) {
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

TEST(WindowsDownloadTargetTest, TheLastElementFollowsEitherSeparator) {
  TempDir dir;
  FaultEnv env;
  const std::string folder = Backslashed(dir.path());
  DownloadTarget download(&env);
  for (const std::string& name : {folder + "\\", folder + "\\.",
                                  folder + "\\..", dir.path() + "/sub\\."}) {
    EXPECT_EQ(download.Create(name, false), ERROR_INVALID_NAME) << name;
  }
  ASSERT_TRUE(std::filesystem::create_directory(dir / "sub"));
  EXPECT_EQ(download.Create(folder + "\\sub", false), ERROR_ACCESS_DENIED);
  EXPECT_EQ(download.Create(folder + "\\none\\a.txt", false),
            ERROR_PATH_NOT_FOUND);
  EXPECT_TRUE(env.temporaries().empty());

  DownloadTarget done(&env);
  ASSERT_EQ(done.Create(folder + "\\sub\\a.txt", false), 0u);
  ASSERT_EQ(done.file().Write("downloaded", 10), 0u);
  ASSERT_EQ(done.Commit(), 0u);
  EXPECT_EQ(ReadFile(dir / "sub/a.txt"), "downloaded");
  ASSERT_EQ(env.temporaries().size(), 1u);
  EXPECT_EQ(env.temporaries()[0].rfind(folder + "\\sub\\.a.txt.zvx-", 0), 0u)
      << env.temporaries()[0];
  EXPECT_FALSE(testsupport::Exists(env.temporaries()[0]));
}

// A data connection that hands out its bytes in small pieces, and collects
// what is written to it.
class ScriptedStream : public platform::Stream {
 public:
  explicit ScriptedStream(std::string incoming)
      : incoming_(std::move(incoming)) {}
  uint32_t Read(char* buffer, size_t size, int, size_t* got) override {
    *got = std::min({size, incoming_.size() - at_, size_t{3}});
    incoming_.copy(buffer, *got, at_);
    at_ += *got;
    return 0;
  }
  uint32_t Write(const char* data, size_t size, int) override {
    written.append(data, size);
    return 0;
  }
  uint32_t Shutdown(int) override { return 0; }
  void Close() override {}
  platform::Address PeerAddress() const override { return {}; }
  platform::Address LocalAddress() const override { return {}; }
  std::string written;

 private:
  std::string incoming_;
  size_t at_ = 0;
};

TEST(WindowsAsciiTransferTest, LocalTextKeepsTheNetworksLineEnds) {
  TempDir dir;
  FaultEnv env;
  std::unique_ptr<platform::File> file;
  ASSERT_EQ(env.OpenForWriting(dir / "get.txt", &file), 0u);
  // What a server sends in ASCII mode, a CR LF cut between two pieces.
  ScriptedStream in("line 1\r\nline 2\r\nlone\rbare\n");
  uint64_t received = 0;
  ASSERT_EQ(ReceiveFileData(in, *file, TransferType::kAscii, 1000, &received),
            0u);
  ASSERT_EQ(file->Close(), 0u);
  EXPECT_EQ(ReadFile(dir / "get.txt"), "line 1\r\nline 2\r\nlone\rbare\n");
  EXPECT_EQ(received, 26u);

  // Going out, a bare LF still becomes the network's CR LF.
  testsupport::WriteFile(dir / "put.txt", "a\r\nb\nc");
  ASSERT_EQ(env.OpenForReading(dir / "put.txt", &file), 0u);
  ScriptedStream out("");
  ASSERT_EQ(SendFileData(out, *file, TransferType::kAscii, 1000), 0u);
  EXPECT_EQ(out.written, "a\r\nb\r\nc");
}

}  // namespace
}  // namespace inet
