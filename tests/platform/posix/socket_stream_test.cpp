// The plain TCP stream's file paths on loopback: the zero-copy paths, the
// copying upload for a peer on this machine, the copying fallbacks (a pipe
// cannot be sent with sendfile, an append-only file cannot be spliced into),
// and how failures are reported. Every upload case runs on both upload paths.
#include "platform/posix/socket_stream.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/env.h"
#include "platform/errors.h"
#include "platform/posix/interrupt_posix.h"
#include "platform/posix/posix_file.h"
#include "tests/support/ftp_server.h"
#include "tests/support/raw_control.h"

namespace platform {
namespace {

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

// Bytes that differ from block to block, so a skipped or repeated block shows.
std::string Pattern(size_t size) {
  std::string s(size, '\0');
  uint32_t x = 2463534242u;
  for (char& c : s) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
  return s;
}

// A connected pair: `ours` as the client would hold it, `peer` a plain fd.
struct Connection {
  std::unique_ptr<Stream> ours;
  int peer = -1;
  Connection() {
    int port = 0;
    const int listener = testsupport::ListenTcp("127.0.0.1", 0, &port);
    EXPECT_GE(listener, 0);
    EXPECT_EQ(Env::Default()->Connect("127.0.0.1", static_cast<uint16_t>(port),
                                      5000, &ours),
              0u);
    peer = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    ::close(listener);
  }
  ~Connection() {
    if (peer >= 0) ::close(peer);
  }
  SocketStream& socket() { return *static_cast<SocketStream*>(ours.get()); }
  // Sends `data` from a thread and closes the peer's end.
  std::thread Feed(std::string data) {
    return std::thread([this, data = std::move(data)] {
      size_t off = 0;
      while (off < data.size()) {
        const ssize_t n = ::write(peer, data.data() + off, data.size() - off);
        if (n <= 0) break;
        off += static_cast<size_t>(n);
      }
      ::close(peer);
      peer = -1;
    });
  }
};

using UploadPath = SocketStream::UploadPath;

class SocketUploadTest : public ::testing::TestWithParam<UploadPath> {};

INSTANTIATE_TEST_SUITE_P(Paths, SocketUploadTest,
                         ::testing::Values(UploadPath::kZeroCopy,
                                           UploadPath::kCopying),
                         [](const auto& info) {
                           return info.param == UploadPath::kZeroCopy
                                      ? std::string("ZeroCopy")
                                      : std::string("Copying");
                         });

TEST_P(SocketUploadTest, SendsWholeFileFromTheCurrentOffset) {
  TempDir dir;
  const std::string content = Pattern(3 * 1024 * 1024 + 17);
  WriteFile(dir.path() + "/src", content);
  for (off_t start : {off_t{0}, off_t{5}}) {
    Connection c;
    c.socket().set_upload_path(GetParam());
    const int fd = ::open((dir.path() + "/src").c_str(), O_RDONLY);
    ::lseek(fd, start, SEEK_SET);
    PosixFile file(fd);
    std::string got;
    std::thread reader([&] { got = testsupport::ReadToEnd(c.peer); });
    EXPECT_EQ(c.ours->SendFile(file, 5000), 0u);
    c.ours->Close();
    reader.join();
    EXPECT_TRUE(got == content.substr(static_cast<size_t>(start)))
        << "start " << start << ", got " << got.size() << " bytes";
  }
}

// A file larger than what the socket buffers of both ends can hold, so that
// a peer that reads nothing holds the sender up.
struct StalledUpload {
  TempDir dir;
  Connection c;
  std::unique_ptr<PosixFile> file;
  explicit StalledUpload(UploadPath path) {
    c.socket().set_upload_path(path);
    WriteFile(dir.path() + "/src", Pattern(32 * 1024 * 1024));
    file = std::make_unique<PosixFile>(
        ::open((dir.path() + "/src").c_str(), O_RDONLY));
  }
  int fd() const { return static_cast<SocketStream*>(c.ours.get())->fd(); }
};

TEST_P(SocketUploadTest, StalledSendTimesOutAndRestoresTheSocket) {
  StalledUpload up(GetParam());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(up.c.ours->SendFile(*up.file, 700), ERROR_INTERNET_TIMEOUT);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(700));
  EXPECT_LT(took, std::chrono::seconds(5));
  // Non-blocking again, with no send timeout and no unsent-bytes limit.
  EXPECT_NE(::fcntl(up.fd(), F_GETFL) & O_NONBLOCK, 0);
  timeval tv{1, 1};
  socklen_t len = sizeof tv;
  ASSERT_EQ(::getsockopt(up.fd(), SOL_SOCKET, SO_SNDTIMEO, &tv, &len), 0);
  EXPECT_EQ(tv.tv_sec, 0);
  EXPECT_EQ(tv.tv_usec, 0);
  int low_water = -1;
  len = sizeof low_water;
  ASSERT_EQ(::getsockopt(up.fd(), IPPROTO_TCP, TCP_NOTSENT_LOWAT, &low_water,
                         &len),
            0);
  EXPECT_EQ(low_water, 0);
  int no_delay = -1;
  len = sizeof no_delay;
  ASSERT_EQ(::getsockopt(up.fd(), IPPROTO_TCP, TCP_NODELAY, &no_delay, &len),
            0);
  EXPECT_EQ(no_delay, 0);
}

using SocketUploadDeathTest = SocketUploadTest;

INSTANTIATE_TEST_SUITE_P(Paths, SocketUploadDeathTest,
                         ::testing::Values(UploadPath::kZeroCopy,
                                           UploadPath::kCopying));

TEST_P(SocketUploadDeathTest, AnInterruptionEndsASendBlockedOnItsPeer) {
  const UploadPath path = GetParam();
  // In a child process of its own: the interruption's handlers and flag stay
  // for the life of the process. The signal goes to the process, so it may
  // land on the thread that raises it rather than the blocked one.
  EXPECT_EXIT(
      {
        CatchInterrupts();
        StalledUpload up(path);
        std::thread raiser([] {
          std::this_thread::sleep_for(std::chrono::milliseconds(300));
          ::kill(::getpid(), SIGINT);
        });
        const auto start = std::chrono::steady_clock::now();
        const uint32_t e = up.c.ours->SendFile(*up.file, 60000);
        const auto took = std::chrono::steady_clock::now() - start;
        raiser.join();
        std::_Exit(e == ERROR_CANCELLED && took < std::chrono::seconds(2)
                       ? 0
                       : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(SocketStreamTest, SendsFromADescriptorSendfileRefuses) {
  // A pipe is not a file sendfile reads from: the bytes are copied instead.
  Connection c;
  c.socket().set_upload_path(UploadPath::kZeroCopy);
  int p[2];
  ASSERT_EQ(::pipe(p), 0);
  const std::string content = Pattern(40000);
  ASSERT_EQ(::write(p[1], content.data(), content.size()),
            static_cast<ssize_t>(content.size()));
  ::close(p[1]);
  PosixFile pipe_end(p[0]);
  std::string got;
  std::thread reader([&] { got = testsupport::ReadToEnd(c.peer); });
  EXPECT_EQ(c.ours->SendFile(pipe_end, 5000), 0u);
  c.ours->Close();
  reader.join();
  EXPECT_TRUE(got == content);
}

TEST(SocketStreamTest, ReceivesEverythingUntilThePeerCloses) {
  TempDir dir;
  const std::string content = Pattern(5 * 1024 * 1024 + 3);
  // O_APPEND files cannot be spliced into; they take the copying path.
  for (int extra_flags : {0, O_APPEND}) {
    SCOPED_TRACE(extra_flags);
    const std::string path = dir.path() + "/dst" + std::to_string(extra_flags);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | extra_flags, 0600);
    ASSERT_GE(fd, 0);
    {
      PosixFile file(fd);
      Connection c;
      std::thread writer = c.Feed(content);
      uint64_t received = 0;
      EXPECT_EQ(c.ours->ReceiveFile(file, 5000, &received), 0u);
      writer.join();
      EXPECT_EQ(received, content.size());
    }
    EXPECT_TRUE(ReadFile(path) == content);
  }
}

TEST(SocketStreamTest, ReceiveReportsAFullDiskAndASilentPeer) {
  {
    const int fd = ::open("/dev/full", O_WRONLY);
    ASSERT_GE(fd, 0);
    PosixFile file(fd);
    Connection c;
    std::thread writer = c.Feed(Pattern(256 * 1024));
    uint64_t received = 0;
    EXPECT_EQ(c.ours->ReceiveFile(file, 5000, &received), ERROR_DISK_FULL);
    c.ours->Close();
    writer.join();
  }
  {
    TempDir dir;
    PosixFile file(
        ::open((dir.path() + "/dst").c_str(), O_WRONLY | O_CREAT, 0600));
    Connection c;
    ASSERT_EQ(::write(c.peer, "abc", 3), 3);
    uint64_t received = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(c.ours->ReceiveFile(file, 300, &received), ERROR_INTERNET_TIMEOUT);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(received, 3u);
  }
}

TEST_P(SocketUploadTest, SendToAClosedPeerGivesAnErrorNotASignal) {
  // SIGPIPE keeps its default action here, which would end the test process.
  TempDir dir;
  WriteFile(dir.path() + "/src", Pattern(4 * 1024 * 1024));
  PosixFile file(::open((dir.path() + "/src").c_str(), O_RDONLY));
  Connection c;
  c.socket().set_upload_path(GetParam());
  ::close(c.peer);
  c.peer = -1;
  EXPECT_EQ(c.ours->Write("x", 1, 1000), 0u);  // draws the reset
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const uint32_t e = c.ours->SendFile(file, 5000);
  EXPECT_TRUE(e == ERROR_INTERNET_CONNECTION_RESET ||
              e == ERROR_INTERNET_CONNECTION_ABORTED)
      << e;
  sigset_t pending;
  sigpending(&pending);
  EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
}

TEST_P(SocketUploadTest, SendReportsAPeerThatResets) {
  TempDir dir;
  WriteFile(dir.path() + "/src", Pattern(8 * 1024 * 1024));
  PosixFile file(::open((dir.path() + "/src").c_str(), O_RDONLY));
  Connection c;
  c.socket().set_upload_path(GetParam());
  // Closing with unread data and a zero linger sends a reset.
  linger l{1, 0};
  ::setsockopt(c.peer, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  char buf[1024];
  std::thread closer([&] {
    ::recv(c.peer, buf, sizeof buf, 0);
    ::close(c.peer);
    c.peer = -1;
  });
  const uint32_t e = c.ours->SendFile(file, 5000);
  closer.join();
  EXPECT_TRUE(e == ERROR_INTERNET_CONNECTION_RESET ||
              e == ERROR_INTERNET_CONNECTION_ABORTED)
      << e;
}

TEST(SocketStreamTest, TellsAPeerOnThisMachineFromAnyOther) {
  {
    Connection c;
    EXPECT_TRUE(PeerOnThisMachine(c.socket().fd()));
  }
  // Any loopback address, and the machine's own address on another interface
  // where it has one.
  std::vector<in_addr> addresses{in_addr{htonl(0x7f000002)}};  // 127.0.0.2
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) == 0) {
    for (ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
      if (i->ifa_addr != nullptr && i->ifa_addr->sa_family == AF_INET &&
          (i->ifa_flags & IFF_LOOPBACK) == 0 && (i->ifa_flags & IFF_UP) != 0) {
        addresses.push_back(
            reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr);
        break;
      }
    }
    ::freeifaddrs(list);
  }
  for (const in_addr& address : addresses) {
    sockaddr_in here{};
    here.sin_family = AF_INET;
    here.sin_addr = address;
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&here), sizeof here),
              0);
    ASSERT_EQ(::listen(listener, 1), 0);
    socklen_t len = sizeof here;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&here), &len);
    const int client = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(
        ::connect(client, reinterpret_cast<sockaddr*>(&here), sizeof here), 0);
    EXPECT_TRUE(PeerOnThisMachine(client)) << ::inet_ntoa(address);
    ::close(client);
    ::close(listener);
  }
  // Not a network peer at all, and not a connected socket.
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  EXPECT_FALSE(PeerOnThisMachine(pair[0]));
  ::close(pair[0]);
  ::close(pair[1]);
  const int lone = ::socket(AF_INET, SOCK_STREAM, 0);
  EXPECT_FALSE(PeerOnThisMachine(lone));
  ::close(lone);
}

}  // namespace
}  // namespace platform
