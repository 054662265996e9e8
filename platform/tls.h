// TLS for FTP over TLS: one TlsClient per control connection verifies the
// server and layers secured streams over plain ones, the control
// connection's first and then each data connection's, which resume the
// control connection's TLS session (servers require that reuse).
//
// TLS 1.2 and 1.3 only. The server's certificate must be trusted and name
// the host: with a trust file, only the certificates in it are trusted
// (authorities that issued the server's chain, or the server's own
// certificate, which is then trusted as it stands); without one, the
// system's trust store.
//
// A secured stream's Read gives *got = 0 once the peer has ended the stream
// in order (close_notify); a stream that ends without it also gives 0, and
// EndedInOrder() then says false: the data may have been cut. Shutdown sends
// our close_notify and waits (bounded) for the peer's, so that the last
// bytes written are known to have arrived.
#ifndef ZORVEX_PLATFORM_TLS_H_
#define ZORVEX_PLATFORM_TLS_H_

#include <cstdint>
#include <memory>
#include <string>

#include "platform/stream.h"

namespace platform {

struct TlsOptions {
  // The host as the user gave it: a name (sent as SNI and matched against
  // the certificate's DNS names) or an IPv4 or IPv6 address (matched against
  // its IP addresses only).
  std::string host;
  // The trust file (PEM, path in the ANSI code page); empty: the system's
  // trust store.
  std::string trust_file;
};

class TlsClient {
 public:
  virtual ~TlsClient() = default;

  // Makes the client. Fails with 2 or 5 when the trust file cannot be read,
  // 12169 when it holds no certificate, 50 where the platform has no TLS.
  static uint32_t Create(const TlsOptions& options,
                         std::unique_ptr<TlsClient>* out);

  // Performs the handshake over `plain`, as the client, and verifies the
  // server within `timeout_ms`. `resume`: offer the session of the first
  // stream this client secured. On success *out is the secured stream, which
  // owns `plain`. Fails with 12002 (timeout), 12045 (an untrusted
  // authority), 12038 (a certificate for another name), 12037 (expired or
  // not yet valid), 12169 (another certificate fault), 12157 (no handshake:
  // the peer does not speak TLS, or no common protocol), or a network error.
  virtual uint32_t Secure(std::unique_ptr<Stream> plain, bool resume,
                          int timeout_ms, std::unique_ptr<Stream>* out) = 0;
};

}  // namespace platform

#endif  // ZORVEX_PLATFORM_TLS_H_
