#include "app/local_lookup.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/support/ftp_server.h"

namespace zorvex {
namespace {

using testsupport::TempDir;
using testsupport::WriteFile;

constexpr LookupKind kFiles = LookupKind::kFiles;
constexpr LookupKind kAny = LookupKind::kFilesOrDirectories;

class LocalLookupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(dir_ / "a.txt", "a");
    WriteFile(dir_ / ".hidden", "h");
    WriteFile(dir_ / "[x].txt", "x");
    ASSERT_EQ(::mkdir((dir_ / "sub").c_str(), 0755), 0);
    ASSERT_EQ(::symlink((dir_ / "a.txt").c_str(), (dir_ / "link").c_str()), 0);
  }
  TempDir dir_;
};

TEST_F(LocalLookupTest, FilesOnlyOrDirectoriesToo) {
  EXPECT_TRUE(LocalExists(dir_ / "a.txt", kFiles));
  EXPECT_TRUE(LocalExists(dir_ / "link", kFiles));
  EXPECT_TRUE(LocalExists(dir_ / ".hidden", kFiles));
  EXPECT_FALSE(LocalExists(dir_ / "sub", kFiles));
  EXPECT_FALSE(LocalExists(dir_ / "sub/", kFiles));
  EXPECT_TRUE(LocalExists(dir_ / "sub", kAny));
  EXPECT_TRUE(LocalExists(dir_ / "sub/", kAny));
  EXPECT_TRUE(LocalExists(dir_ / "a.txt", kAny));
  EXPECT_FALSE(LocalExists(dir_ / "a.txt/", kAny));
  EXPECT_FALSE(LocalExists(dir_ / "none", kAny));
  EXPECT_FALSE(LocalExists("/dev/null", kFiles));
}

TEST_F(LocalLookupTest, WildcardsInTheLastElement) {
  EXPECT_TRUE(LocalExists(dir_ / "*.txt", kFiles));
  EXPECT_TRUE(LocalExists(dir_ / "?.txt", kFiles));
  EXPECT_TRUE(LocalExists(dir_ / ".hid*", kFiles));  // a dot counts
  EXPECT_FALSE(LocalExists(dir_ / "s*", kFiles));    // only a directory
  EXPECT_TRUE(LocalExists(dir_ / "s*", kAny));
  EXPECT_FALSE(LocalExists(dir_ / "*.doc", kAny));
  EXPECT_FALSE(LocalExists(dir_ / "??.txt", kFiles));
  // Brackets are literal, not a character class.
  EXPECT_TRUE(LocalExists(dir_ / "[x]*", kFiles));
  EXPECT_FALSE(LocalExists(dir_ / "[ab].txt", kFiles));
  // Wildcards before the last element are literal.
  EXPECT_FALSE(LocalExists(dir_ / "s*/x", kAny));
  EXPECT_FALSE(LocalExists(dir_ / "missing/*", kAny));
}

TEST_F(LocalLookupTest, RelativePathsAndEmptyOrNulPaths) {
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(::chdir(dir_.path().c_str()), 0);
  EXPECT_TRUE(LocalExists("a.txt", kFiles));
  EXPECT_TRUE(LocalExists("*.txt", kFiles));
  EXPECT_TRUE(LocalExists("sub/../a.txt", kFiles));
  EXPECT_FALSE(LocalExists("", kAny));
  EXPECT_FALSE(LocalExists(std::string("a.txt\0x", 7), kFiles));
  ASSERT_EQ(::chdir(cwd), 0);
}

}  // namespace
}  // namespace zorvex
