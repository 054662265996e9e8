// Transfer and listing figures over loopback, through the session component
// and our FTP client, against pyftpdlib (bench/bench_ftpd.py).
//
//   transfer_bench [file MiB, default 256] [listing entries, default 1000000]
//
// Prints the throughput of a binary and an ASCII upload and download, the time
// to list a directory entry by entry, and the process's peak memory after
// each step, which shows that a transfer's memory does not grow with the file.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "ftp/nimbrel.h"

namespace fs = std::filesystem;

namespace {

long PeakRssKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since)
      .count();
}

void MakeFile(const std::string& path, long mib, bool text) {
  std::ofstream out(path, std::ios::binary);
  std::vector<char> chunk(1 << 20);
  for (size_t i = 0; i < chunk.size(); ++i)
    chunk[i] = text ? ((i % 64 == 63) ? '\n' : static_cast<char>('a' + i % 26))
                    : static_cast<char>((i * 2654435761u) >> 24);
  for (long i = 0; i < mib; ++i) out.write(chunk.data(), chunk.size());
}

struct Server {
  pid_t pid = -1;
  int port = 0;
};

Server StartServer(const std::string& root, long entries) {
  const std::string port_file = root + "/../port";
  const std::string script = std::string(ZORVEX_SOURCE_DIR) + "/bench/bench_ftpd.py";
  const std::string n = std::to_string(entries);
  Server server;
  server.pid = fork();
  if (server.pid == 0) {
    execl("/usr/bin/python3", "python3", script.c_str(), "--root", root.c_str(),
          "--port-file", port_file.c_str(), "--entries", n.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  for (int i = 0; i < 200 && server.port == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::ifstream in(port_file);
    in >> server.port;
  }
  return server;
}

void Report(const char* what, double bytes, double seconds) {
  std::printf("%-28s %8.1f MiB in %6.2f s = %7.1f MiB/s   peak RSS %6ld KiB\n",
              what, bytes / 1048576.0, seconds, bytes / 1048576.0 / seconds,
              PeakRssKiB());
}

}  // namespace

int main(int argc, char** argv) {
  const long mib = argc > 1 ? std::atol(argv[1]) : 256;
  const long entries = argc > 2 ? std::atol(argv[2]) : 1000000;
  const fs::path work = fs::temp_directory_path() /
                        ("zorvex-bench-" + std::to_string(getpid()));
  fs::create_directories(work / "root");
  fs::create_directories(work / "local");
  Server server = StartServer((work / "root").string(), entries);
  if (server.port == 0) {
    std::fprintf(stderr, "transfer_bench: the FTP server did not start\n");
    return 1;
  }
  std::printf("loopback, pyftpdlib, passive mode; peak RSS at start %ld KiB\n",
              PeakRssKiB());
  int failures = 0;
  {
    zorvex::Nimbrel session;
    session.OnFTPFrr([&](int32_t number, const std::string& text) {
      std::fprintf(stderr, "FTPFrr %d: %s\n", number, text.c_str());
      ++failures;
    });
    session.RemoteHost("127.0.0.1");
    session.RemotePort(server.port);
    session.User("bench");
    session.Password("bench");
    session.PassiveFlag(true);
    session.OpenSession();
    const double bytes = static_cast<double>(mib) * 1048576.0;
    for (int ascii = 0; ascii < 2; ++ascii) {
      const std::string local = (work / "local" / "up.dat").string();
      MakeFile(local, mib, ascii != 0);
      const int32_t transfer = ascii ? 1 : 2;
      auto start = std::chrono::steady_clock::now();
      session.PutFile(local, "up.dat", transfer);
      Report(ascii ? "upload ASCII" : "upload binary", bytes, Seconds(start));
      start = std::chrono::steady_clock::now();
      session.GetFile("up.dat", (work / "local" / "down.dat").string(), false,
                      transfer);
      Report(ascii ? "download ASCII" : "download binary", bytes,
             Seconds(start));
    }
    auto start = std::chrono::steady_clock::now();
    long listed = 0;
    for (session.FindFile("synthetic"); !session.RemoteFile()->SearchEnd;
         session.NextFile())
      ++listed;
    const double seconds = Seconds(start);
    std::printf("%-28s %8ld entries in %6.2f s = %9.0f entries/s   peak RSS %6ld KiB\n",
                "list (MLSD)", listed, seconds, listed / seconds, PeakRssKiB());
    session.CloseSession();
  }
  kill(server.pid, SIGTERM);
  waitpid(server.pid, nullptr, 0);
  fs::remove_all(work);
  return failures == 0 ? 0 : 1;
}
