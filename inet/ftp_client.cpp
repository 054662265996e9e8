// FtpClient: the Internet FTP service over POSIX sockets.
//
// A connection handle owns one control connection. Each operation sends its
// commands and reads the replies under the connection's lock; every reply read
// becomes the calling thread's last response. A reply that refuses an
// operation (4xx, 5xx, or a code that does not fit the command) fails it with
// ERROR_INTERNET_EXTENDED_ERROR. After a timeout, a lost control connection or
// a reply that does not parse, the connection is closed on our side and every
// later call on it fails at once with ERROR_INTERNET_CONNECTION_ABORTED (or
// _RESET when the peer reset it); only closing its handle is left to do.
#include "inet/ftp_client.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "inet/codepage.h"
#include "inet/data_address.h"
#include "inet/entry_list.h"
#include "inet/errors.h"
#include "inet/file_transfer.h"
#include "inet/filetime.h"
#include "inet/handles.h"
#include "inet/last_error.h"
#include "inet/line_ends.h"
#include "inet/listing.h"
#include "inet/local_file.h"
#include "inet/message_table.h"
#include "inet/reply.h"
#include "inet/socket.h"
#include "inet/wildcard.h"

namespace inet {
namespace {

constexpr size_t kTransferBuffer = 64 * 1024;
// ASCII transfers convert every byte; larger chunks mean fewer system calls.
constexpr size_t kAsciiBuffer = 256 * 1024;
// Preliminary (1xx) replies tolerated before the reply that ends a command.
constexpr int kMaxPreliminary = 16;
constexpr BOOL kTrue = 1;

BOOL Succeed() {
  SetLastError(ERROR_SUCCESS);
  return kTrue;
}

// Sets the thread's last error; returns the zero result of any operation.
struct Failure {
  explicit Failure(DWORD error) { SetLastError(error); }
  operator BOOL() const { return 0; }          // NOLINT
  operator HINTERNET() const { return 0; }     // NOLINT (same type as DWORD)
};

// A name for the control connection: converted from the ANSI code page to
// UTF-8; nullopt when it holds a line break, which would end the command
// early and let the rest pass as a command of its own.
std::optional<std::string> WireText(const char* ansi) {
  std::string text = FromAnsi(ansi);
  if (text.find_first_of("\r\n") != std::string::npos) return std::nullopt;
  return text;
}

void FillFindData(const EntryList::Entry& entry, WIN32_FIND_DATAA* out) {
  *out = WIN32_FIND_DATAA{};
  out->dwFileAttributes =
      entry.is_directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
  out->ftLastWriteTime = entry.mtime;
  out->nFileSizeHigh = static_cast<DWORD>(entry.size >> 32);
  out->nFileSizeLow = static_cast<DWORD>(entry.size & 0xFFFFFFFFu);
  std::memcpy(out->cFileName, entry.name.data(), entry.name.size());
  out->cFileName[entry.name.size()] = '\0';
}

struct Internet {};

struct Search {
  EntryList entries;  // names already in the ANSI code page
  size_t next = 0;
};

// Moves the bytes of one transfer: returns 0, a local file error (below
// 12000) or a network error.
using Pump = std::function<DWORD(const Reply& preliminary, Socket& data)>;

class Connection {
 public:
  std::mutex mu;
  FtpClientOptions options;
  bool passive = false;
  Socket control;
  Endpoint peer;   // the server's end of the control connection
  Endpoint local;  // ours
  DWORD broken = 0;  // non-zero: unusable; the error every call gives

  DWORD Login(const std::string& host, uint16_t port, const std::string& user,
              const std::string& password);
  DWORD Command(const std::string& command, Reply* reply);
  // The reply to a simple command must be of the given kind (2 or 3).
  DWORD Expect(const std::string& command, int kind, Reply* reply = nullptr);
  DWORD SetType(char type);
  DWORD Transfer(const std::string& command, const Pump& pump, Reply* last);
  DWORD List(const std::string& path,
             const std::function<bool(const ListEntry&)>& keep,
             EntryList* out, Reply* last);
  // Logs out (QUIT, waiting briefly for 221) and closes. After a failed
  // login the refusing reply stays the thread's last response.
  void Quit(bool keep_last_response = false);

 private:
  DWORD Send(const std::string& command, int timeout_ms);
  DWORD ReadReply(Reply* reply, int timeout_ms);
  DWORD PrepareData(Socket* listener, Socket* data);
  void Feat();
  void Break(DWORD error) {
    if (broken == 0)
      broken = error == ERROR_INTERNET_CONNECTION_RESET
                   ? ERROR_INTERNET_CONNECTION_RESET
                   : ERROR_INTERNET_CONNECTION_ABORTED;
    control.Close();
  }

