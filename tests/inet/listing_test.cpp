#include "inet/listing.h"

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "inet/filetime.h"

namespace inet {
namespace {

uint64_t At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  FILETIME ft;
  EXPECT_TRUE(FileTimeFromCivil(y, mo, d, h, mi, s, &ft));
  return FileTimeToU64(ft);
}

int64_t UnixAt(int y, int mo, int d, int h, int mi, int s) {
  return static_cast<int64_t>((At(y, mo, d, h, mi, s) - kFileTimeUnixEpoch) /
                              kFileTimeTicksPerSecond);
}

// The moment the captured lines below were "listed".
const int64_t kNow = UnixAt(2025, 6, 15, 12, 0, 0);

struct Expected {
  std::string name;
  bool is_directory;
  uint64_t size;
  uint64_t mtime;
};

void ExpectEntry(const std::optional<ListEntry>& got, const Expected& want,
                 const std::string& line) {
  ASSERT_TRUE(got.has_value()) << "line: [" << line << "]";
  EXPECT_EQ(got->name, want.name) << line;
  EXPECT_EQ(got->is_directory, want.is_directory) << line;
  EXPECT_EQ(got->size, want.size) << line;
  EXPECT_EQ(FileTimeToU64(got->mtime), want.mtime) << line;
}

void ExpectList(const std::string& line, const Expected& want) {
  ExpectEntry(ParseListLine(line, kNow), want, line);
}

void ExpectMlsd(const std::string& line, const Expected& want) {
  ExpectEntry(ParseMlsdLine(line), want, line);
}

// ---- MLSD ----

TEST(MlsdLine, PyftpdlibStyle) {
  ExpectMlsd("type=file;size=12;modify=20010307090500;perm=radfwMT;"
             "unix.mode=0644;unix.uid=0;unix.gid=0;unique=801g1a; name",
             {"name", false, 12, At(2001, 3, 7, 9, 5, 0)});
  ExpectMlsd("type=file;size=12;modify=20010307090500; name",
             {"name", false, 12, At(2001, 3, 7, 9, 5, 0)});
  ExpectMlsd("type=dir;size=4096;modify=20240229235959; sub",
             {"sub", true, 4096, At(2024, 2, 29, 23, 59, 59)});
}

TEST(MlsdLine, FactNamesAndTypesInAnyCase) {
  ExpectMlsd("Type=dir;Modify=20010307090500;Perm=el; my dir",
             {"my dir", true, 0, At(2001, 3, 7, 9, 5)});
  ExpectMlsd("TYPE=DIR;SIZE=0; D", {"D", true, 0, 0});
  ExpectMlsd("type=File;Size=5368709120; big.iso",
             {"big.iso", false, 5368709120ULL, 0});
}

TEST(MlsdLine, NameIsEverythingAfterTheFirstSpace) {
  ExpectMlsd("type=file;size=1; two  spaces ", {"two  spaces ", false, 1, 0});
  ExpectMlsd("type=file;size=1;  leading", {" leading", false, 1, 0});
  ExpectMlsd("type=file;size=1; a;b=c d", {"a;b=c d", false, 1, 0});
  ExpectMlsd("type=file;size=1; crlf\r", {"crlf", false, 1, 0});
  ExpectMlsd(" nofacts", {"nofacts", false, 0, 0});
  ExpectMlsd("size=3; notype", {"notype", false, 3, 0});
  ExpectMlsd("type=file;size=3 nosemicolon", {"nosemicolon", false, 3, 0});
}

TEST(MlsdLine, OtherTypesSizdAndFractions) {
  ExpectMlsd("type=OS.unix=slink:/etc/hosts;size=10; hosts",
             {"hosts", false, 10, 0});
  ExpectMlsd("type=OS.unix=symlink;size=10; l2", {"l2", false, 10, 0});
  ExpectMlsd("type=dir;sizd=8192; d", {"d", true, 8192, 0});
  ExpectMlsd("type=file;modify=20010307090500.250; frac",
             {"frac", false, 0, At(2001, 3, 7, 9, 5) + 2500000});
  ExpectMlsd("type=file;modify=20010307090500.123456789; fine",
             {"fine", false, 0, At(2001, 3, 7, 9, 5) + 1234567});
}

TEST(MlsdLine, CurrentAndParentDirectoryAreSkipped) {
  EXPECT_FALSE(ParseMlsdLine("type=cdir;modify=20010307090500; ."));
  EXPECT_FALSE(ParseMlsdLine("type=pdir;modify=20010307090500; .."));
  EXPECT_FALSE(ParseMlsdLine("Type=CDir; /pub/dir"));
}

TEST(MlsdLine, OddTimesKeepTheEntryWithoutATime) {
  for (const char* modify :
       {"20010230090500", "20011307090500", "20010307250000", "2001030709",
        "200103070905xx", "20010307090500.", "20010307090500.x", "",
        "15000101000000", "99999999999999"}) {
    const std::string line =
        std::string("type=file;size=7;modify=") + modify + "; odd";
    ExpectMlsd(line, {"odd", false, 7, 0});
  }
}

TEST(MlsdLine, HostileLinesAreSkipped) {
  for (const std::string& line : std::vector<std::string>{
           "", " ", "type=file;size=1;", "type=file;size=1; ", "garbage",
           "hello world", "=x; name", "type=file;size=12x; name",
           "type=file;size=-1; name", "type=file;size=; name",
           "type=file;size=18446744073709551616; name",
           "type=file;size=99999999999999999999999; name",
           "type=file;sizd=1e3; name", "type=file;junk; name",
           std::string("type=file; a\0b", 14)}) {
    EXPECT_FALSE(ParseMlsdLine(line)) << "[" << line << "]";
  }
  ExpectMlsd("type=file;size=18446744073709551615; max",
             {"max", false, UINT64_MAX, 0});
}

TEST(MlsdLine, OverLongLines) {
  const std::string prefix = "type=file;size=1; ";
  const std::string fits = prefix + std::string(kMaxListingLine - prefix.size(), 'n');
  ASSERT_TRUE(ParseMlsdLine(fits));
  EXPECT_EQ(ParseMlsdLine(fits)->name.size(), kMaxListingLine - prefix.size());
  EXPECT_TRUE(ParseMlsdLine(fits + "\r"));
  EXPECT_FALSE(ParseMlsdLine(fits + "n"));
  EXPECT_FALSE(ParseMlsdLine(prefix + std::string(10 * kMaxListingLine, 'n')));
}

// ---- LIST, Unix style ----

TEST(UnixListLine, VsftpdStyle) {
  ExpectList("-rw-r--r--    1 0        0            1234 Mar 07 09:05 name",
             {"name", false, 1234, At(2025, 3, 7, 9, 5)});
  ExpectList("drwxr-xr-x    2 0        0            4096 Mar 07  2001 sub dir",
             {"sub dir", true, 4096, At(2001, 3, 7)});
  ExpectList("-rw-------    1 1000     1000   5368709120 Jan 01  2020 big.iso",
             {"big.iso", false, 5368709120ULL, At(2020, 1, 1)});
}

TEST(UnixListLine, PyftpdlibAndProftpdStyles) {
  ExpectList("-rw-r--r--   1 root     root         1234 Mar 07 09:05 a.txt",
             {"a.txt", false, 1234, At(2025, 3, 7, 9, 5)});
  ExpectList("drwxr-xr-x   2 root     root         4096 Mar 07  2001 sub",
             {"sub", true, 4096, At(2001, 3, 7)});
  ExpectList("-rw-r--r--   1 ftp      ftp            17 Mar  7 09:05 b.txt",
             {"b.txt", false, 17, At(2025, 3, 7, 9, 5)});
  ExpectList("drwxr-xr-x   3 ftp      ftp          4096 Nov 30  1999 old",
             {"old", true, 4096, At(1999, 11, 30)});
  ExpectList("-rw-r--r--+  1 ftp      ftp             3 mar  7 9:05 acl",
             {"acl", false, 3, At(2025, 3, 7, 9, 5)});
  ExpectList("-rw-r--r--\t1 ftp\tftp\t3\tMAR\t7\t09:05\ttabs",
             {"tabs", false, 3, At(2025, 3, 7, 9, 5)});
}

TEST(UnixListLine, WithoutGroupColumnOrLinkCount) {
  ExpectList("-rw-r--r--   1 owner        1234 Mar  7 09:05 nogroup",
             {"nogroup", false, 1234, At(2025, 3, 7, 9, 5)});
  ExpectList("drwxr-xr-x folder        0 Mar  7  2001 nolinks",
             {"nolinks", true, 0, At(2001, 3, 7)});
}

TEST(UnixListLine, DevicesLinksAndOtherKinds) {
  ExpectList("crw-rw----   1 root     tty        4,  64 Mar  7  2001 tty0",
             {"tty0", false, 0, At(2001, 3, 7)});
  ExpectList("brw-rw----   1 root     disk       8,0 Mar  7 09:05 sda",
             {"sda", false, 0, At(2025, 3, 7, 9, 5)});
  ExpectList("lrwxrwxrwx   1 root     root            7 Mar  7 09:05 bin -> usr/bin",
             {"bin", false, 7, At(2025, 3, 7, 9, 5)});
  ExpectList("lrwxrwxrwx   1 root     root            7 Mar  7 09:05 a b -> c -> d",
             {"a b", false, 7, At(2025, 3, 7, 9, 5)});
  ExpectList("prw-r--r--   1 root     root            0 Mar  7 09:05 fifo",
             {"fifo", false, 0, At(2025, 3, 7, 9, 5)});
  ExpectList("srwxrwxrwx   1 root     root            0 Mar  7 09:05 sock",
             {"sock", false, 0, At(2025, 3, 7, 9, 5)});
  // Not a link: the arrow is part of the name.
  ExpectList("-rw-r--r--   1 u        g               1 Mar  7 09:05 x -> y",
             {"x -> y", false, 1, At(2025, 3, 7, 9, 5)});
}

TEST(UnixListLine, NameStartsAfterOneBlankFollowingTheDate) {
  ExpectList("-rw-r--r--   1 u g 1 Mar  7 09:05 my file.txt",
             {"my file.txt", false, 1, At(2025, 3, 7, 9, 5)});
  ExpectList("-rw-r--r--   1 u g 1 Mar  7 09:05  lead",
             {" lead", false, 1, At(2025, 3, 7, 9, 5)});
  ExpectList("-rw-r--r--   1 u g 1 Mar  7  2001 trail  ",
             {"trail  ", false, 1, At(2001, 3, 7)});
  ExpectList("-rw-r--r--   1 u g 1 Mar  7  2001 Mar 8 2002 x",
             {"Mar 8 2002 x", false, 1, At(2001, 3, 7)});
  ExpectList("-rw-r--r--   1 Mar g 1 Mar  7  2001 owner-named-mar",
             {"owner-named-mar", false, 1, At(2001, 3, 7)});
  ExpectList("drwxr-xr-x   2 u g 4096 Mar  7 09:05 .",
             {".", true, 4096, At(2025, 3, 7, 9, 5)});
  ExpectList("-rw-r--r--   1 u g 1 Mar  7 09:05 crlf\r",
             {"crlf", false, 1, At(2025, 3, 7, 9, 5)});
  ExpectList("-rw-r--r--   1 u g 1 Mar  7 09:05 \xE3\x81\x82.txt",
             {"\xE3\x81\x82.txt", false, 1, At(2025, 3, 7, 9, 5)});
}

TEST(UnixListLine, YearOfAYearlessDate) {
  const int64_t now = UnixAt(2025, 6, 15, 12, 0, 0);
  auto mtime = [](const std::string& date, int64_t at) -> uint64_t {
    const auto e = ParseListLine("-rw-r--r-- 1 u g 1 " + date + " f", at);
    EXPECT_TRUE(e) << date;
    return e ? FileTimeToU64(e->mtime) : 1;
  };
  EXPECT_EQ(mtime("Mar  7 09:05", now), At(2025, 3, 7, 9, 5));
  EXPECT_EQ(mtime("Jun 15 12:00", now), At(2025, 6, 15, 12, 0));
  // Up to a day ahead is clock skew between server and client: same year.
  EXPECT_EQ(mtime("Jun 16 12:00", now), At(2025, 6, 16, 12, 0));
  // Further ahead: last year.
  EXPECT_EQ(mtime("Jun 16 12:01", now), At(2024, 6, 16, 12, 1));
  EXPECT_EQ(mtime("Dec 31 23:59", now), At(2024, 12, 31, 23, 59));
  // 29 February of a year that has none is last year's, if that has one.
  EXPECT_EQ(mtime("Feb 29 10:00", now), At(2024, 2, 29, 10, 0));
  EXPECT_EQ(mtime("Feb 29 10:00", UnixAt(2027, 3, 1, 0, 0, 0)), 0u);
  // Around the turn of the year.
  EXPECT_EQ(mtime("Jan  1 10:00", UnixAt(2025, 12, 31, 23, 0, 0)),
            At(2025, 1, 1, 10, 0));
  EXPECT_EQ(mtime("Dec 31 23:50", UnixAt(2026, 1, 1, 0, 30, 0)),
            At(2025, 12, 31, 23, 50));
  EXPECT_EQ(mtime("Jan  1 23:50", UnixAt(2025, 12, 31, 0, 30, 0)),
            At(2025, 1, 1, 23, 50));
  // A clock that cannot be read gives no time, but the entry stays.
  EXPECT_EQ(mtime("Mar  7 09:05", INT64_MAX), 0u);
  EXPECT_EQ(mtime("Mar  7 09:05", INT64_MIN), 0u);
}

TEST(UnixListLine, OddDatesKeepTheEntryWithoutATime) {
  for (const char* date : {"Feb 30  2001", "Feb 29  2001", "Apr 31 09:05",
                           "Mar 32 09:05", "Mar  0 09:05", "Mar  7 25:00",
                           "Mar  7 09:60", "Mar  7  0000", "Mar  7  1500"}) {
    ExpectList(std::string("-rw-r--r-- 1 u g 9 ") + date + " odd",
               {"odd", false, 9, 0});
  }
}

TEST(UnixListLine, HostileLinesAreSkipped) {
  for (const std::string& line : std::vector<std::string>{
           "", " ", "        ", "\r", "total 12", "total 0",
           "-rw-r--r-- 1 u g 1234 Mar", "-rw-r--r-- 1 u g 1234 Mar 7",
           "-rw-r--r-- 1 u g 1234 Mar 7 09:05", "-rw-r--r-- 1 u g 1234 Mar 7 09:05 ",
           "-rw-r--r-- 1 u g 12x4 Mar 7 09:05 a",
           "-rw-r--r-- 1 u g -5 Mar 7 09:05 a",
           "-rw-r--r-- 1 u g 18446744073709551616 Mar 7 09:05 a",
           "-rw-r--r-- 1 u g 99999999999999999999999999 Mar 7 2001 a",
           "-rw-r--r-- 1 u g 1 Foo 7 09:05 a", "-rw-r--r-- 1 u g 1 Mar x 09:05 a",
           "-rw-r--r-- 1 u g 1 Mar 7 9:5 a", "-rw-r--r-- 1 u g 1 Mar 7 20011 a",
           "xrw-r--r-- 1 u g 1 Mar 7 09:05 a", "-rw-r--r-Q 1 u g 1 Mar 7 09:05 a",
           "-rw-r--r-- 1 u g 1 Mar 7 09:05 a\0b" + std::string(1, '\0'),
           "lrwxrwxrwx 1 u g 1 Mar 7 09:05  -> target",
           "Mar 7 09:05 name", "-rw-r--r--"}) {
    EXPECT_FALSE(ParseListLine(line, kNow)) << "[" << line << "]";
  }
  ExpectList("-rw-r--r-- 1 u g 18446744073709551615 Mar 7 2001 max",
             {"max", false, UINT64_MAX, At(2001, 3, 7)});
}

// ---- LIST, DOS style ----

TEST(DosListLine, IisStyle) {
  ExpectList("03-07-01  09:05AM       <DIR>          my dir",
             {"my dir", true, 0, At(2001, 3, 7, 9, 5)});
  ExpectList("03-07-01  09:05PM                 1234 report.txt",
             {"report.txt", false, 1234, At(2001, 3, 7, 21, 5)});
  ExpectList("12-31-99  12:00AM                    5 midnight.txt",
             {"midnight.txt", false, 5, At(1999, 12, 31, 0, 0)});
  ExpectList("12-31-69  12:30PM                    5 noon.txt",
             {"noon.txt", false, 5, At(2069, 12, 31, 12, 30)});
  ExpectList("01-01-70  01:00am           5368709120 big.iso",
             {"big.iso", false, 5368709120ULL, At(1970, 1, 1, 1, 0)});
  ExpectList("03-07-01  09:05AM       <dir>          lower\r",
             {"lower", true, 0, At(2001, 3, 7, 9, 5)});
}

TEST(DosListLine, FourDigitYearsAnd24HourClock) {
  ExpectList("03-07-2001  21:05       <DIR>          dir24",
             {"dir24", true, 0, At(2001, 3, 7, 21, 5)});
  ExpectList("03-07-2001  00:00                 77 zero",
             {"zero", false, 77, At(2001, 3, 7, 0, 0)});
  ExpectList("3/7/2001 9:05 PM 77 spaced am pm",
             {"spaced am pm", false, 77, At(2001, 3, 7, 21, 5)});
  ExpectList("03-07-2001  09:05AM  12 name with  spaces ",
             {"name with  spaces ", false, 12, At(2001, 3, 7, 9, 5)});
}

TEST(DosListLine, OddDatesKeepTheEntryWithoutATime) {
  for (const char* stamp :
       {"13-07-01  09:05AM", "02-30-01  09:05AM", "00-07-01  09:05AM",
        "03-07-01  13:05PM", "03-07-01  00:05AM", "03-07-2001  24:00",
        "03-07-1500  09:05"}) {
    ExpectList(std::string(stamp) + "  42 odd", {"odd", false, 42, 0});
  }
}

TEST(DosListLine, HostileLinesAreSkipped) {
  for (const std::string& line : std::vector<std::string>{
           "03-07-01", "03-07-01  09:05AM", "03-07-01  09:05AM  <DIR>",
           "03-07-01  09:05AM  <DIR>   ", "03-07-01  09:05AM  12x name",
           "03-07-01  09:05AM  99999999999999999999 name",
           "03-07-01  0905AM  12 name", "03-07-001  09:05AM  12 name",
           "03-07  09:05AM  12 name", "aa-bb-cc  09:05AM  12 name",
           "03-07/01  09:05AM  12 name", "03-07-01  09:05XM  12 name"}) {
    EXPECT_FALSE(ParseListLine(line, kNow)) << "[" << line << "]";
  }
}

TEST(ListLine, OverLongLinesAreSkipped) {
  const std::string prefix = "-rw-r--r-- 1 u g 1 Mar  7  2001 ";
  const std::string fits = prefix + std::string(kMaxListingLine - prefix.size(), 'n');
  EXPECT_TRUE(ParseListLine(fits, kNow));
  EXPECT_FALSE(ParseListLine(fits + "n", kNow));
  EXPECT_FALSE(ParseListLine(std::string(1 << 20, ' ') + "x", kNow));
  EXPECT_FALSE(ParseMlsdLine(std::string(1 << 20, ';')));
}

TEST(ListLine, RandomBytesNeverCrash) {
  // Lines of random bytes and random mixes of listing tokens: whatever comes
  // back must be a sane entry.
  std::mt19937 rng(20010307);
  const std::vector<std::string> pieces = {
      "-rw-r--r--", "drwxr-xr-x", "crw-------", "lrwxrwxrwx", " ", "  ",
      "\t", "1", "4,", "64", "Mar", "7", "09:05", "2001", "03-07-01",
      "09:05AM", "<DIR>", "->", "name", "type=file;", "size=1;",
      "modify=20010307090500;", "\xE3\x81\x82", "\r", std::string(1, '\0'),
      "99999999999999999999", "12:00PM", ";", "="};
  for (int i = 0; i < 20000; ++i) {
    std::string line;
    const int parts = static_cast<int>(rng() % 14);
    for (int p = 0; p < parts; ++p) {
      if (rng() % 4 == 0) {
        line.push_back(static_cast<char>(rng() & 0xFF));
      } else {
        line += pieces[rng() % pieces.size()];
      }
    }
    for (const auto& entry :
         {ParseListLine(line, kNow), ParseListLine(line, static_cast<int64_t>(rng())),
          ParseMlsdLine(line)}) {
      if (!entry) continue;
      ASSERT_FALSE(entry->name.empty()) << line;
      ASSERT_EQ(entry->name.find('\0'), std::string::npos) << line;
      ASSERT_LE(FileTimeToU64(entry->mtime), kFileTimeMax) << line;
    }
  }
}

}  // namespace
}  // namespace inet
