// The secured stream: OpenSSL over the stream below it, through a BIO whose
// reads and writes are that stream's, with the caller's timeout.
#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <vector>

#include "platform/address.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/openssl/tls_openssl.h"

namespace platform {
namespace {

// The most a peer may send after our close_notify before giving up on its
// own.
constexpr size_t kMaxDrainAfterNotify = 1 << 20;
// The records one write makes are gathered into writes of up to this size to
// the stream below: fewer system calls for a large upload.
constexpr size_t kGatherWrites = 256 * 1024;
// A file is read for encryption in chunks of this size: the chunk, its
// records and the socket's copy of them stay in a core's cache. With 256 KiB
// chunks they do not, and an upload costs half as much CPU time again.
constexpr size_t kSendChunk = 64 * 1024;
// Decrypted records (16 KiB each) are gathered into writes of this size to
// the file: a sixteenth of the system calls, and a download about a sixth
// faster.
constexpr size_t kReceiveChunk = 256 * 1024;

uint32_t VerifyError(long result) {
  switch (result) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
    case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
      return ERROR_INTERNET_SEC_CERT_DATE_INVALID;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return ERROR_INTERNET_SEC_CERT_CN_INVALID;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED:
    case X509_V_ERR_INVALID_CA:
    case X509_V_ERR_PATH_LENGTH_EXCEEDED:
      return ERROR_INTERNET_INVALID_CA;
    default:
      return ERROR_INTERNET_SEC_INVALID_CERT;
  }
}

}  // namespace

TlsStream::TlsStream(std::unique_ptr<Stream> inner, OpenSslClient* client,
                     bool control)
    : inner_(std::move(inner)), client_(client), control_(control) {}

TlsStream::~TlsStream() {
  Close();
  if (ssl_ != nullptr) SSL_free(ssl_);
}

BIO_METHOD* TlsStream::Method() {
  static BIO_METHOD* const method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK,
                                 "zorvex stream");
    BIO_meth_set_write_ex(m, &TlsStream::BioWrite);
    BIO_meth_set_read_ex(m, &TlsStream::BioRead);
    BIO_meth_set_ctrl(m, &TlsStream::BioCtrl);
    BIO_meth_set_create(m, [](BIO* bio) {
      BIO_set_init(bio, 1);
      return 1;
    });
    return m;
  }();
  return method;
}

int TlsStream::WaitMs() const {
  if (!handshaking_) return timeout_ms_;
  return std::min(deadline_.LeftMs(), timeout_ms_);
}

bool TlsStream::Flush() {
  if (pending_.empty() || inner_error_ != 0) return inner_error_ == 0;
  inner_error_ = inner_->Write(pending_.data(), pending_.size(), WaitMs());
  pending_.clear();
  return inner_error_ == 0;
}

// The stream below blocks (bounded by the timeout), so the BIO never asks
// OpenSSL to retry: a failure of the stream below is final.
int TlsStream::BioWrite(BIO* bio, const char* data, size_t size,
                        size_t* done) {
  auto* self = static_cast<TlsStream*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  if (self->inner_error_ != 0) return 0;
  self->pending_.append(data, size);
  if (self->pending_.size() >= kGatherWrites && !self->Flush()) return 0;
  *done = size;
  return 1;
}

int TlsStream::BioRead(BIO* bio, char* buffer, size_t size, size_t* done) {
  auto* self = static_cast<TlsStream*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  // Never wait for an answer while our own bytes are held back.
  if (!self->Flush() || self->inner_ended_) return 0;
  size_t got = 0;
  if (const uint32_t e =
          self->inner_->Read(buffer, size, self->WaitMs(), &got)) {
    self->inner_error_ = e;
    return 0;
  }
  if (got == 0) {
    self->inner_ended_ = true;
    return 0;
  }
  *done = got;
  return 1;
}

long TlsStream::BioCtrl(BIO* bio, int cmd, long, void*) {
  auto* self = static_cast<TlsStream*>(BIO_get_data(bio));
  switch (cmd) {
    case BIO_CTRL_FLUSH:
      return self->Flush() ? 1 : 0;
    case BIO_CTRL_EOF:
      return self->inner_ended_ ? 1 : 0;
    default:
      return 0;
  }
}

TlsStream::Outcome TlsStream::Check(int r, bool handshake, uint32_t* error) {
  if (r > 0 && Flush()) return Outcome::kDone;
  const int ssl_error = SSL_get_error(ssl_, r);
  if (ssl_error == SSL_ERROR_ZERO_RETURN) {
    got_notify_ = true;
    return Outcome::kClosed;
  }
  failed_ = true;
  const unsigned long first = ERR_peek_error();
  ERR_clear_error();
  if (handshake) {
    const long verify = SSL_get_verify_result(ssl_);
    if (verify != X509_V_OK) {
      *error = VerifyError(verify);
      return Outcome::kFailed;
    }
  }
  if (inner_error_ != 0) {
    *error = inner_error_;
    return Outcome::kFailed;
  }
  const bool bare_end =
      inner_ended_ ||
      (ERR_GET_LIB(first) == ERR_LIB_SSL &&
       ERR_GET_REASON(first) == SSL_R_UNEXPECTED_EOF_WHILE_READING);
  if (bare_end && !handshake) {
    // The stream below ended without the peer's close_notify.
    ended_without_notify_ = true;
    return Outcome::kClosed;
  }
  *error = bare_end ? ERROR_INTERNET_CONNECTION_ABORTED
                    : ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
  return Outcome::kFailed;
}

