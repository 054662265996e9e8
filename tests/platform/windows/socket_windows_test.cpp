// The Windows Env's sockets on loopback: connections over IPv4 and IPv6 with
// their addresses, what a failed connect, a silent peer or a full socket
// gives, a listener that takes only the server's host, and files sent with
// TransmitFile from where their offset stands, and keepalive on a socket.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "platform/env.h"
#include "platform/errors.h"
#include "tests/support/temp_files.h"

namespace platform {
namespace {

using testsupport::PseudoRandomBytes;
using testsupport::TempDir;
using testsupport::WriteFile;

Env* os() { return Env::Default(); }

Address Loopback(const char* host) { return *Address::Parse(host); }

// A connected pair: `client` made by Connect/ConnectTo, `server` accepted.
struct Pair {
  std::unique_ptr<Stream> client;
  std::unique_ptr<Stream> server;
};

Pair Connected(const char* host) {
  Pair pair;
  std::unique_ptr<Listener> listener;
  EXPECT_EQ(os()->Listen(Loopback(host), &listener), 0u);
  if (!listener) return pair;
  EXPECT_EQ(
      os()->ConnectTo(listener->LocalAddress(), nullptr, 5000, &pair.client),
      0u);
  EXPECT_EQ(listener->Accept(5000, Loopback(host), &pair.server), 0u);
  return pair;
}

// Everything `stream` gives until its peer ends it.
std::string ReadToEnd(Stream& stream) {
  std::string out;
  char buf[65536];
  for (;;) {
    size_t got = 0;
    if (stream.Read(buf, sizeof buf, 5000, &got) != 0 || got == 0) return out;
    out.append(buf, got);
  }
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since)
      .count();
}

TEST(WinsockTest, KeepAliveIsSetOnAConnectedSocketOnly) {
  Pair pair = Connected("127.0.0.1");
  ASSERT_TRUE(pair.client && pair.server);
  EXPECT_EQ(pair.client->SetKeepAlive(60, 15), 0u);
  pair.client->Close();
  EXPECT_NE(pair.client->SetKeepAlive(60, 15), 0u);
}

TEST(WinsockTest, ConnectionsOverIPv4AndIPv6CarryBytesBothWays) {
  for (const char* host : {"127.0.0.1", "::1"}) {
    SCOPED_TRACE(host);
    Pair pair = Connected(host);
    ASSERT_TRUE(pair.client && pair.server);
    EXPECT_EQ(pair.client->PeerAddress().Host(), host);
    EXPECT_EQ(pair.client->PeerAddress().port,
              pair.server->LocalAddress().port);
    EXPECT_EQ(pair.server->PeerAddress().port,
              pair.client->LocalAddress().port);
    ASSERT_EQ(pair.client->Write("220 hello\r\n", 11, 1000), 0u);
    ASSERT_EQ(pair.client->Shutdown(1000), 0u);
    EXPECT_EQ(ReadToEnd(*pair.server), "220 hello\r\n");
    ASSERT_EQ(pair.server->Write("bye", 3, 1000), 0u);
    pair.server->Close();
    EXPECT_EQ(ReadToEnd(*pair.client), "bye");
  }
  // By name, through the system's resolver.
  std::unique_ptr<Listener> listener;
  ASSERT_EQ(os()->Listen(Loopback("127.0.0.1"), &listener), 0u);
  std::unique_ptr<Stream> by_name, accepted;
  EXPECT_EQ(
      os()->Connect("127.0.0.1", listener->LocalAddress().port, 5000, &by_name),
      0u);
  EXPECT_EQ(listener->Accept(5000, Loopback("127.0.0.1"), &accepted), 0u);
}

TEST(WinsockTest, FailuresAndTimeoutsHaveTheirNumbers) {
  std::unique_ptr<Stream> stream;
  // Nobody listens on a port just given up.
  uint16_t closed_port = 0;
  {
    std::unique_ptr<Listener> gone;
    ASSERT_EQ(os()->Listen(Loopback("127.0.0.1"), &gone), 0u);
    closed_port = gone->LocalAddress().port;
  }
  EXPECT_EQ(os()->Connect("127.0.0.1", closed_port, 5000, &stream),
            ERROR_INTERNET_CANNOT_CONNECT);
  Address closed = Loopback("::1");
  closed.port = closed_port;
  EXPECT_EQ(os()->ConnectTo(closed, nullptr, 5000, &stream),
            ERROR_INTERNET_CANNOT_CONNECT);

  // A peer that says nothing: the read ends with the timeout, not before.
  Pair pair = Connected("127.0.0.1");
  ASSERT_TRUE(pair.client && pair.server);
  char buf[16];
  size_t got = 0;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(pair.client->Read(buf, sizeof buf, 300, &got),
            ERROR_INTERNET_TIMEOUT);
  EXPECT_GE(Seconds(start), 0.25);
  EXPECT_LT(Seconds(start), 5.0);
  // A peer that reads nothing: writing ends once the socket stays full.
  const std::string block(1 << 20, 'w');
  uint32_t e = 0;
  start = std::chrono::steady_clock::now();
  for (int i = 0; i < 1024 && e == 0; ++i)
    e = pair.client->Write(block.data(), block.size(), 300);
  EXPECT_EQ(e, ERROR_INTERNET_TIMEOUT);
  EXPECT_LT(Seconds(start), 30.0);
  // A stream that was closed says so.
  pair.client->Close();
  EXPECT_EQ(pair.client->Read(buf, sizeof buf, 100, &got),
            ERROR_INTERNET_CONNECTION_ABORTED);
}

TEST(WinsockTest, ListenerTakesOnlyTheAllowedHost) {
  std::unique_ptr<Listener> listener;
  ASSERT_EQ(os()->Listen(Loopback("127.0.0.1"), &listener), 0u);
  const Address server_host = Loopback("127.0.0.1");
  // A connection from another loopback address is closed, and the wait for
  // the server's goes on until its timeout.
  std::unique_ptr<Stream> foreign;
  const Address other = Loopback("127.0.0.2");
  ASSERT_EQ(os()->ConnectTo(listener->LocalAddress(), &other, 5000, &foreign),
            0u);
  EXPECT_EQ(foreign->LocalAddress().Host(), "127.0.0.2");
  std::unique_ptr<Stream> accepted;
  EXPECT_EQ(listener->Accept(500, server_host, &accepted),
            ERROR_INTERNET_TIMEOUT);
  EXPECT_EQ(ReadToEnd(*foreign), "");  // it was closed, unserved
  // The foreign one first, then the server's: only the server's is taken.
  ASSERT_EQ(os()->ConnectTo(listener->LocalAddress(), &other, 5000, &foreign),
            0u);
  std::unique_ptr<Stream> own;
  ASSERT_EQ(os()->ConnectTo(listener->LocalAddress(), &server_host, 5000, &own),
            0u);
  ASSERT_EQ(listener->Accept(5000, server_host, &accepted), 0u);
  EXPECT_EQ(accepted->PeerAddress().port, own->LocalAddress().port);
}

TEST(WinsockTest, SendFileSendsFromTheFilesOffsetToItsEnd) {
  TempDir dir;
  const std::string bytes = PseudoRandomBytes(3 * 1024 * 1024 + 17, 'w');
  WriteFile(dir / "up.bin", bytes);
  for (const char* host : {"127.0.0.1", "::1"}) {
    SCOPED_TRACE(host);
    Pair pair = Connected(host);
    ASSERT_TRUE(pair.client && pair.server);
    std::unique_ptr<File> file;
    ASSERT_EQ(os()->OpenForReading(dir / "up.bin", &file), 0u);
    char head[1000];
    size_t got = 0;
    ASSERT_EQ(file->Read(head, sizeof head, &got), 0u);
    ASSERT_EQ(got, sizeof head);
    std::string received;
    std::thread reader([&] { received = ReadToEnd(*pair.server); });
    EXPECT_EQ(pair.client->SendFile(*file, 5000), 0u);
    pair.client->Shutdown(1000);
    reader.join();
    EXPECT_TRUE(received == bytes.substr(sizeof head))
        << received.size() << " bytes";
    // The file's offset is at its end, as after a copying loop.
    EXPECT_EQ(file->Read(head, sizeof head, &got), 0u);
    EXPECT_EQ(got, 0u);
  }
}

TEST(WinsockTest, SendFileToAPeerThatReadsNothingTimesOut) {
  TempDir dir;
  WriteFile(dir / "big.bin", PseudoRandomBytes(64 * 1024 * 1024, 'w'));
  Pair pair = Connected("127.0.0.1");
  ASSERT_TRUE(pair.client && pair.server);
  std::unique_ptr<File> file;
  ASSERT_EQ(os()->OpenForReading(dir / "big.bin", &file), 0u);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(pair.client->SendFile(*file, 500), ERROR_INTERNET_TIMEOUT);
  EXPECT_LT(Seconds(start), 30.0);
}

TEST(WinsockTest, SendFileToAPeerThatGoesAwayFails) {
  TempDir dir;
  WriteFile(dir / "big.bin", PseudoRandomBytes(64 * 1024 * 1024, 'w'));
  Pair pair = Connected("127.0.0.1");
  ASSERT_TRUE(pair.client && pair.server);
  std::unique_ptr<File> file;
  ASSERT_EQ(os()->OpenForReading(dir / "big.bin", &file), 0u);
  std::thread reader([&] {
    char buf[65536];
    size_t got = 0;
    for (size_t total = 0; total < 100000; total += got)
      if (pair.server->Read(buf, sizeof buf, 5000, &got) != 0 || got == 0)
        break;
    pair.server->Close();  // unread bytes left: the peer resets
  });
  const auto start = std::chrono::steady_clock::now();
  const uint32_t e = pair.client->SendFile(*file, 20000);
  reader.join();
  EXPECT_TRUE(e == ERROR_INTERNET_CONNECTION_RESET ||
              e == ERROR_INTERNET_CONNECTION_ABORTED)
      << e;
  EXPECT_LT(Seconds(start), 10.0);
}

}  // namespace
}  // namespace platform