  LineSplitter lines_{kMaxReplyLine};
  char type_ = 0;  // 'A', 'I', or 0 before the first TYPE
  bool epsv_refused_ = false;
  bool eprt_refused_ = false;
  bool feat_done_ = false;
  bool has_mlst_ = false;
  bool mlsd_refused_ = false;
};

DWORD Connection::Send(const std::string& command, int timeout_ms) {
  if (broken != 0) return broken;
  std::string line = command;
  line.append("\r\n");
  DWORD e = control.SendAll(line.data(), line.size(), timeout_ms);
  if (e != 0) Break(e);
  return e;
}

DWORD Connection::ReadReply(Reply* reply, int timeout_ms) {
  if (broken != 0) return broken;
  // The whole reply must arrive within the timeout, so that a server that
  // trickles an endless reply cannot hold the call.
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(timeout_ms);
  ReplyAssembler assembler;
  std::string line;
  for (;;) {
    switch (lines_.Next(&line)) {
      case LineSplitter::Status::kLine:
        switch (assembler.Add(line)) {
          case ReplyAssembler::Status::kDone:
            *reply = assembler.Take();
            SetLastResponse(static_cast<DWORD>(reply->code), reply->text);
            return 0;
          case ReplyAssembler::Status::kError:
            Break(ERROR_INTERNET_CONNECTION_ABORTED);
            return ERROR_INTERNET_CONNECTION_ABORTED;
          case ReplyAssembler::Status::kNeedMore:
            continue;
        }
        continue;
      case LineSplitter::Status::kTooLong:
        Break(ERROR_INTERNET_CONNECTION_ABORTED);
        return ERROR_INTERNET_CONNECTION_ABORTED;
      case LineSplitter::Status::kNeedMore:
        break;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) {
      Break(ERROR_INTERNET_TIMEOUT);
      return ERROR_INTERNET_TIMEOUT;
    }
    char buf[4096];
    size_t got = 0;
    DWORD e = control.Recv(buf, sizeof buf, static_cast<int>(left), &got);
    if (e == 0 && got == 0) e = ERROR_INTERNET_CONNECTION_ABORTED;
    if (e != 0) {
      Break(e);
      return e;
    }
    lines_.Append(std::string_view(buf, got));
  }
}

DWORD Connection::Command(const std::string& command, Reply* reply) {
  DWORD e = Send(command, options.io_timeout_ms);
  if (e != 0) return e;
  for (int i = 0; i <= kMaxPreliminary; ++i) {
    e = ReadReply(reply, options.io_timeout_ms);
    if (e != 0 || reply->kind() != 1) return e;
  }
  return ERROR_INTERNET_EXTENDED_ERROR;
}

DWORD Connection::Expect(const std::string& command, int kind, Reply* reply) {
  Reply r;
  DWORD e = Command(command, &r);
  if (e != 0) return e;
  if (reply != nullptr) *reply = r;
  return r.kind() == kind ? 0 : ERROR_INTERNET_EXTENDED_ERROR;
}

DWORD Connection::Login(const std::string& host, uint16_t port,
                        const std::string& user, const std::string& password) {
  DWORD e = Socket::Connect(host, port, options.connect_timeout_ms, &control);
  if (e != 0) return e;
  if ((e = control.PeerEndpoint(&peer)) != 0 ||
      (e = control.LocalEndpoint(&local)) != 0)
    return e;
  Reply r;
  // A 120 ("service ready in a few minutes") may come before the 220.
  for (int i = 0;; ++i) {
    if ((e = ReadReply(&r, options.connect_timeout_ms)) != 0) return e;
    if (r.kind() != 1) break;
    if (i == kMaxPreliminary) return ERROR_INTERNET_EXTENDED_ERROR;
  }
  if (r.kind() != 2) return ERROR_INTERNET_EXTENDED_ERROR;
  if ((e = Command("USER " + user, &r)) != 0) return e;
  if (r.kind() == 2) return 0;
  if (r.code != 331) return ERROR_INTERNET_EXTENDED_ERROR;  // 332: no ACCT
  if ((e = Command("PASS " + password, &r)) != 0) return e;
  return r.kind() == 2 ? 0 : ERROR_INTERNET_EXTENDED_ERROR;
}

void Connection::Quit(bool keep_last_response) {
  if (broken == 0 && control.valid()) {
    const LastResponse saved = ThreadLastResponse();
    Reply r;
    if (Send("QUIT", options.quit_timeout_ms) == 0)
      ReadReply(&r, options.quit_timeout_ms);
    if (keep_last_response) SetLastResponse(saved.code, saved.text);
  }
  control.Close();
  broken = ERROR_INVALID_HANDLE;
}

DWORD Connection::SetType(char type) {
  if (type_ == type) return 0;
  DWORD e = Expect(std::string("TYPE ") + type, 2);
  if (e == 0) type_ = type;
  return e;
}

// Opens the data connection: in passive mode connected to the server, in
// active mode a listening socket that the server has been told about.
DWORD Connection::PrepareData(Socket* listener, Socket* data) {
  Reply r;
  DWORD e;
  if (passive) {
    std::optional<uint16_t> port;
    if (!epsv_refused_) {
      if ((e = Command("EPSV", &r)) != 0) return e;
      if (r.code == 229) {
        port = ParseEpsvPort(r.text);
        if (!port) return ERROR_INTERNET_EXTENDED_ERROR;
      } else if (r.kind() == 5) {
        epsv_refused_ = true;
      } else {
        return ERROR_INTERNET_EXTENDED_ERROR;
      }
    }
    if (!port) {
      if ((e = Command("PASV", &r)) != 0) return e;
      if (r.code != 227) return ERROR_INTERNET_EXTENDED_ERROR;
      port = ParsePasvPort(r.text);
      if (!port) return ERROR_INTERNET_EXTENDED_ERROR;
    }
    // Always the control connection's peer: the host that a 227 reply
    // names is ignored, so a server cannot aim the client at a third host.
    Endpoint remote = peer;
    remote.set_port(*port);
    e = Socket::ConnectTo(remote, &local, options.connect_timeout_ms, data);
    return e;
  }
  if ((e = Socket::Listen(local, listener)) != 0) return e;
  Endpoint bound;
  if ((e = listener->LocalEndpoint(&bound)) != 0) return e;
  const bool ipv6 = bound.family() == AF_INET6;
  if (!eprt_refused_ || ipv6) {
    if ((e = Command("EPRT " + FormatEprtArgument(ipv6, bound.host(),
                                                  bound.port()),
                     &r)) != 0)
      return e;
    if (r.kind() == 2) return 0;
    if (r.kind() != 5 || ipv6) return ERROR_INTERNET_EXTENDED_ERROR;
    eprt_refused_ = true;
  }
  if ((e = Command("PORT " + FormatPortArgument(bound.host(), bound.port()),
                   &r)) != 0)
    return e;
  return r.kind() == 2 ? 0 : ERROR_INTERNET_EXTENDED_ERROR;
}

DWORD Connection::Transfer(const std::string& command, const Pump& pump,
                           Reply* last) {
  Socket listener, data;
  DWORD e = PrepareData(&listener, &data);
  if (e != 0) return e;
  if ((e = Send(command, options.io_timeout_ms)) != 0) return e;
  if ((e = ReadReply(last, options.io_timeout_ms)) != 0) return e;
  if (last->kind() != 1) return ERROR_INTERNET_EXTENDED_ERROR;
  const Reply preliminary = *last;
  DWORD data_error = 0;
  if (!passive) {
    data_error = listener.Accept(options.io_timeout_ms, peer, &data);
    listener.Close();
  }
  if (data_error == 0) data_error = pump(preliminary, data);
  // Closing our end ends an upload; after a failure it tells the server to
  // give up, and its reply then says how the transfer ended.
  data.Close();
  if ((e = ReadReply(last, options.io_timeout_ms)) != 0) return e;
  if (data_error != 0) {
    if (data_error >= 12000 && last->kind() >= 4)
      return ERROR_INTERNET_EXTENDED_ERROR;
    return data_error;
  }
  if (last->code != 226 && last->code != 250)
    return ERROR_INTERNET_EXTENDED_ERROR;
  return 0;
}

void Connection::Feat() {
  if (feat_done_) return;
  feat_done_ = true;
  Reply r;
  if (Command("FEAT", &r) != 0 || r.kind() != 2) return;
  size_t pos = 0;
  while (pos < r.text.size()) {
    size_t end = r.text.find("\r\n", pos);
    if (end == std::string::npos) end = r.text.size();
    std::string_view line(r.text.data() + pos, end - pos);
    pos = end + 2;
    size_t i = 0;
    while (i < line.size() && line[i] == ' ') ++i;
    if (i == 0) continue;  // the first and last lines carry the code
    std::string word(line.substr(i, line.find(' ', i) - i));
    for (char& c : word) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (word == "MLST") has_mlst_ = true;
  }
}

DWORD Connection::List(const std::string& path,
                       const std::function<bool(const ListEntry&)>& keep,
                       EntryList* out, Reply* last) {
  if (options.use_mlsd && !mlsd_refused_) Feat();
  if (broken != 0) return broken;
  for (;;) {
    const bool mlsd = options.use_mlsd && has_mlst_ && !mlsd_refused_;
    const std::string command =
        std::string(mlsd ? "MLSD" : "LIST") + (path.empty() ? "" : " " + path);
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    *out = EntryList();
    ListingLineSplitter splitter;
    auto on_line = [&](std::string_view line) {
      std::optional<ListEntry> entry =
          mlsd ? ParseMlsdLine(line) : ParseListLine(line, now);
      if (!entry || entry->name.empty() || entry->name == "." ||
          entry->name == "..")
        return;
      if (keep(*entry)) out->Add(*entry);
    };
    Pump pump = [&](const Reply&, Socket& data) -> DWORD {
      std::vector<char> buf(kTransferBuffer);
      for (;;) {
        size_t got = 0;
        DWORD e = data.Recv(buf.data(), buf.size(), options.io_timeout_ms, &got);
        if (e != 0) return e;
        if (got == 0) break;
        splitter.Feed(std::string_view(buf.data(), got), on_line);
      }
      splitter.Finish(on_line);
      return 0;
    };
    DWORD e = Transfer(command, pump, last);
    // A server that announced MLST but does not take MLSD after all.
    if (e == ERROR_INTERNET_EXTENDED_ERROR && mlsd &&
        (last->code == 500 || last->code == 502)) {
      mlsd_refused_ = true;
      continue;
    }
    return e;
  }
}

}  // namespace

struct FtpClient::Impl {
  mutable std::mutex mu;
  FtpClientOptions options;
  HandleTable handles;

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
  BOOL Search(Connection& conn, const char* search, WIN32_FIND_DATAA* data,
              std::shared_ptr<inet::Search>* result);
};

FtpClient::FtpClient(FtpClientOptions options) : impl_(std::make_unique<Impl>()) {
  impl_->options = options;
}

FtpClient::~FtpClient() { Impl::CloseRemoved(impl_->handles.RemoveAll()); }

void FtpClient::SetOptions(const FtpClientOptions& options) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->options = options;
}

