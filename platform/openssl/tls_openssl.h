// TLS with OpenSSL: the client (its SSL_CTX, what it trusts, the sessions
// that data connections resume) and the secured stream, which reaches the
// stream below it through a BIO of its own, so that TLS layers over any
// platform::Stream.
#ifndef ZORVEX_PLATFORM_OPENSSL_TLS_OPENSSL_H_
#define ZORVEX_PLATFORM_OPENSSL_TLS_OPENSSL_H_

#include <openssl/ssl.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/deadline.h"
#include "platform/stream.h"
#include "platform/tls.h"

namespace platform {

class OpenSslClient;

// The index under which an SSL carries its TlsStream.
int TlsStreamIndex();

class TlsStream : public Stream {
 public:
  TlsStream(std::unique_ptr<Stream> inner, OpenSslClient* client,
            bool control);
  ~TlsStream() override;
  TlsStream(const TlsStream&) = delete;
  TlsStream& operator=(const TlsStream&) = delete;

  // The client side of the handshake, checking the certificate against
  // `host`; offers `resume` (may be null). 0 or an error number.
  uint32_t Handshake(const std::string& host, SSL_SESSION* resume,
                     int timeout_ms);

  uint32_t Read(char* buffer, size_t size, int timeout_ms,
                size_t* got) override;
  uint32_t Write(const char* data, size_t size, int timeout_ms) override;
  uint32_t Shutdown(int timeout_ms) override;
  void Close() override;
  Address PeerAddress() const override { return inner_->PeerAddress(); }
  Address LocalAddress() const override { return inner_->LocalAddress(); }
  uint32_t SetKeepAlive(int idle_s, int interval_s) override {
    return inner_->SetKeepAlive(idle_s, interval_s);
  }
  bool EndedInOrder() const override { return !ended_without_notify_; }
  // A file's bytes pass through the program to be encrypted or decrypted;
  // these move them in the sizes that cost the least.
  uint32_t SendFile(File& file, int timeout_ms) override;
  uint32_t ReceiveFile(File& file, int timeout_ms, uint64_t* received) override;

  bool control() const { return control_; }
  OpenSslClient* client() const { return client_; }

 private:
  // Result of one OpenSSL call: done, the peer's close_notify, or an error.
  enum class Outcome { kDone, kClosed, kFailed };

  static BIO_METHOD* Method();
  static int BioWrite(BIO* bio, const char* data, size_t size, size_t* done);
  static int BioRead(BIO* bio, char* buffer, size_t size, size_t* done);
  static long BioCtrl(BIO* bio, int cmd, long num, void* ptr);
  // The wait allowed to the stream below for the current call.
  int WaitMs() const;
  // Sends what the BIO has gathered; false when the stream below failed.
  bool Flush();
  // Runs one OpenSSL call whose result `r` (> 0 for success) is mapped;
  // on kFailed, *error says why.
  Outcome Check(int r, bool handshake, uint32_t* error);

  std::unique_ptr<Stream> inner_;
  OpenSslClient* client_;
  bool control_;
  SSL* ssl_ = nullptr;
  int timeout_ms_ = 0;
  Deadline deadline_;  // a handshake's, as a whole
  bool handshaking_ = false;
  uint32_t inner_error_ = 0;  // the stream below failed
  bool inner_ended_ = false;  // the stream below ended
  bool failed_ = false;       // no further TLS on this stream
  bool got_notify_ = false;   // the peer's close_notify arrived
  bool ended_without_notify_ = false;
  bool shut_ = false;
  // Records written by OpenSSL, gathered into larger writes to the stream
  // below; sent before any read and at the end of every Write.
  std::string pending_;
};

class OpenSslClient : public TlsClient {
 public:
  ~OpenSslClient() override;
  static uint32_t Make(const TlsOptions& options,
                       std::unique_ptr<OpenSslClient>* out);

  uint32_t Secure(std::unique_ptr<Stream> plain, bool resume, int timeout_ms,
                  std::unique_ptr<Stream>* out) override;

  SSL_CTX* ctx() const { return ctx_; }
  // True when `leaf` is one of the trust file's certificates, byte for byte.
  bool IsPinned(X509* leaf) const;

 private:
  OpenSslClient() = default;
  static int OnNewSession(SSL* ssl, SSL_SESSION* session);
  static int Verify(X509_STORE_CTX* store, void* arg);
  uint32_t Trust(const std::string& trust_file);
  // The session a data connection offers, with a reference for the caller;
  // null when there is none.
  SSL_SESSION* TakeSession();

  TlsOptions options_;
  SSL_CTX* ctx_ = nullptr;
  std::vector<std::vector<unsigned char>> pins_;  // DER of the trust file's
  std::vector<SSL_SESSION*> sessions_;            // newest last
};

}  // namespace platform

#endif  // ZORVEX_PLATFORM_OPENSSL_TLS_OPENSSL_H_
