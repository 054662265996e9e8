// The run log is written whole or not at all, over the real Env: readers
// and concurrent writers never see a torn or mixed line, a link to the log
// stays a link, and the failures are those of opening the log for output.
#include "app/run_log.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

#include "app/run_error.h"
#include "tests/support/temp_files.h"

namespace zorvex {
namespace {

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

platform::Env* Os() { return platform::Env::Default(); }

TEST(RunLogTest, TwoRunsAtOnceNeverTearALine) {
  TempDir dir;
  const std::string log = dir / "zorvexlog.txt";
  // Lines longer than one write of a stream buffer, each run its own.
  const std::string first = "Start=09:05:07 - End=09:05:09" +
                            std::string(70000, ' ') + "\r\n";
  const std::string second = "Start=10:11:12 - " + std::string(90000, '-') +
                             "\r\n";
  WriteRunLog(Os(), log, first);
  std::atomic<bool> done{false};
  auto writer = [&](const std::string& line) {
    for (int i = 0; i < 300; ++i) WriteRunLog(Os(), log, line);
  };
  int reads = 0, torn = 0;
  std::thread reader([&] {
    while (!done.load()) {
      const std::string seen = ReadFile(log);
      ++reads;
      if (seen != first && seen != second) ++torn;
    }
  });
  std::thread a(writer, first), b(writer, second);
  a.join();
  b.join();
  done.store(true);
  reader.join();
  EXPECT_GT(reads, 0);
  EXPECT_EQ(torn, 0);
  // Only the log is left in the folder.
  int entries = 0;
  for ([[maybe_unused]] const auto& e :
       std::filesystem::directory_iterator(dir.path()))
    ++entries;
  EXPECT_EQ(entries, 1);
}

TEST(RunLogTest, KindsOfLogAndItsFailures) {
  TempDir dir;
  // A link to the log: the file it names gets the line.
  ASSERT_EQ(::mkdir((dir / "logs").c_str(), 0755), 0);
  ASSERT_EQ(::symlink("logs/run.txt", (dir / "zorvexlog.txt").c_str()), 0);
  WriteRunLog(Os(), dir / "zorvexlog.txt", "line\r\n");
  EXPECT_EQ(ReadFile(dir / "logs/run.txt"), "line\r\n");
  struct stat st {};
  ASSERT_EQ(::lstat((dir / "zorvexlog.txt").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  // The permissions of the log it replaces stay.
  ASSERT_EQ(::chmod((dir / "logs/run.txt").c_str(), 0640), 0);
  WriteRunLog(Os(), dir / "zorvexlog.txt", "again\r\n");
  ASSERT_EQ(::stat((dir / "logs/run.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);

  auto error_of = [&](const std::string& path) {
    try {
      WriteRunLog(Os(), path, "x\r\n");
    } catch (const RunError& e) {
      return e.number();
    }
    return 0;
  };
  EXPECT_EQ(error_of(dir / "logs"), kErrPathFileAccess);  // a folder
  EXPECT_EQ(error_of(dir / "none/zorvexlog.txt"), kErrPathNotFound);
}

}  // namespace
}  // namespace zorvex