FtpClientOptions FtpClient::options() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->options;
}

HINTERNET FtpClient::InternetOpenA(const char*, DWORD dwAccessType,
                                   const char*, const char*, DWORD) {
  // Preconfigured (0), direct (1) and preconfigured without auto-proxy (4)
  // all connect directly; a named proxy (3) is not supported.
  if (dwAccessType != 0 && dwAccessType != 1 && dwAccessType != 4)
    return Failure(ERROR_INVALID_PARAMETER);
  HINTERNET h = impl_->handles.Add(HandleKind::kInternet, 0,
                                   std::make_shared<Internet>());
  if (h == 0) return Failure(ERROR_INTERNET_OUT_OF_HANDLES);
  SetLastError(ERROR_SUCCESS);
  return h;
}

HINTERNET FtpClient::InternetConnectA(HINTERNET hInternet,
                                      const char* lpszServerName,
                                      INTERNET_PORT nServerPort,
                                      const char* lpszUserName,
                                      const char* lpszPassword,
                                      DWORD dwService, DWORD dwFlags,
                                      DWORD_PTR) {
  if (!impl_->handles.Find(hInternet, HandleKind::kInternet))
    return Failure(ERROR_INVALID_HANDLE);
  if (dwService != INTERNET_SERVICE_FTP) return Failure(ERROR_INVALID_PARAMETER);
  if (nServerPort < 0 || nServerPort > 65535)
    return Failure(ERROR_INVALID_PARAMETER);
  // No host at all cannot be resolved either.
  if (lpszServerName == nullptr || *lpszServerName == '\0')
    return Failure(ERROR_INTERNET_NAME_NOT_RESOLVED);
  std::string host = FromAnsi(lpszServerName);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  const uint16_t port = static_cast<uint16_t>(
      nServerPort == 0 ? INTERNET_DEFAULT_FTP_PORT : nServerPort);
  // No user: anonymous, with the conventional e-mail-like password.
  std::optional<std::string> user =
      lpszUserName ? WireText(lpszUserName) : std::string("anonymous");
  std::optional<std::string> password =
      lpszPassword ? WireText(lpszPassword)
                   : std::string(lpszUserName ? "" : "anonymous@");
  if (!user || !password) return Failure(ERROR_INVALID_PARAMETER);

  auto conn = std::make_shared<Connection>();
  conn->options = options();
  conn->passive = (dwFlags & INTERNET_FLAG_PASSIVE) != 0;
  DWORD e;
  {
    std::lock_guard<std::mutex> lock(conn->mu);
    e = conn->Login(host, port, *user, *password);
    if (e != 0) conn->Quit(/*keep_last_response=*/true);
  }
  if (e != 0) return Failure(e);
  HINTERNET h = impl_->handles.Add(HandleKind::kConnection, hInternet, conn);
  if (h == 0 || !impl_->handles.Contains(hInternet)) {
    // The Internet handle was closed meanwhile, or no handle is left.
    if (h != 0) impl_->handles.Remove(h);
    std::lock_guard<std::mutex> lock(conn->mu);
    conn->Quit();
    return Failure(h == 0 ? ERROR_INTERNET_OUT_OF_HANDLES : ERROR_INVALID_HANDLE);
  }
  SetLastError(ERROR_SUCCESS);
  return h;
}

