// How a session protects its connections: plain FTP, or FTP over TLS with
// the TLS negotiated after the greeting (explicit, AUTH TLS) or started with
// the first byte (implicit, usually on port 990).
#ifndef ZORVEX_FTP_SECURITY_H_
#define ZORVEX_FTP_SECURITY_H_

#include <cstdint>

namespace zorvex {

enum class FtpSecurity : int32_t {
  kPlain = 0,
  kExplicitTls = 1,
  kImplicitTls = 2,
};

}  // namespace zorvex

#endif  // ZORVEX_FTP_SECURITY_H_
