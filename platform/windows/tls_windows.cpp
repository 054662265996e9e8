// TLS on Windows: none. Debian ships no OpenSSL for MinGW, and the system's
// own TLS (SChannel) as Wine 8 provides it, where this build is tested,
// offers TLS 1.2 at most, never resumes a session and reports the peer's
// close_notify as data: the guarantees of platform/tls.h could not be shown.
// The client is refused before any traffic (error 50), so FTP over TLS
// fails to connect.
#include "platform/tls.h"

#include "platform/errors.h"

namespace platform {

uint32_t TlsClient::Create(const TlsOptions&, std::unique_ptr<TlsClient>* out) {
  out->reset();
  return ERROR_NOT_SUPPORTED;
}

}  // namespace platform