BOOL FtpClient::InternetCloseHandle(HINTERNET hInternet) {
  auto removed = impl_->handles.Remove(hInternet);
  if (removed.empty()) return Failure(ERROR_INVALID_HANDLE);
  Impl::CloseRemoved(removed);
  return Succeed();
}

BOOL FtpClient::FtpPutFileA(HINTERNET hConnect, const char* lpszLocalFile,
                            const char* lpszNewRemoteFile, DWORD dwFlags,
                            DWORD_PTR) {
  auto conn = impl_->GetConnection(hConnect);
  if (!conn) return Failure(ERROR_INVALID_HANDLE);
  if (lpszLocalFile == nullptr || lpszNewRemoteFile == nullptr ||
      *lpszLocalFile == '\0')
    return Failure(ERROR_INVALID_PARAMETER);
  std::optional<std::string> remote = WireText(lpszNewRemoteFile);
  if (!remote) return Failure(ERROR_INVALID_NAME);

  // The local file is opened before anything goes to the server.
  const std::string local = lpszLocalFile;
  int fd = ::open(local.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    const int err = errno;
    if (err == ENOENT && !IsDirectory(ParentOf(local)))
      return Failure(ERROR_PATH_NOT_FOUND);
    return Failure(FileErrno(err, ERROR_FILE_NOT_FOUND));
  }
  struct FdCloser {
    int fd;
    ~FdCloser() { ::close(fd); }
  } closer{fd};
  struct stat st;
  if (::fstat(fd, &st) != 0) return Failure(ERROR_READ_FAULT);
  if (!S_ISREG(st.st_mode)) return Failure(ERROR_ACCESS_DENIED);
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);

  std::lock_guard<std::mutex> lock(conn->mu);
  if (conn->broken != 0) return Failure(conn->broken);
  const bool ascii = (dwFlags & 3) == FTP_TRANSFER_TYPE_ASCII;
  DWORD e = conn->SetType(ascii ? 'A' : 'I');
  if (e != 0) return Failure(e);

  const int io_timeout = conn->options.io_timeout_ms;
  Pump pump = [&](const Reply&, Socket& data) -> DWORD {
    if (!ascii) return SendFileData(data, fd, io_timeout);
    std::vector<char> buf(kAsciiBuffer);
    std::vector<char> converted(LfToCrlf::MaxOutput(buf.size()));
    LfToCrlf to_crlf;
    for (;;) {
      ssize_t n = ::read(fd, buf.data(), buf.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        return ERROR_READ_FAULT;
      }
      if (n == 0) return 0;
      const size_t size = to_crlf.Convert(buf.data(), static_cast<size_t>(n),
                                          converted.data());
      if (DWORD err = data.SendAll(converted.data(), size, io_timeout))
        return err;
    }
  };
  Reply last;
  e = conn->Transfer("STOR " + *remote, pump, &last);
  if (e != 0) return Failure(e);
  return Succeed();
}

