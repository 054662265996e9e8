// One binary upload over plain FTP by a chosen path, as a whole process, for
// bench/upload_paths.py: how the way a file's bytes reach the socket changes
// the time a server on this machine takes to receive them.
//
//   upload_paths PORT USER PASSWORD_FILE LOCAL REMOTE PATH [BYTES]
//
// PATH: copy (read + send through a BYTES buffer, TCP_NODELAY, the client's
// path to a server on this machine), sendfile (BYTES per call), sendfile-lowat
// (1 MiB per call, TCP_NOTSENT_LOWAT 16 KiB, the client's path to any other
// server), mmap (send BYTES at a time from the file mapped in 4 MiB windows).
// Prints the seconds from the connection to the server's final reply.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "upload_paths: %s\n", what.c_str());
  std::exit(1);
}

int Connect(uint16_t port) {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
    Fail("cannot connect to port " + std::to_string(port));
  return s;
}

void SetOption(int s, int option, int value) {
  ::setsockopt(s, IPPROTO_TCP, option, &value, sizeof value);
}

void SendAll(int s, const char* p, size_t n) {
  while (n > 0) {
    const ssize_t w = ::send(s, p, n, MSG_NOSIGNAL);
    if (w <= 0) Fail("send failed");
    p += w;
    n -= static_cast<size_t>(w);
  }
}

// The control connection: a command, and the last line of its reply.
class Control {
 public:
  explicit Control(uint16_t port) : fd_(Connect(port)) { Reply(); }
  std::string Reply() {
    for (;;) {
      const size_t end = pending_.find("\r\n");
      if (end != std::string::npos) {
        std::string line = pending_.substr(0, end);
        pending_.erase(0, end + 2);
        if (line.size() >= 4 && line[3] == ' ') return line;
        continue;
      }
      char buf[4096];
      const ssize_t n = ::read(fd_, buf, sizeof buf);
      if (n <= 0) Fail("the server closed the control connection");
      pending_.append(buf, static_cast<size_t>(n));
    }
  }
  void Send(const std::string& command) {
    const std::string line = command + "\r\n";
    SendAll(fd_, line.data(), line.size());
  }
  std::string Command(const std::string& command) {
    Send(command);
    return Reply();
  }

 private:
  int fd_;
  std::string pending_;
};

void SendByPath(int data, int file, off_t size, const std::string& path,
                size_t bytes) {
  if (path == "copy") {
    SetOption(data, TCP_NODELAY, 1);
    std::vector<char> buf(bytes);
    for (ssize_t n; (n = ::read(file, buf.data(), buf.size())) > 0;)
      SendAll(data, buf.data(), static_cast<size_t>(n));
  } else if (path == "sendfile" || path == "sendfile-lowat") {
    if (path == "sendfile-lowat") {
      SetOption(data, TCP_NOTSENT_LOWAT, 16 * 1024);
      bytes = size_t{1} << 20;
    }
    while (::sendfile(data, file, nullptr, bytes) > 0) {
    }
  } else if (path == "mmap") {
    const off_t window = 4 << 20;
    for (off_t base = 0; base < size; base += window) {
      const size_t len = static_cast<size_t>(std::min(window, size - base));
      void* map = ::mmap(nullptr, len, PROT_READ, MAP_SHARED, file, base);
      if (map == MAP_FAILED) Fail("cannot map the file");
      for (size_t off = 0; off < len; off += bytes)
        SendAll(data, static_cast<const char*>(map) + off,
                std::min(bytes, len - off));
      ::munmap(map, len);
    }
  } else {
    Fail("unknown path " + path);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 7) Fail("usage: PORT USER PASSWORD_FILE LOCAL REMOTE PATH [BYTES]");
  const uint16_t port = static_cast<uint16_t>(std::atoi(argv[1]));
  std::string password;
  std::getline(std::ifstream(argv[3]), password);
  const size_t bytes = argc > 7 ? std::strtoul(argv[7], nullptr, 10) : 65536;
  const int file = ::open(argv[4], O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (file < 0 || ::fstat(file, &st) != 0) Fail("cannot open the file");

  const auto start = std::chrono::steady_clock::now();
  Control c(port);
  c.Command(std::string("USER ") + argv[2]);
  if (c.Command("PASS " + password).rfind("230", 0) != 0) Fail("login refused");
  c.Command("TYPE I");
  const std::string pasv = c.Command("PASV");
  unsigned h[6];
  const size_t open = pasv.find('(');
  if (open == std::string::npos ||
      std::sscanf(pasv.c_str() + open + 1, "%u,%u,%u,%u,%u,%u", &h[0], &h[1],
                  &h[2], &h[3], &h[4], &h[5]) != 6)
    Fail("no passive address: " + pasv);
  const int data = Connect(static_cast<uint16_t>(h[4] * 256 + h[5]));
  c.Send(std::string("STOR ") + argv[5]);
  if (c.Reply()[0] != '1') Fail("STOR refused");
  SendByPath(data, file, st.st_size, argv[6], bytes);
  ::close(data);
  const std::string final_reply = c.Reply();
  const double seconds = std::chrono::duration<double>(
                             std::chrono::steady_clock::now() - start)
                             .count();
  c.Command("QUIT");
  if (final_reply.rfind("226", 0) != 0) Fail("upload failed: " + final_reply);
  std::printf("%.3f\n", seconds);
  return 0;
}
