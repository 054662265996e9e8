// Lists one remote folder through the session component, entry by entry, and
// prints how many entries it held. A whole process doing one listing, so that
// its wall time and memory compare with any other client doing the same.
//
//   list_bench HOST PORT USER PASSWORD_FILE FOLDER
//
// The password is read from a file (its first line) so that it never shows in
// the process's arguments. Exit status 0 only when the session opened, the
// listing ran to its end without an error, and the session closed.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "ftp/nimbrel.h"

namespace {

bool ReadPassword(const char* path, std::string* password) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::getline(in, *password);
  if (!password->empty() && password->back() == '\r') password->pop_back();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr,
                 "usage: list_bench HOST PORT USER PASSWORD_FILE FOLDER\n");
    return 2;
  }
  char* end = nullptr;
  const long port = std::strtol(argv[2], &end, 10);
  if (end == argv[2] || *end != '\0' || port < 1 || port > 65535) {
    std::fprintf(stderr, "list_bench: not a port: %s\n", argv[2]);
    return 2;
  }
  std::string password;
  if (!ReadPassword(argv[4], &password)) {
    std::fprintf(stderr, "list_bench: cannot read the password file %s\n",
                 argv[4]);
    return 2;
  }

  int failures = 0;
  long entries = 0;
  double bytes = 0;
  // Folds every field of every record into one value, so that the records are
  // really built and read, and the work cannot be left out.
  uint64_t digest = 0;
  {
    zorvex::Nimbrel session;
    session.OnFTPFrr([&](int32_t number, const std::string& text) {
      std::fprintf(stderr, "list_bench: FTP error %d: %s\n", number,
                   text.c_str());
      ++failures;
    });
    session.RemoteHost(argv[1]);
    session.RemotePort(static_cast<int32_t>(port));
    session.User(argv[3]);
    session.Password(password);
    session.PassiveFlag(true);
    session.OpenSession();
    if (session.hFTP() == 0) {
      std::fprintf(stderr, "list_bench: no session\n");
      return 1;
    }
    // A folder path without a wildcard lists everything the folder holds.
    for (session.FindFile(argv[5]); !session.RemoteFile()->SearchEnd;
         session.NextFile()) {
      const auto record = session.RemoteFile();
      ++entries;
      bytes += record->FileSize;
      digest = digest * 31 + record->FileName.size() +
               static_cast<uint64_t>(record->FileDate.ToDouble() * 86400.0) +
               static_cast<uint64_t>(record->FileType);
      // NextFile that fails raises FTPFrr and leaves SearchEnd false: stop.
      if (failures != 0) break;
    }
    session.CloseSession();
  }
  if (failures != 0) return 1;
  std::printf("%ld entries, %.0f bytes, digest %016llx\n", entries, bytes,
              static_cast<unsigned long long>(digest));
  return 0;
}