BOOL FtpClient::FtpGetFileA(HINTERNET hConnect, const char* lpszRemoteFile,
                            const char* lpszNewFile, BOOL fFailIfExists,
                            DWORD, DWORD dwFlags, DWORD_PTR) {
  auto conn = impl_->GetConnection(hConnect);
  if (!conn) return Failure(ERROR_INVALID_HANDLE);
  if (lpszRemoteFile == nullptr || lpszNewFile == nullptr ||
      *lpszNewFile == '\0')
    return Failure(ERROR_INVALID_PARAMETER);
  std::optional<std::string> remote = WireText(lpszRemoteFile);
  if (!remote) return Failure(ERROR_INVALID_NAME);

  const std::string target = lpszNewFile;
  const size_t slash = target.find_last_of('/');
  const std::string base =
      slash == std::string::npos ? target : target.substr(slash + 1);
  if (base.empty() || base == "." || base == "..")
    return Failure(ERROR_INVALID_NAME);
  struct stat st;
  const bool exists = ::lstat(target.c_str(), &st) == 0;
  if (exists && fFailIfExists) return Failure(ERROR_FILE_EXISTS);
  if (exists && S_ISDIR(st.st_mode)) return Failure(ERROR_ACCESS_DENIED);

  // The download goes to a temporary file beside the target, which replaces
  // the target only once the whole file has arrived: a failed transfer never
  // destroys the copy the user already has.
  const std::string dir = ParentOf(target);
  std::string temp = (slash == std::string::npos ? std::string()
                                                 : target.substr(0, slash + 1)) +
                     "." + base.substr(0, 200) + ".zvx-XXXXXX";
  int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    return Failure(err == ENOENT ? ERROR_PATH_NOT_FOUND
                                 : FileErrno(err, ERROR_WRITE_FAULT));
  }
  bool keep_temp = false;
  struct TempGuard {
    int& fd;
    const std::string& path;
    bool& keep;
    ~TempGuard() {
      if (fd >= 0) ::close(fd);
      if (!keep) ::unlink(path.c_str());
    }
  } guard{fd, temp, keep_temp};
  const mode_t mode = (exists && S_ISREG(st.st_mode))
                          ? (st.st_mode & 07777)
                          : (0666 & ~CurrentUmask());
  ::fchmod(fd, mode);

  std::lock_guard<std::mutex> lock(conn->mu);
  if (conn->broken != 0) return Failure(conn->broken);
  const bool ascii = (dwFlags & 3) == FTP_TRANSFER_TYPE_ASCII;
  DWORD e = conn->SetType(ascii ? 'A' : 'I');
  if (e != 0) return Failure(e);

  std::optional<uint64_t> expected;
  if (!ascii) {
    // The size, where the server tells it, lets a cut transfer be caught
    // even when the server reports success.
    Reply r;
    if ((e = conn->Command("SIZE " + *remote, &r)) != 0) return Failure(e);
    if (r.code == 213) expected = ParseSizeReply(r.text);
  }
  uint64_t received = 0;
  const int io_timeout = conn->options.io_timeout_ms;
  Pump pump = [&](const Reply& preliminary, Socket& data) -> DWORD {
    if (!ascii) {
      if (!expected) expected = ParseAnnouncedSize(preliminary.text);
      return ReceiveFileData(data, fd, io_timeout, &received);
    }
    std::vector<char> buf(kAsciiBuffer);
    std::vector<char> converted(CrlfToLf::MaxOutput(buf.size()));
    CrlfToLf to_lf;
    for (;;) {
      size_t got = 0;
      DWORD err = data.Recv(buf.data(), buf.size(), io_timeout, &got);
      if (err != 0) return err;
      if (got == 0) break;
      received += got;
      // A server that stores LF text and does not convert sends it as is.
      if (to_lf.Unchanged(buf.data(), got)) {
        err = WriteAll(fd, buf.data(), got);
      } else {
        const size_t size = to_lf.Convert(buf.data(), got, converted.data());
        err = WriteAll(fd, converted.data(), size);
      }
      if (err != 0) return err;
    }
    std::string rest;
    to_lf.Finish(&rest);
    return WriteAll(fd, rest.data(), rest.size());
  };
  Reply last;
  e = conn->Transfer("RETR " + *remote, pump, &last);
  if (e != 0) return Failure(e);
  if (expected && received != *expected)
    return Failure(ERROR_INTERNET_CONNECTION_ABORTED);
  if (::fsync(fd) != 0) return Failure(FileErrno(errno, ERROR_WRITE_FAULT));
  const int closed = ::close(fd);
  fd = -1;
  if (closed != 0) return Failure(FileErrno(errno, ERROR_WRITE_FAULT));

  if (fFailIfExists) {
    // link() never replaces: a file that appeared during the download stays.
    if (::link(temp.c_str(), target.c_str()) != 0) {
      if (errno == EEXIST) return Failure(ERROR_FILE_EXISTS);
      if (::lstat(target.c_str(), &st) == 0) return Failure(ERROR_FILE_EXISTS);
      if (::rename(temp.c_str(), target.c_str()) != 0)
        return Failure(FileErrno(errno, ERROR_WRITE_FAULT));
      keep_temp = true;
    }
  } else if (::rename(temp.c_str(), target.c_str()) != 0) {
    return Failure(FileErrno(errno, ERROR_WRITE_FAULT));
  } else {
    keep_temp = true;
  }
  int dir_fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd >= 0) {
    ::fsync(dir_fd);
    ::close(dir_fd);
  }
  return Succeed();
}

