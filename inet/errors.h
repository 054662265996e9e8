// The error numbers that the service sets as the thread's last error, in the
// service's namespace: ERROR_FILE_NOT_FOUND, ERROR_INTERNET_TIMEOUT, ... and
// IsInternetError (platform/errors.h lists them all).
#ifndef ZORVEX_INET_ERRORS_H_
#define ZORVEX_INET_ERRORS_H_

#include "inet/service.h"
#include "platform/errors.h"

namespace inet {
using namespace platform::errors;
}  // namespace inet

#endif  // ZORVEX_INET_ERRORS_H_
