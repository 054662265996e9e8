#include "inet/control_connection.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <utility>

#include "inet/errors.h"
#include "inet/last_error.h"
#include "platform/deadline.h"

namespace inet {
namespace {

// Preliminary (1xx) replies tolerated before the reply that ends a command.
constexpr int kMaxPreliminary = 16;
constexpr size_t kReadChunk = 4096;
// The bound of QUIT and its reply after the user's interruption.
constexpr int kQuitWhenInterruptedMs = 500;

// TCP keepalive of the control connection: the first probe after this long
// idle, then one every kKeepAliveIntervalS.
constexpr int kKeepAliveIdleS = 60;
constexpr int kKeepAliveIntervalS = 15;

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

ControlConnection::ControlConnection(platform::Env* env,
                                     const FtpClientOptions& options,
                                     bool passive, ConnectionSecurity security)
    : env_(env),
      options_(options),
      passive_(passive),
      security_(std::move(security)) {}

ControlConnection::~ControlConnection() = default;

void ControlConnection::Trace(std::string_view line) const {
  if (options_.trace) options_.trace(line);
}

void ControlConnection::TraceAddress(std::string_view what,
                                     const platform::Address& address) const {
  if (!options_.trace) return;
  std::string line(what);
  line += ' ';
  line += address.Host();
  line += " port ";
  line += std::to_string(address.port);
  Trace(line);
}

void ControlConnection::Abandon(DWORD error) {
  if (control_) control_->Close();
  if (broken_ == 0) broken_ = error;
}

void ControlConnection::Break(DWORD error) {
  // A wait the user interrupted leaves the connection open for Quit's
  // goodbye; everything else fails at once.
  if (error == ERROR_CANCELLED) {
    if (broken_ == 0) broken_ = ERROR_CANCELLED;
    return;
  }
  if (broken_ == 0)
    broken_ = error == ERROR_INTERNET_CONNECTION_RESET
                  ? ERROR_INTERNET_CONNECTION_RESET
                  : ERROR_INTERNET_CONNECTION_ABORTED;
  if (control_) control_->Close();
}

DWORD ControlConnection::Send(const std::string& command, int timeout_ms) {
  if (broken_ != 0) return broken_;
  if (!control_) return ERROR_INTERNET_CONNECTION_ABORTED;
  if (options_.trace)
    Trace("> " + (command.rfind("PASS ", 0) == 0 ? "PASS ****" : command));
  std::string line = command;
  line.append("\r\n");
  const DWORD e = control_->Write(line.data(), line.size(), timeout_ms);
  if (e != 0) Break(e);
  return e;
}

DWORD ControlConnection::ReadReply(Reply* reply, int timeout_ms) {
  if (broken_ != 0) return broken_;
  if (!control_) return ERROR_INTERNET_CONNECTION_ABORTED;
  // The whole reply must arrive within the timeout, so that a server that
  // trickles an endless reply cannot hold the call.
  const platform::Deadline deadline(timeout_ms);
  ReplyAssembler assembler;
  std::string_view line;
  for (;;) {
    switch (lines_.Next(&line)) {
      case LineSplitter::Status::kLine:
        switch (assembler.Add(line)) {
          case ReplyAssembler::Status::kDone:
            *reply = assembler.Take();
            SetLastResponse(static_cast<DWORD>(reply->code), reply->text);
            if (options_.trace) TraceReply(reply->text);
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
    const int left = deadline.LeftMs();
    if (left == 0) {
      Break(ERROR_INTERNET_TIMEOUT);
      return ERROR_INTERNET_TIMEOUT;
    }
    char buf[kReadChunk];
    size_t got = 0;
    DWORD e = control_->Read(buf, sizeof buf, left, &got);
    if (e == 0 && got == 0) e = ERROR_INTERNET_CONNECTION_ABORTED;
    if (e != 0) {
      Break(e);
      return e;
    }
    lines_.Append(std::string_view(buf, got));
  }
}

void ControlConnection::TraceReply(std::string_view text) const {
  for (size_t pos = 0; pos <= text.size();) {
    size_t end = text.find("\r\n", pos);
    if (end == std::string_view::npos) end = text.size();
    Trace("< " + std::string(text.substr(pos, end - pos)));
    pos = end + 2;
  }
}

DWORD ControlConnection::Command(const std::string& command, Reply* reply) {
  DWORD e = Send(command, options_.io_timeout_ms);
  if (e != 0) return e;
  for (int i = 0; i <= kMaxPreliminary; ++i) {
    e = ReadReply(reply, options_.io_timeout_ms);
    if (e == 0 && reply->code == 213 && command.rfind("SIZE ", 0) == 0)
      size_answered_ = true;
    if (e != 0 || reply->kind() != 1) return e;
  }
  return ERROR_INTERNET_EXTENDED_ERROR;
}

DWORD ControlConnection::Expect(const std::string& command, int kind,
                                Reply* reply) {
  Reply r;
  const DWORD e = Command(command, &r);
  if (e != 0) return e;
  if (reply != nullptr) *reply = r;
  return r.kind() == kind ? 0 : ERROR_INTERNET_EXTENDED_ERROR;
}

DWORD ControlConnection::StartTls() {
  const DWORD e = tls_->Secure(std::move(control_), /*resume=*/false,
                               options_.connect_timeout_ms, &control_);
  if (e != 0) Abandon(e);
  if (e == 0) Trace("TLS: control connection secured, server verified");
  return e;
}

DWORD ControlConnection::Open(const std::string& host, uint16_t port) {
  using Mode = ConnectionSecurity::Mode;
  DWORD e;
  if (security_.mode != Mode::kNone) {
    // Made first: a trust file that cannot be used, or no TLS on this
    // platform, fails before any traffic.
    platform::TlsOptions options;
    options.host = host;
    options.trust_file = security_.trust_file;
    if ((e = platform::TlsClient::Create(options, &tls_)) != 0) return e;
  }
  if (options_.trace)
    Trace("connecting to " + host + " port " + std::to_string(port));
  e = env_->Connect(host, port, options_.connect_timeout_ms, &control_);
  if (e != 0) return e;
  peer_ = control_->PeerAddress();
  local_ = control_->LocalAddress();
  TraceAddress("connected to", peer_);
  if (peer_.family == platform::Address::Family::kNone ||
      local_.family == platform::Address::Family::kNone)
    return ERROR_INTERNET_CONNECTION_ABORTED;
  // A system that cannot keep the connection alive still carries it.
  if (options_.keepalive &&
      control_->SetKeepAlive(kKeepAliveIdleS, kKeepAliveIntervalS) != 0)
    Trace("TCP keepalive could not be set on the control connection");
  if (security_.mode == Mode::kImplicit && (e = StartTls()) != 0) return e;
  Reply r;
  // A 120 ("service ready in a few minutes") may come before the 220.
  for (int i = 0;; ++i) {
    if ((e = ReadReply(&r, options_.connect_timeout_ms)) != 0) return e;
    if (r.kind() != 1) break;
    if (i == kMaxPreliminary) return ERROR_INTERNET_EXTENDED_ERROR;
  }
  if (r.kind() != 2) return ERROR_INTERNET_EXTENDED_ERROR;
  if (security_.mode != Mode::kExplicit) return 0;
  if ((e = Command("AUTH TLS", &r)) != 0) return e;
  if (r.code != 234) {
    Abandon(ERROR_INTERNET_EXTENDED_ERROR);
    return ERROR_INTERNET_EXTENDED_ERROR;
  }
  // Bytes that came in clear behind the 234 would pass for replies read
  // inside TLS: whoever sent them is not to be trusted.
  if (lines_.buffered() != 0) {
    Abandon(ERROR_INTERNET_SECURITY_CHANNEL_ERROR);
    return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
  }
  return StartTls();
}

DWORD ControlConnection::Login(const std::string& user,
                               const std::string& password) {
  Reply r;
  DWORD e = Command("USER " + user, &r);
  if (e != 0) return e;
  if (r.code == 331) {
    if ((e = Command("PASS " + password, &r)) != 0) return e;
  } else if (r.kind() != 2) {
    return ERROR_INTERNET_EXTENDED_ERROR;  // 332: no ACCT
  }
  if (r.kind() != 2) return ERROR_INTERNET_EXTENDED_ERROR;
  if (!tls_) return 0;
  // Data connections are protected as the control connection is.
  if ((e = Expect("PBSZ 0", 2)) != 0) return e;
  return Expect("PROT P", 2);
}

DWORD ControlConnection::Connect(const std::string& host, uint16_t port,
                                 const std::string& user,
                                 const std::string& password) {
  host_ = host;
  port_ = port;
  user_ = user;
  password_ = password;
  DWORD e = Open(host, port);
  if (e == 0) e = Login(user, password);
  return e;
}

DWORD ControlConnection::Reconnect() {
  if (control_) control_->Close();
  control_.reset();
  tls_.reset();
  broken_ = 0;
  lines_ = LineSplitter(kMaxReplyLine);
  type_ = 0;
  epsv_refused_ = eprt_refused_ = false;
  feat_done_ = size_answered_ = false;
  features_.clear();
  mlsd_refused = false;
  DWORD e = Open(host_, port_);
  if (e == 0) e = Login(user_, password_);
  return e;
}

std::unique_ptr<ControlConnection> ControlConnection::Sibling() const {
  auto sibling =
      std::make_unique<ControlConnection>(env_, options_, passive_, security_);
  sibling->host_ = host_;
  sibling->port_ = port_;
  sibling->user_ = user_;
  sibling->password_ = password_;
  return sibling;
}

void ControlConnection::Quit(bool keep_last_response) {
  if ((broken_ == 0 || broken_ == ERROR_CANCELLED) && control_) {
    // After the user's interruption the goodbye is still said, briefly: a
    // stalled server must not hold a run that is asked to stop.
    const bool interrupted = env_->Interrupted() != 0;
    const int timeout_ms =
        interrupted ? std::min(options_.quit_timeout_ms, kQuitWhenInterruptedMs)
                    : options_.quit_timeout_ms;
    if (interrupted) env_->AllowClosingWaits(true);
    broken_ = 0;
    const LastResponse saved = ThreadLastResponse();
    Reply r;
    if (Send("QUIT", timeout_ms) == 0 && ReadReply(&r, timeout_ms) == 0 &&
        tls_)
      control_->Shutdown(timeout_ms);  // close_notify
    if (keep_last_response) SetLastResponse(saved.code, saved.text);
    if (interrupted) env_->AllowClosingWaits(false);
  }
  if (control_) control_->Close();
  broken_ = ERROR_INVALID_HANDLE;
}

DWORD ControlConnection::SetType(char type) {
  if (type_ == type) return 0;
  const DWORD e = Expect(std::string("TYPE ") + type, 2);
  if (e == 0) type_ = type;
  return e;
}

bool ControlConnection::HasFeature(std::string_view feature) {
  if (!feat_done_) {
    feat_done_ = true;
    Reply r;
    if (Command("FEAT", &r) == 0 && r.kind() == 2) {
      size_t pos = 0;
      while (pos < r.text.size()) {
        size_t end = r.text.find("\r\n", pos);
        if (end == std::string::npos) end = r.text.size();
        const std::string_view line(r.text.data() + pos, end - pos);
        pos = end + 2;
        size_t i = 0;
        while (i < line.size() && line[i] == ' ') ++i;
        if (i == 0) continue;  // the first and last lines carry the code
        features_.push_back(Upper(line.substr(i, line.find(' ', i) - i)));
        size_t last = line.size();
        while (last > i && line[last - 1] == ' ') --last;
        features_.push_back(Upper(line.substr(i, last - i)));
      }
    }
  }
  for (const std::string& f : features_)
    if (f == feature) return true;
  return false;
}

}  // namespace inet
