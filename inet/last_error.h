// The calling thread's last error and the last server reply it received.
// Every service call sets the last error (0 on success); every reply read on
// a control connection becomes the thread's last response.
#ifndef ZORVEX_INET_LAST_ERROR_H_
#define ZORVEX_INET_LAST_ERROR_H_

#include <string>

#include "inet/service.h"

namespace inet {

void SetLastError(DWORD error);
DWORD LastError();

struct LastResponse {
  DWORD code = 0;    // the reply's three-digit code, 0 when none yet
  std::string text;  // every line of the reply, CRLF-separated, no final CRLF
};

void SetLastResponse(DWORD code, std::string text);
const LastResponse& ThreadLastResponse();

}  // namespace inet

#endif  // ZORVEX_INET_LAST_ERROR_H_
