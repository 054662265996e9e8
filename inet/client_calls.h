// What every member of FtpClient does around its own steps: the last error
// and the zero result of a failure, names checked for the wire, steps run on
// a connection under its lock; and the client's state behind its handles.
// Internal to the client's units.
#ifndef ZORVEX_INET_CLIENT_CALLS_H_
#define ZORVEX_INET_CLIENT_CALLS_H_

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "inet/control_connection.h"
#include "inet/entry_list.h"
#include "inet/errors.h"
#include "inet/ftp_client.h"
#include "inet/handles.h"
#include "inet/last_error.h"
#include "platform/env.h"
#include "platform/locale.h"

namespace inet {

inline BOOL Succeed() {
  SetLastError(ERROR_SUCCESS);
  return 1;
}

// Sets the thread's last error; converts to the zero result of any member.
struct Failure {
  explicit Failure(DWORD error) { SetLastError(error); }
  operator BOOL() const { return 0; }       // NOLINT
  operator HINTERNET() const { return 0; }  // NOLINT
};

// A name for the control connection: converted from the ANSI code page to
// UTF-8; nullopt when it holds a line break, which would end the command
// early and let the rest pass as a command of its own.
inline std::optional<std::string> WireText(const char* ansi) {
  std::string text = platform::FromAnsi(ansi);
  if (text.find_first_of("\r\n") != std::string::npos) return std::nullopt;
  return text;
}

// An Internet handle's options, read by the connections opened on it.
struct Internet {
  std::mutex mu;
  std::string trust_file;
};

// A search handle's entries, handed out one by one.
struct Search {
  EntryList entries;  // names already in the ANSI code page
  size_t next = 0;
};

using Connection = ControlConnection;

// Runs `steps` on an open connection, under its lock; their error, if any,
// becomes the call's failure.
template <typename Steps>
BOOL OnConnection(const std::shared_ptr<Connection>& conn, Steps&& steps) {
  if (!conn) return Failure(ERROR_INVALID_HANDLE);
  std::lock_guard<std::mutex> lock(conn->mu);
  if (conn->broken() != 0) return Failure(conn->broken());
  if (DWORD e = steps(*conn)) return Failure(e);
  return Succeed();
}

struct FtpClient::Impl {
  mutable std::mutex mu;
  FtpClientOptions options;
  platform::Env* env = nullptr;
  HandleTable handles;

  std::shared_ptr<Internet> GetInternet(HINTERNET h) {
    return handles.Get<Internet>(h, HandleKind::kInternet);
  }
  std::shared_ptr<Connection> GetConnection(HINTERNET h) {
    return handles.Get<Connection>(h, HandleKind::kConnection);
  }
  static void CloseRemoved(const std::vector<HandleTable::Removed>& removed) {
    for (const auto& item : removed) {
      if (item.kind != HandleKind::kConnection) continue;
      auto conn = std::static_pointer_cast<Connection>(item.object);
      std::lock_guard<std::mutex> lock(conn->mu);
      conn->Quit();
    }
  }
};

}  // namespace inet

#endif  // ZORVEX_INET_CLIENT_CALLS_H_
