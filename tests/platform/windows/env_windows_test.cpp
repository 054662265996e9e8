// The Windows Env's files and folders: the path forms the system takes, names
// in the ANSI code page, the moves that a download relies on, and the
// system's own directory search behind the existence check.
#include "platform/env.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "platform/errors.h"
#include "tests/support/temp_files.h"

#include <windows.h>

namespace platform {
namespace {

using testsupport::Exists;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

Env* os() { return Env::Default(); }

// The path with every "/" turned into "\".
std::string Backslashed(std::string path) {
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

std::string Contents(const std::string& path) {
  std::unique_ptr<File> file;
  if (os()->OpenForReading(path, &file) != 0) return "<cannot open>";
  std::string out;
  char buf[64];
  size_t got = 0;
  while (file->Read(buf, sizeof buf, &got) == 0 && got > 0)
    out.append(buf, got);
  return out;
}

// Changes the current folder for one test and puts it back.
class CurrentFolder {
 public:
  explicit CurrentFolder(const std::string& path)
      : old_(std::filesystem::current_path()) {
    std::filesystem::current_path(path);
  }
  ~CurrentFolder() { std::filesystem::current_path(old_); }

 private:
  std::filesystem::path old_;
};

TEST(WindowsEnvTest, PathsTakeEitherSeparatorDrivesAndRelativeForms) {
  TempDir dir;
  WriteFile(dir / "a.txt", "bytes of a");
  const std::string back = Backslashed(dir / "a.txt");
  ASSERT_EQ(back.substr(1, 2), ":\\") << back;  // a drive letter
  for (const std::string& path :
       {back, dir / "a.txt", Backslashed(dir.path()) + "/a.txt",
        "\\\\?\\" + back, Backslashed(dir / "sub/../a.txt")}) {
    EXPECT_EQ(Contents(path), "bytes of a") << path;
    EXPECT_TRUE(os()->Lookup(path, false)) << path;
  }
  // Relative to the current folder, to the current drive's root, and to the
  // current folder of a drive.
  CurrentFolder in(dir.path());
  EXPECT_EQ(Contents("a.txt"), "bytes of a");
  EXPECT_EQ(Contents(back.substr(2)), "bytes of a");
  EXPECT_EQ(Contents(back.substr(0, 2) + "a.txt"), "bytes of a");
  EXPECT_TRUE(os()->Lookup(".\\a.txt", false));
}

TEST(WindowsEnvTest, AnsiNamesReachTheFileSystemAsTheirCharacters) {
  if (GetACP() != 1252) GTEST_SKIP() << "code page " << GetACP();
  TempDir dir;
  const std::string name = dir / "\xE9t\xE9 \x80.txt";  // "été €.txt"
  std::unique_ptr<File> file;
  ASSERT_EQ(os()->OpenForWriting(name, &file), 0u);
  ASSERT_EQ(file->Write("accented", 8), 0u);
  ASSERT_EQ(file->Close(), 0u);
  // The file system holds the characters, not the code page's bytes.
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(
      std::filesystem::path(dir.path()) / L"\u00E9t\u00E9 \u20AC.txt")));
  EXPECT_TRUE(os()->Lookup(dir / "*\xE9*", false));
  std::string temp;
  ASSERT_EQ(os()->CreateTemporary(name, &file, &temp), 0u);
  EXPECT_NE(temp.find(".\xE9t\xE9 \x80.txt.zvx-"), std::string::npos) << temp;
  ASSERT_EQ(file->Write("replaced", 8), 0u);
  ASSERT_EQ(file->Close(), 0u);
  EXPECT_EQ(os()->Replace(temp, name), 0u);
  EXPECT_EQ(Contents(name), "replaced");
  // A NUL names nothing.
  EXPECT_EQ(os()->OpenForReading(std::string("a\0b", 3), &file),
            ERROR_INVALID_NAME);
  EXPECT_FALSE(os()->Status(std::string("a\0b", 3)).exists);
}

TEST(WindowsEnvTest, OpeningTellsWhatIsMissingAndWhatIsNoFile) {
  TempDir dir;
  std::unique_ptr<File> file;
  const std::string folder = Backslashed(dir.path());
  EXPECT_EQ(os()->OpenForReading(folder + "\\none.txt", &file),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(os()->OpenForReading(folder + "\\none\\a.txt", &file),
            ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(os()->OpenForReading(folder, &file), ERROR_ACCESS_DENIED);
  EXPECT_EQ(os()->OpenForReading("NUL", &file), ERROR_ACCESS_DENIED);
  // The run reports these as "Path/File access error" and "Path not found".
  EXPECT_EQ(os()->OpenForWriting(folder, &file), ERROR_OPEN_FAILED);
  EXPECT_EQ(os()->OpenForWriting(folder + "\\none\\log.txt", &file),
            ERROR_PATH_NOT_FOUND);
  // A hidden file is emptied and written like any other, and stays hidden.
  WriteFile(dir / "log.txt", "an older and longer line");
  const std::wstring wide = std::filesystem::path(dir / "log.txt").wstring();
  ASSERT_TRUE(SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_HIDDEN));
  ASSERT_EQ(os()->OpenForWriting(folder + "\\log.txt", &file), 0u);
  EXPECT_EQ(file->Write("new\r\n", 5), 0u);
  EXPECT_EQ(file->Close(), 0u);
  EXPECT_EQ(ReadFile(dir / "log.txt"), "new\r\n");
  EXPECT_TRUE(GetFileAttributesW(wide.c_str()) & FILE_ATTRIBUTE_HIDDEN);
}

TEST(WindowsEnvTest, TemporaryFilesLieInTheTargetsFolderAsWritten) {
  TempDir dir;
  const std::string folder = Backslashed(dir.path());
  std::unique_ptr<File> file;
  std::string path, second;
  ASSERT_EQ(os()->CreateTemporary(folder + "\\a.txt", &file, &path), 0u);
  ASSERT_EQ(path.rfind(folder + "\\.a.txt.zvx-", 0), 0u) << path;
  EXPECT_EQ(path.size(), folder.size() + 1 + 11 + 6);
  std::unique_ptr<File> other;
  ASSERT_EQ(os()->CreateTemporary(folder + "\\a.txt", &other, &second), 0u);
  EXPECT_NE(second, path);
  // After a drive without a separator: the drive's current folder.
  {
    CurrentFolder in(dir.path());
    std::unique_ptr<File> relative;
    std::string drive_relative;
    ASSERT_EQ(os()->CreateTemporary(folder.substr(0, 2) + "b.txt", &relative,
                                    &drive_relative),
              0u);
    EXPECT_EQ(drive_relative.rfind(folder.substr(0, 2) + ".b.txt.zvx-", 0), 0u)
        << drive_relative;
    EXPECT_TRUE(os()->Status(folder + "\\" + drive_relative.substr(2)).exists);
  }
  // A long name is cut, so that the temporary name stays a valid one.
  const std::string long_name(230, 'n');
  ASSERT_EQ(os()->CreateTemporary(folder + "\\" + long_name, &file, &path), 0u);
  EXPECT_EQ(path.size(), folder.size() + 1 + 1 + 200 + 5 + 6);
  EXPECT_EQ(os()->CreateTemporary(folder + "\\none\\a.txt", &file, &path),
            ERROR_PATH_NOT_FOUND);
}

TEST(WindowsEnvTest, MovesReplaceOrRefuseInOneStep) {
  TempDir dir;
  const std::string folder = Backslashed(dir.path());
  WriteFile(dir / "new", "new");
  WriteFile(dir / "old", "old");
  EXPECT_EQ(os()->MoveNoReplace(folder + "\\new", folder + "\\old"),
            ERROR_FILE_EXISTS);
  EXPECT_EQ(ReadFile(dir / "old"), "old");
  // A folder is never replaced by a file.
  ASSERT_TRUE(std::filesystem::create_directory(dir / "folder"));
  EXPECT_EQ(os()->Replace(folder + "\\new", folder + "\\folder"),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(ReadFile(dir / "new"), "new");
  // Nor a file that someone holds open without letting it be deleted: the
  // move fails and both files stay as they were.
  {
    const std::wstring old_wide = std::filesystem::path(dir / "old").wstring();
    HANDLE held = CreateFileW(old_wide.c_str(), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_NE(os()->Replace(folder + "\\new", folder + "\\old"), 0u);
    CloseHandle(held);
  }
  EXPECT_EQ(ReadFile(dir / "old"), "old");
  EXPECT_EQ(ReadFile(dir / "new"), "new");
  EXPECT_EQ(os()->Replace(folder + "\\new", folder + "\\old"), 0u);
  EXPECT_EQ(ReadFile(dir / "old"), "new");
  EXPECT_FALSE(Exists(dir / "new"));
  EXPECT_EQ(os()->Remove(folder + "\\old"), 0u);
  EXPECT_EQ(os()->Remove(folder + "\\old"), ERROR_FILE_NOT_FOUND);
}

TEST(WindowsEnvTest, LookupUsesTheSystemsDirectorySearch) {
  TempDir dir;
  for (const char* name : {"a.txt", "UPPER.TXT", "x22.txt", "noext"})
    WriteFile(dir / name, name);
  ASSERT_TRUE(std::filesystem::create_directory(dir / "sub"));
  const std::string folder = Backslashed(dir.path()) + "\\";
  // Case does not matter; "?" is one character; "*.*" also matches a name
  // without a dot, as the system's search has it.
  EXPECT_TRUE(os()->Lookup(folder + "*.txt", false));
  EXPECT_TRUE(os()->Lookup(folder + "upper.*", false));
  EXPECT_TRUE(os()->Lookup(folder + "x??.TXT", false));
  EXPECT_FALSE(os()->Lookup(folder + "x?.txt", false));
  EXPECT_TRUE(os()->Lookup(folder + "noe*.*", false));
  // Folders count only when asked for.
  EXPECT_FALSE(os()->Lookup(folder + "s*", false));
  EXPECT_TRUE(os()->Lookup(folder + "s*", true));
  EXPECT_FALSE(os()->Lookup(folder + "sub", false));
  EXPECT_TRUE(os()->Lookup(folder + "sub\\", true));
  EXPECT_TRUE(os()->Lookup(folder + "sub/", true));
  // No match, a missing folder, wildcards before the last element, names
  // that no entry can have, a device.
  EXPECT_FALSE(os()->Lookup(folder + "*.doc", true));
  EXPECT_FALSE(os()->Lookup(folder + "none\\*", true));
  EXPECT_FALSE(os()->Lookup(folder + "s*\\a.txt", true));
  EXPECT_FALSE(os()->Lookup(folder + "a<", true));
  EXPECT_FALSE(os()->Lookup(folder + "a.txt\\", true));
  EXPECT_FALSE(os()->Lookup("NUL", false));
  EXPECT_FALSE(os()->Lookup("", true));
}

}  // namespace
}  // namespace platform