namespace {

// Runs a command on a connection handle whose reply must be of `kind`.
template <typename Fn>
BOOL OnConnection(const std::shared_ptr<Connection>& conn, Fn&& fn) {
  if (!conn) return Failure(ERROR_INVALID_HANDLE);
  std::lock_guard<std::mutex> lock(conn->mu);
  if (conn->broken != 0) return Failure(conn->broken);
  DWORD e = fn(*conn);
  if (e != 0) return Failure(e);
  return Succeed();
}

BOOL SimpleCommand(const std::shared_ptr<Connection>& conn, const char* verb,
                   const char* name) {
  if (!conn) return Failure(ERROR_INVALID_HANDLE);
  if (name == nullptr) return Failure(ERROR_INVALID_PARAMETER);
  std::optional<std::string> wire = WireText(name);
  if (!wire) return Failure(ERROR_INVALID_NAME);
  return OnConnection(conn, [&](Connection& c) {
    return c.Expect(std::string(verb) + " " + *wire, 2);
  });
}

}  // namespace

BOOL FtpClient::FtpRenameFileA(HINTERNET hConnect, const char* lpszExisting,
                               const char* lpszNew) {
  auto conn = impl_->GetConnection(hConnect);
  if (!conn) return Failure(ERROR_INVALID_HANDLE);
  if (lpszExisting == nullptr || lpszNew == nullptr)
    return Failure(ERROR_INVALID_PARAMETER);
  std::optional<std::string> from = WireText(lpszExisting);
  std::optional<std::string> to = WireText(lpszNew);
  if (!from || !to) return Failure(ERROR_INVALID_NAME);
  return OnConnection(conn, [&](Connection& c) {
    DWORD e = c.Expect("RNFR " + *from, 3);
    if (e == 0) e = c.Expect("RNTO " + *to, 2);
    return e;
  });
}

BOOL FtpClient::FtpDeleteFileA(HINTERNET hConnect, const char* lpszFileName) {
  return SimpleCommand(impl_->GetConnection(hConnect), "DELE", lpszFileName);
}

BOOL FtpClient::FtpCreateDirectoryA(HINTERNET hConnect,
                                    const char* lpszDirectory) {
  return SimpleCommand(impl_->GetConnection(hConnect), "MKD", lpszDirectory);
}

BOOL FtpClient::FtpRemoveDirectoryA(HINTERNET hConnect,
                                    const char* lpszDirectory) {
  return SimpleCommand(impl_->GetConnection(hConnect), "RMD", lpszDirectory);
}

BOOL FtpClient::FtpSetCurrentDirectoryA(HINTERNET hConnect,
                                        const char* lpszDirectory) {
  return SimpleCommand(impl_->GetConnection(hConnect), "CWD", lpszDirectory);
}

