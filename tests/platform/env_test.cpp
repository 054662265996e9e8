// The platform's own Env: what the download's safety and the run's messages
// rely on from files and folders, and the facts of the process.
#include "platform/env.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/errors.h"
#include "tests/support/ftp_server.h"

namespace platform {
namespace {

using testsupport::Exists;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

Env* os() { return Env::Default(); }

std::string ReadAll(File& file) {
  std::string out;
  char buf[7];  // small, so that reading takes several calls
  for (;;) {
    size_t got = 0;
    EXPECT_EQ(file.Read(buf, sizeof buf, &got), 0u);
    if (got == 0) return out;
    out.append(buf, got);
  }
}

TEST(EnvTest, OpeningForReadingTellsWhatIsMissing) {
  TempDir dir;
  WriteFile(dir / "a.txt", "content of a");
  std::unique_ptr<File> file;
  ASSERT_EQ(os()->OpenForReading(dir / "a.txt", &file), 0u);
  EXPECT_EQ(ReadAll(*file), "content of a");
  EXPECT_EQ(os()->OpenForReading(dir / "none.txt", &file),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(os()->OpenForReading(dir / "none/a.txt", &file),
            ERROR_PATH_NOT_FOUND);
  // A folder is not a file to upload.
  EXPECT_EQ(os()->OpenForReading(dir.path(), &file), ERROR_ACCESS_DENIED);
}

TEST(EnvTest, WritingReplacesAndAFolderCannotBeOpened) {
  TempDir dir;
  WriteFile(dir / "log.txt", "an older and longer line");
  std::unique_ptr<File> file;
  ASSERT_EQ(os()->OpenForWriting(dir / "log.txt", &file), 0u);
  EXPECT_EQ(file->Write("new\r\n", 5), 0u);
  EXPECT_EQ(file->Close(), 0u);
  EXPECT_EQ(ReadFile(dir / "log.txt"), "new\r\n");
  // The run reports this as "Path/File access error", not as a permission.
  EXPECT_EQ(os()->OpenForWriting(dir.path(), &file), ERROR_OPEN_FAILED);
  EXPECT_EQ(os()->OpenForWriting(dir / "none/log.txt", &file),
            ERROR_FILE_NOT_FOUND);
}

TEST(EnvTest, TemporaryFilesLieBesideTheirTargetAndVanishWhenRemoved) {
  TempDir dir;
  std::unique_ptr<File> file;
  std::string path;
  ASSERT_EQ(os()->CreateTemporary(dir / "a.txt", &file, &path), 0u);
  EXPECT_EQ(path.rfind(dir.path() + "/", 0), 0u) << path;
  EXPECT_EQ(path.find('/', dir.path().size() + 1), std::string::npos);
  EXPECT_NE(path, dir / "a.txt");
  std::unique_ptr<File> second;
  std::string second_path;
  ASSERT_EQ(os()->CreateTemporary(dir / "a.txt", &second, &second_path), 0u);
  EXPECT_NE(second_path, path);
  EXPECT_EQ(file->Write("x", 1), 0u);
  EXPECT_EQ(file->Sync(), 0u);
  EXPECT_EQ(file->Close(), 0u);
  EXPECT_EQ(os()->Remove(path), 0u);
  EXPECT_FALSE(os()->Status(path).exists);
  EXPECT_EQ(os()->CreateTemporary(dir / "none/a.txt", &file, &path),
            ERROR_PATH_NOT_FOUND);
}

TEST(EnvTest, MovesReplaceOrRefuseInOneStep) {
  TempDir dir;
  WriteFile(dir / "new1", "one");
  WriteFile(dir / "new2", "two");
  WriteFile(dir / "old", "old");
  // Refused: neither file changes.
  EXPECT_EQ(os()->MoveNoReplace(dir / "new1", dir / "old"), ERROR_FILE_EXISTS);
  EXPECT_EQ(ReadFile(dir / "old"), "old");
  EXPECT_EQ(ReadFile(dir / "new1"), "one");
  // To a free name: moved, nothing left behind.
  EXPECT_EQ(os()->MoveNoReplace(dir / "new1", dir / "free"), 0u);
  EXPECT_EQ(ReadFile(dir / "free"), "one");
  EXPECT_FALSE(Exists(dir / "new1"));
  EXPECT_EQ(os()->Replace(dir / "new2", dir / "old"), 0u);
  EXPECT_EQ(ReadFile(dir / "old"), "two");
  EXPECT_FALSE(Exists(dir / "new2"));
  EXPECT_EQ(os()->SyncFolderOf(dir / "old"), 0u);
}

TEST(EnvTest, StatusOfFilesAndFolders) {
  TempDir dir;
  WriteFile(dir / "a", "a");
  EXPECT_TRUE(os()->Status(dir / "a").exists);
  EXPECT_FALSE(os()->Status(dir / "a").is_directory);
  EXPECT_TRUE(os()->Status(dir.path()).is_directory);
  EXPECT_FALSE(os()->Status(dir / "b").exists);
}

TEST(EnvTest, FactsOfTheProcess) {
  // The tests run in the C locale, whose time format is %H:%M:%S.
  EXPECT_THAT(os()->TimeOfDay(),
              ::testing::MatchesRegex("[0-2][0-9]:[0-5][0-9]:[0-6][0-9]"));
  const std::string folder = os()->ExecutableFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_NE(folder.back(), os()->PathSeparator());
  EXPECT_TRUE(os()->Status(folder).is_directory);
  char name[] = "zorvexrun";
  char a[] = "/p";
  char b[] = "a b,c";
  char* argv[] = {name, a, b, nullptr};
  EXPECT_EQ(os()->CommandTail(3, argv, 0), "/p a b,c");
  EXPECT_EQ(os()->CommandTail(1, argv, 0), "");
  // Leading options are taken off by their number of arguments; what is left
  // is the tail.
  EXPECT_EQ(os()->CommandTail(3, argv, 1), "a b,c");
  EXPECT_EQ(os()->CommandTail(3, argv, 2), "");
  EXPECT_EQ(os()->CommandTail(3, argv, 5), "");
  EXPECT_EQ(os()->CommandArguments(3, argv),
            (std::vector<std::string>{"/p", "a b,c"}));
}

}  // namespace
}  // namespace platform