uint32_t TlsStream::Handshake(const std::string& host, SSL_SESSION* resume,
                              int timeout_ms) {
  ssl_ = SSL_new(client_->ctx());
  if (ssl_ == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  SSL_set_ex_data(ssl_, TlsStreamIndex(), this);
  BIO* bio = BIO_new(Method());
  if (bio == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  BIO_set_data(bio, this);
  SSL_set_bio(ssl_, bio, bio);
  // An address is checked against the certificate's IP addresses only; a
  // name against its DNS names, and sent as the server's name (SNI), which
  // never carries an address.
  std::string bare = host.substr(0, host.find('%'));
  X509_VERIFY_PARAM* param = SSL_get0_param(ssl_);
  if (Address::Parse(bare)) {
    X509_VERIFY_PARAM_set1_ip_asc(param, bare.c_str());
  } else {
    X509_VERIFY_PARAM_set_hostflags(param,
                                    X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    X509_VERIFY_PARAM_set1_host(param, bare.c_str(), 0);
    SSL_set_tlsext_host_name(ssl_, bare.c_str());
  }
  if (resume != nullptr) SSL_set_session(ssl_, resume);
  // The handshake as a whole is bounded: a peer that sends a byte now and
  // then cannot hold it open.
  timeout_ms_ = timeout_ms;
  deadline_ = Deadline(timeout_ms);
  handshaking_ = true;
  ERR_clear_error();
  uint32_t error = 0;
  const Outcome outcome = Check(SSL_connect(ssl_), true, &error);
  handshaking_ = false;
  if (outcome == Outcome::kDone) return 0;
  failed_ = true;
  return outcome == Outcome::kFailed ? error
                                     : ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
}

uint32_t TlsStream::Read(char* buffer, size_t size, int timeout_ms,
                         size_t* got) {
  *got = 0;
  if (got_notify_ || ended_without_notify_) return 0;
  if (failed_) return ERROR_INTERNET_CONNECTION_ABORTED;
  timeout_ms_ = timeout_ms;
  size_t n = 0;
  uint32_t error = 0;
  ERR_clear_error();
  switch (Check(SSL_read_ex(ssl_, buffer, size, &n), false, &error)) {
    case Outcome::kDone:
      *got = n;
      return 0;
    case Outcome::kClosed:
      return 0;
    case Outcome::kFailed:
      return error;
  }
  return error;
}

uint32_t TlsStream::Write(const char* data, size_t size, int timeout_ms) {
  if (failed_ || shut_) return ERROR_INTERNET_CONNECTION_ABORTED;
  timeout_ms_ = timeout_ms;
  while (size > 0) {
    size_t n = 0;
    uint32_t error = 0;
    ERR_clear_error();
    const Outcome outcome =
        Check(SSL_write_ex(ssl_, data, size, &n), false, &error);
    if (outcome == Outcome::kFailed) return error;
    if (outcome == Outcome::kClosed) return ERROR_INTERNET_CONNECTION_ABORTED;
    data += n;
    size -= n;
  }
  return 0;
}

// Sends close_notify, ends the stream below, then reads until the peer's
// close_notify or the end of the stream. Reading before closing matters:
// bytes left unread (TLS 1.3 tickets on an upload's data connection) make
// the close a reset, and a reset can make the server drop the end of an
// upload it has not read yet.
uint32_t TlsStream::Shutdown(int timeout_ms) {
  if (shut_) return 0;
  shut_ = true;
  // A peer that ended the stream without its closing message is gone: there
  // is nothing to close in order (EndedInOrder() tells the caller).
  if (ended_without_notify_) {
    inner_->Shutdown(timeout_ms);
    return 0;
  }
  if (failed_) return ERROR_INTERNET_CONNECTION_ABORTED;
  const Deadline deadline(timeout_ms);
  timeout_ms_ = timeout_ms;
  ERR_clear_error();
  const int r = SSL_shutdown(ssl_);
  if (!Flush()) return inner_error_;
  if (r < 0) {
    uint32_t error = 0;
    if (Check(r, false, &error) == Outcome::kFailed) return error;
  }
  inner_->Shutdown(timeout_ms);
  char scratch[16 * 1024];
  for (size_t drained = 0; !got_notify_ && !ended_without_notify_;) {
    const int left = deadline.LeftMs();
    if (left == 0) return ERROR_INTERNET_TIMEOUT;
    size_t n = 0;
    if (const uint32_t e = Read(scratch, sizeof scratch, left, &n)) return e;
    drained += n;
    if (drained > kMaxDrainAfterNotify) return ERROR_INTERNET_CONNECTION_ABORTED;
  }
  return 0;
}

uint32_t TlsStream::SendFile(File& file, int timeout_ms) {
  std::vector<char> buf(kSendChunk);
  for (;;) {
    size_t got = 0;
    if (const uint32_t e = file.Read(buf.data(), buf.size(), &got)) return e;
    if (got == 0) return 0;
    if (const uint32_t e = Write(buf.data(), got, timeout_ms)) return e;
  }
}

// What arrived before a failure is still written, as the plain loop does.
uint32_t TlsStream::ReceiveFile(File& file, int timeout_ms,
                                uint64_t* received) {
  std::vector<char> buf(kReceiveChunk);
  for (;;) {
    size_t filled = 0;
    size_t got = 1;
    uint32_t error = 0;
    while (filled < buf.size() && got != 0 && error == 0) {
      error = Read(buf.data() + filled, buf.size() - filled, timeout_ms, &got);
      filled += got;
    }
    *received += filled;
    if (filled > 0)
      if (const uint32_t e = file.Write(buf.data(), filled)) return e;
    if (error != 0 || got == 0) return error;
  }
}

void TlsStream::Close() {
  if (inner_) inner_->Close();
  failed_ = true;
}

}  // namespace platform
