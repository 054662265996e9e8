// Uses the installed headers and libraries: creates a session object over the
// default FTP client and checks what needs no server.
#include <cstdio>

#include "ftp/date.h"
#include "ftp/nimbrel.h"
#include "inet/errors.h"
#include "inet/ftp_client.h"
#include "platform/locale.h"

int main() {
  zorvex::Nimbrel session;
  int failures = 0;
  session.OnFTPFrr([&](int32_t, const std::string&) { ++failures; });
  session.RemoteHost("127.0.0.1");
  session.CloseSession();  // not connected: nothing to do, nothing raised
  const auto date = zorvex::Date::Parse("2001/3/7 9:5:0");
  inet::FtpClientOptions options;
  options.connect_timeout_ms = 1000;
  inet::FtpClient client(options);
  if (client.GetLastError() != inet::ERROR_SUCCESS ||
      platform::FromAnsi(platform::ToAnsi("a.txt")) != "a.txt") {
    std::fprintf(stderr, "consumer: the client's headers\n");
    return 1;
  }
  if (session.ClassName() != "Nimbrel Class Module" ||
      session.RemotePort() != 21 || session.hFTP() != 0 ||
      session.RemoteHost() != "127.0.0.1" || failures != 0 || !date ||
      date->ToString() != "2001-03-07 09:05:00") {
    std::fprintf(stderr, "consumer: unexpected state\n");
    return 1;
  }
  std::printf("%s %s\n", session.ClassName().c_str(), session.Version().c_str());
  return 0;
}