BOOL FtpClient::FtpGetCurrentDirectoryA(HINTERNET hConnect,
                                        char* lpszCurrentDirectory,
                                        DWORD* lpdwCurrentDirectory) {
  auto conn = impl_->GetConnection(hConnect);
  if (!conn) return Failure(ERROR_INVALID_HANDLE);
  if (lpszCurrentDirectory == nullptr || lpdwCurrentDirectory == nullptr)
    return Failure(ERROR_INVALID_PARAMETER);
  std::lock_guard<std::mutex> lock(conn->mu);
  if (conn->broken != 0) return Failure(conn->broken);
  Reply r;
  DWORD e = conn->Expect("PWD", 2, &r);
  if (e != 0) return Failure(e);
  std::optional<std::string> path;
  if (r.code == 257) path = ParseQuotedPath(r.text);
  // A reply without a well-formed quoted path is kept as the last response.
  if (!path) return Failure(ERROR_INTERNET_EXTENDED_ERROR);
  const std::string ansi = ToAnsi(*path);
  // A path that does not fit is never cut: the caller learns the size.
  if (ansi.size() + 1 > *lpdwCurrentDirectory) {
    *lpdwCurrentDirectory = static_cast<DWORD>(ansi.size() + 1);
    return Failure(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(lpszCurrentDirectory, ansi.data(), ansi.size());
  lpszCurrentDirectory[ansi.size()] = '\0';
  *lpdwCurrentDirectory = static_cast<DWORD>(ansi.size());
  return Succeed();
}

// Some servers list a missing directory as an empty one; changing into it
// tells the two apart, with the server's own reply. The current directory is
// restored afterwards. Returns 0 when `path` is a directory.
static DWORD ProbeDirectory(Connection& conn, const std::string& path) {
  Reply pwd;
  DWORD e = conn.Expect("PWD", 2, &pwd);
  if (e != 0) return e;
  std::optional<std::string> saved = ParseQuotedPath(pwd.text);
  Reply cwd;
  if ((e = conn.Command("CWD " + path, &cwd)) != 0) return e;
  if (cwd.kind() != 2) return ERROR_INTERNET_EXTENDED_ERROR;
  if (saved) return conn.Expect("CWD " + *saved, 2);
  return 0;
}

// Lists what a search string names into *result (names in the ANSI code
// page, each at most MAX_PATH - 1 bytes).
//  - "" lists the current directory;
//  - "*" or "?" in the last element: the parent's entries that match;
//  - another path: the entries of the directory it names, or the one entry
//    of the file it names.
BOOL FtpClient::Impl::Search(Connection& conn, const char* search,
                             WIN32_FIND_DATAA* data,
                             std::shared_ptr<inet::Search>* result) {
  std::optional<std::string> wire = WireText(search ? search : "");
  if (!wire) return Failure(ERROR_INVALID_NAME);
  const std::string path = *wire;
  const size_t slash = path.find_last_of('/');
  const std::string base =
      slash == std::string::npos ? path : path.substr(slash + 1);
  const std::string parent = slash == std::string::npos ? std::string()
                             : slash == 0               ? std::string("/")
                                                        : path.substr(0, slash);
  auto all = [](const ListEntry&) { return true; };
  EntryList entries;
  Reply last;
  DWORD e;

  if (HasWildcard(base)) {
    e = conn.List(parent, [&](const ListEntry& entry) {
      return MatchWildcard(base, entry.name);
    }, &entries, &last);
    if (e != 0) return Failure(e);
    if (entries.empty() && !parent.empty() &&
        (e = ProbeDirectory(conn, parent)) != 0)
      return Failure(e);
  } else {
    e = conn.List(path, all, &entries, &last);
    if (e != 0 && e != ERROR_INTERNET_EXTENDED_ERROR) return Failure(e);
    const bool maybe_file =
        !base.empty() &&
        (e != 0 || entries.empty() ||
         (entries.size() == 1 && !entries[0].is_directory &&
          (entries[0].name == base || entries[0].name == path)));
    if (maybe_file) {
      // The path may name a file (a server refuses to list it, or lists it
      // as its only entry), or nothing at all: look for it in its parent.
      const Reply refusal = last;
      const DWORD refused = e;
      EntryList in_parent;
      DWORD pe = conn.List(parent, [&](const ListEntry& entry) {
        return entry.name == base;
      }, &in_parent, &last);
      if (pe != 0 && pe != ERROR_INTERNET_EXTENDED_ERROR) return Failure(pe);
      const bool is_file =
          pe == 0 && !in_parent.empty() && !in_parent[0].is_directory;
      const bool is_dir =
          pe == 0 && !in_parent.empty() && in_parent[0].is_directory;
      if (is_file) {
        entries = EntryList();
        entries.Add(in_parent[0]);
      } else if (refused != 0) {
        SetLastResponse(static_cast<DWORD>(refusal.code), refusal.text);
        return Failure(ERROR_INTERNET_EXTENDED_ERROR);
      } else if (entries.empty() && !is_dir) {
        if ((e = ProbeDirectory(conn, path)) != 0) return Failure(e);
      }
    }
  }

  // The record holds MAX_PATH - 1 bytes and a NUL; a longer name is left out
  // rather than handed back cut, naming another file.
  const bool convert = !AnsiIsUtf8();
  bool too_long = false;
  for (size_t i = 0; i < entries.size() && !too_long; ++i)
    too_long = entries[i].name.size() >= static_cast<size_t>(MAX_PATH);
  auto found = std::make_shared<inet::Search>();
  if (convert || too_long) {
    for (size_t i = 0; i < entries.size(); ++i) {
      EntryList::Entry entry = entries[i];
      std::string ansi;
      if (convert) {
        ansi = ToAnsi(entry.name);
        entry.name = ansi;
      }
      if (entry.name.size() < static_cast<size_t>(MAX_PATH))
        found->entries.Add(entry);
    }
  } else {
    found->entries = std::move(entries);
  }
  if (found->entries.empty()) return Failure(ERROR_NO_MORE_FILES);
  FillFindData(found->entries[0], data);
  found->next = 1;
  *result = std::move(found);
  return Succeed();
}

HINTERNET FtpClient::FtpFindFirstFileA(HINTERNET hConnect,
                                       const char* lpszSearchFile,
                                       WIN32_FIND_DATAA* lpFindFileData,
                                       DWORD, DWORD_PTR) {
  auto conn = impl_->GetConnection(hConnect);
  if (!conn) return Failure(ERROR_INVALID_HANDLE);
  if (lpFindFileData == nullptr) return Failure(ERROR_INVALID_PARAMETER);
  std::shared_ptr<inet::Search> search;
  {
    std::lock_guard<std::mutex> lock(conn->mu);
    if (conn->broken != 0) return Failure(conn->broken);
    if (!impl_->Search(*conn, lpszSearchFile, lpFindFileData, &search))
      return 0;  // the last error is set
  }
  HINTERNET h = impl_->handles.Add(HandleKind::kSearch, hConnect, search);
  if (h == 0) return Failure(ERROR_INTERNET_OUT_OF_HANDLES);
  if (!impl_->handles.Find(hConnect, HandleKind::kConnection)) {
    impl_->handles.Remove(h);  // the connection was closed meanwhile
    return Failure(ERROR_INVALID_HANDLE);
  }
  SetLastError(ERROR_SUCCESS);
  return h;
}

BOOL FtpClient::InternetFindNextFileA(HINTERNET hFind,
                                      WIN32_FIND_DATAA* lpvFindData) {
  auto search = impl_->handles.Get<inet::Search>(hFind, HandleKind::kSearch);
  if (!search) return Failure(ERROR_INVALID_HANDLE);
  if (lpvFindData == nullptr) return Failure(ERROR_INVALID_PARAMETER);
  std::lock_guard<std::mutex> lock(impl_->mu);
  if (search->next >= search->entries.size())
    return Failure(ERROR_NO_MORE_FILES);
  FillFindData(search->entries[search->next++], lpvFindData);
  return Succeed();
}

// The reply text goes out in the ANSI code page. A buffer too small for it
// still receives as much as fits, NUL-terminated (never a partial character
// in UTF-8), and the call fails with ERROR_INSUFFICIENT_BUFFER with
// *lpdwBufferLength set to the size needed, NUL included: a caller that
// does not look at the result still shows the start of the text.
BOOL FtpClient::InternetGetLastResponseInfoA(DWORD* lpdwError,
                                             char* lpszBuffer,
                                             DWORD* lpdwBufferLength) {
  if (lpdwError == nullptr || lpdwBufferLength == nullptr)
    return Failure(ERROR_INVALID_PARAMETER);
  const LastResponse& response = ThreadLastResponse();
  const std::string text = ToAnsi(response.text);
  *lpdwError = response.code;
  const DWORD capacity = lpszBuffer == nullptr ? 0 : *lpdwBufferLength;
  if (text.size() + 1 <= capacity) {
    std::memcpy(lpszBuffer, text.data(), text.size());
    lpszBuffer[text.size()] = '\0';
    *lpdwBufferLength = static_cast<DWORD>(text.size());
    return Succeed();
  }
  if (capacity > 0) {
    size_t n = capacity - 1;
    if (AnsiCodeset() == "UTF-8") {
      while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    }
    std::memcpy(lpszBuffer, text.data(), n);
    lpszBuffer[n] = '\0';
  }
  *lpdwBufferLength = static_cast<DWORD>(text.size() + 1);
  return Failure(ERROR_INSUFFICIENT_BUFFER);
}

DWORD FtpClient::FormatMessageA(DWORD dwFlags, const void*, DWORD dwMessageId,
                                DWORD dwLanguageId, char* lpBuffer,
                                DWORD nSize, void*) {
  if ((dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || lpBuffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // Language: Japanese (0x11) or English (0x09) by primary language; the
  // neutral language (0) means the user's own.
  const DWORD primary = dwLanguageId & 0x3FF;
  const bool japanese =
      primary == 0x11 || (primary == 0 && UserLanguageIsJapanese());
  std::string_view utf8 = LookupMessage(dwMessageId, japanese);
  if (utf8.empty()) {
    SetLastError(317);  // ERROR_MR_MID_NOT_FOUND: no text for the code
    return 0;
  }
  std::string text(utf8);
  if ((dwFlags & FORMAT_MESSAGE_MAX_WIDTH_MASK) != 0) {
    // Line breaks of the message definition are not copied.
    std::string flat;
    for (char c : text) {
      if (c == '\r' || c == '\n') {
        if (!flat.empty() && flat.back() != ' ') flat.push_back(' ');
      } else {
        flat.push_back(c);
      }
    }
    while (!flat.empty() && flat.back() == ' ') flat.pop_back();
    text = std::move(flat);
  }
  text = ToAnsi(text);
  if (text.size() + 1 > nSize) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(lpBuffer, text.data(), text.size());
  lpBuffer[text.size()] = '\0';
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(text.size());
}

BOOL FtpClient::FileTimeToSystemTime(const FILETIME* lpFileTime,
                                     SYSTEMTIME* lpSystemTime) {
  if (lpFileTime == nullptr || lpSystemTime == nullptr ||
      !CivilFromFileTime(*lpFileTime, lpSystemTime))
    return Failure(ERROR_INVALID_PARAMETER);
  return Succeed();
}

DWORD FtpClient::GetLastError() { return LastError(); }

}  // namespace inet
